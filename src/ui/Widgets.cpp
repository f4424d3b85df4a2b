#include "ui/Widgets.h"

#include <QLabel>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/Icons.h"

namespace tapforge::ui {

QLabel* makeLabel(const QString& text, double points, QFont::Weight weight, LabelTone tone) {
    auto* label = new QLabel(text);
    QFont font = label->font();
    // Sizes are given against a 13-point body text; this desktop's body size may differ.
    if (points > 0) font.setPointSizeF(font.pointSizeF() * points / 13.0);
    font.setWeight(weight);
    label->setFont(font);
    setTone(label, tone);
    return label;
}

void setTone(QLabel* label, LabelTone tone) {
    QPalette pal = label->palette();
    QColor colour;
    switch (tone) {
    case LabelTone::normal: colour = QPalette().color(QPalette::WindowText); break;
    case LabelTone::secondary: colour = QPalette().color(QPalette::PlaceholderText); break;
    case LabelTone::orange: colour = QColor(230, 126, 0); break;
    case LabelTone::green: colour = QColor(40, 160, 70); break;
    case LabelTone::red: colour = QColor(215, 45, 45); break;
    }
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
}

QWidget* makeEmptyState(const char* symbol, int iconPoints, const QString& title, const QString& detail) {
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->addStretch();
    auto* image = new QLabel;
    image->setPixmap(tinted(icon(symbol).pixmap(iconPoints + 8), QPalette().color(QPalette::PlaceholderText)));
    image->setAlignment(Qt::AlignCenter);
    layout->addWidget(image);
    auto* head = makeLabel(title);
    head->setAlignment(Qt::AlignCenter);
    layout->addWidget(head);
    auto* sub = makeLabel(detail, 11, QFont::Normal, LabelTone::secondary);
    sub->setAlignment(Qt::AlignCenter);
    sub->setWordWrap(true);
    layout->addWidget(sub);
    layout->addStretch();
    return box;
}

QToolButton* makeToolButton(const char* symbol, const QString& text, const QString& help) {
    auto* button = new QToolButton;
    button->setIcon(icon(symbol));
    button->setText(text);
    button->setToolButtonStyle(text.isEmpty() ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    if (!help.isEmpty()) button->setToolTip(help);
    return button;
}

QPixmap tinted(const QPixmap& pixmap, const QColor& colour) {
    QPixmap out(pixmap.size());
    out.setDevicePixelRatio(pixmap.devicePixelRatio());
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.drawPixmap(0, 0, pixmap);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(out.rect(), colour);
    return out;
}

}  // namespace tapforge::ui
