// The icons of the window, named as the script model and the layout name them (symbol names
// such as "record.circle"). Each maps to a freedesktop icon-theme name, so the desktop's theme
// draws it; where the theme lacks it (a bare system), a glyph painted by us stands in.
// Main thread only (builds pixmaps).
#pragma once

#include <QIcon>
#include <QString>

#include <string_view>
#include <vector>

namespace tapforge::ui {

struct IconEntry {
    std::string_view symbol;      // the layout's name
    const char* themeName;        // name in the freedesktop icon theme
    const char* glyph;            // UTF-8 text painted when the theme has no such icon
};

// Every symbol the window uses, in one table.
const std::vector<IconEntry>& iconTable();

enum class IconSource { theme, fallbackOnly };

// The icon for `symbol`; an unknown symbol aborts in debug builds and gets a dot otherwise.
// `fallbackOnly` skips the theme (tests check the bare-system drawing with it).
QIcon icon(std::string_view symbol, IconSource source = IconSource::theme);

// Picks a theme when the platform named none, so theme lookups have somewhere to look.
void setUpIconTheme();

}  // namespace tapforge::ui
