// Small building blocks shared by the window's panels and sheets.
#pragma once

#include <QFont>
#include <QPixmap>
#include <QString>

class QLabel;
class QWidget;
class QToolButton;

namespace tapforge::ui {

enum class LabelTone { normal, secondary, orange, green, red };

// A label at `points` size, relative to 13-point body text (0: the body size), with a weight and a colour.
QLabel* makeLabel(const QString& text, double points = 0, QFont::Weight weight = QFont::Normal,
                  LabelTone tone = LabelTone::normal);
void setTone(QLabel* label, LabelTone tone);
// A centred icon, a line and a secondary line, for an empty list.
QWidget* makeEmptyState(const char* symbol, int iconPoints, const QString& title, const QString& detail);
// A flat button with an icon and optional text and help.
QToolButton* makeToolButton(const char* symbol, const QString& text, const QString& help = {});
// `pixmap`'s shape filled with `colour`.
QPixmap tinted(const QPixmap& pixmap, const QColor& colour);

}  // namespace tapforge::ui
