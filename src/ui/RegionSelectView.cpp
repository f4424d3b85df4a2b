#include "ui/RegionSelectView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <utility>

namespace tapforge::ui {

namespace {
const QColor kSelectionBlue(0, 122, 255);
}

RegionSelectView::RegionSelectView(OverlayWindow& window) : OverlayView(window, 0.45) {}

QRectF RegionSelectView::selection() const {
    if (!anchor_ || !current_) return {};
    return QRectF(*anchor_, *current_).normalized();
}

void RegionSelectView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    anchor_ = current_ = event->position();
    update();
}

void RegionSelectView::mouseMoveEvent(QMouseEvent* event) {
    if (!anchor_ || !(event->buttons() & Qt::LeftButton)) return;
    current_ = event->position();
    update();
}

void RegionSelectView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    current_ = event->position();
    const QRectF picked = selection();
    if (!anchor_ || picked.width() <= 3.0 || picked.height() <= 3.0) return finish(std::nullopt);
    const platform::Point topLeft = globalAt(picked.topLeft());
    finish(platform::Rect{topLeft.x, topLeft.y, picked.width(), picked.height()});
}

void RegionSelectView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) finish(std::nullopt);
}

void RegionSelectView::finish(std::optional<platform::Rect> result) {
    if (auto callback = std::exchange(onFinish, nullptr)) callback(result);
}

void RegionSelectView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    paintBackdrop(painter, event->rect());
    const QRectF picked = selection();
    if (picked.width() > 1.0 && picked.height() > 1.0) {
        paintClearFrame(painter, picked);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(kSelectionBlue, 1.5));
        painter.drawRect(picked);

        QFont font = painter.font();
        font.setPixelSize(12);
        font.setWeight(QFont::Medium);
        painter.setFont(font);
        const QString size = QString::asprintf("%.0f × %.0f", picked.width(), picked.height());
        const QSizeF text = painter.fontMetrics().size(Qt::TextSingleLine, size);
        const QSizeF box(text.width() + 12, text.height() + 4);
        const QRectF label(QPointF(picked.left(), std::max(0.0, picked.top() - box.height() - 8)), box);
        QColor fill = kSelectionBlue;
        fill.setAlphaF(0.9);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(label, 4, 4);
        painter.setPen(Qt::white);
        painter.drawText(label.adjusted(6, 2, -6, -2), Qt::AlignLeft | Qt::AlignVCenter, size);
    }
    drawHint(painter, QStringLiteral("拖动鼠标框选要截取的区域，Esc 取消"));
}

}  // namespace tapforge::ui
