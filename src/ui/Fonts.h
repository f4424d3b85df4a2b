// Every label of the window is Chinese. On a fresh machine the default UI font may have no
// Chinese glyphs; this picks an installed CJK family for the application when it has none.
// Main thread, after the QApplication exists.
#pragma once

#include <QFont>
#include <QString>

namespace tapforge::ui {

// Makes the application font draw Chinese. Answers the family in use, or an empty string when
// no installed font covers Chinese (labels would show empty boxes: install fonts-noto-cjk).
QString ensureChineseFont();

// True when `font`'s family draws every character of `text` itself.
bool fontCovers(const QFont& font, const QString& text);

}  // namespace tapforge::ui
