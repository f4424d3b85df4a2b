#include "ui/PointPickView.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <utility>

namespace tapforge::ui {

namespace {
const QColor kYellow(255, 204, 0);
}

PointPickView::PointPickView(OverlayWindow& window) : OverlayView(window, 0.18) {}

void PointPickView::mouseMoveEvent(QMouseEvent* event) {
    cursorPoint_ = event->position();
    update();
}

void PointPickView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) pick(globalAt(event->position()));
}

void PointPickView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) pick(std::nullopt);
}

void PointPickView::pick(std::optional<platform::Point> point) {
    if (auto callback = std::exchange(onPick, nullptr)) callback(point);
}

void PointPickView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    paintBackdrop(painter, event->rect());
    if (!cursorPoint_) return drawHint(painter, QStringLiteral("移动鼠标到目标位置后点击左键即可记录坐标，Esc 取消"));

    const QPointF at = *cursorPoint_;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kYellow, 1.5));
    painter.drawLine(at - QPointF(18, 0), at + QPointF(18, 0));
    painter.drawLine(at - QPointF(0, 18), at + QPointF(0, 18));
    painter.drawEllipse(at, 4, 4);

    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(12);
    font.setWeight(QFont::Medium);
    painter.setFont(font);
    const platform::Point global = globalAt(at);
    const QString text = QString::asprintf("%.0f, %.0f", global.x, global.y);
    const QSizeF size = painter.fontMetrics().size(Qt::TextSingleLine, text);
    const QRectF box = labelBox(at, QSizeF(size.width() + 16, size.height() + 12), 22, 22, 22);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kYellow);
    painter.drawRoundedRect(box, 5, 5);
    painter.setPen(Qt::black);
    painter.drawText(box.adjusted(8, 6, -8, -6), Qt::AlignLeft | Qt::AlignVCenter, text);
}

}  // namespace tapforge::ui
