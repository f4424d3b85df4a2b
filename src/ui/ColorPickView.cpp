#include "ui/ColorPickView.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "ui/OverlayContext.h"
#include "ui/OverlayWindow.h"

namespace tapforge::ui {

namespace {
constexpr qint64 kSampleIntervalMs = 50;
QColor qColor(const vision::Rgb& c) { return QColor(c.red, c.green, c.blue); }
}  // namespace

ColorPickView::ColorPickView(OverlayWindow& window) : OverlayView(window, 0.25) {}

QString ColorPickView::labelText(const vision::Rgb& color, platform::Point global) {
    return QString::asprintf("#%02X%02X%02X  (%d, %d)", color.red, color.green, color.blue,
                             static_cast<int>(global.x), static_cast<int>(global.y));
}

void ColorPickView::sample() {
    sinceSample_.start();
    currentColor_ = overlay().context().sampleColor(globalAt(*cursorPoint_), overlay().frame().get());
}

void ColorPickView::mouseMoveEvent(QMouseEvent* event) {
    cursorPoint_ = event->position();
    if (!sinceSample_.isValid() || sinceSample_.elapsed() >= kSampleIntervalMs) sample();
    update();
}

void ColorPickView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    cursorPoint_ = event->position();
    sample();
    if (!currentColor_) return;   // a click whose sample failed adds nothing
    const platform::Point global = globalAt(*cursorPoint_);
    ColorPoint point;
    point.x = global.x;
    point.y = global.y;
    point.red = currentColor_->red;
    point.green = currentColor_->green;
    point.blue = currentColor_->blue;
    if (onPick) onPick(point);
    update();
}

void ColorPickView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && onFinish) onFinish();
}

void ColorPickView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    paintBackdrop(painter, event->rect());
    painter.setRenderHint(QPainter::Antialiasing);

    QFont bold = painter.font();
    bold.setPixelSize(11);
    bold.setBold(true);
    painter.setFont(bold);
    int number = 0;
    for (const ColorPoint& p : pickedPoints) {
        const QPointF at = localAt({p.x, p.y});
        painter.setPen(QPen(Qt::white, 2));
        painter.setBrush(QColor(int(p.red), int(p.green), int(p.blue)));
        painter.drawEllipse(at, 7, 7);
        painter.drawText(at + QPointF(10, -6), QString::number(++number));
    }

    if (!cursorPoint_) return drawHint(painter, QStringLiteral("移动鼠标查看颜色，点击拾取，Esc 完成"));
    const QPointF at = *cursorPoint_;
    painter.setPen(QPen(Qt::white, 1));
    painter.drawLine(at - QPointF(14, 0), at + QPointF(14, 0));
    painter.drawLine(at - QPointF(0, 14), at + QPointF(0, 14));
    if (!currentColor_) return;

    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(12);
    font.setWeight(QFont::Medium);
    painter.setFont(font);
    const QString text = labelText(*currentColor_, globalAt(at));
    const QSizeF size = painter.fontMetrics().size(Qt::TextSingleLine, text);
    const QRectF box = labelBox(at, QSizeF(size.width() + 36, size.height() + 12), 20, 4, 18);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.8));
    painter.drawRoundedRect(box, 6, 6);
    painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.6), 1));
    painter.setBrush(qColor(*currentColor_));
    painter.drawRect(QRectF(box.left() + 6, box.top() + 6, 20, size.height()));
    painter.setPen(Qt::white);
    painter.drawText(QRectF(box.left() + 32, box.top() + 6, size.width(), size.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, text);
}

}  // namespace tapforge::ui
