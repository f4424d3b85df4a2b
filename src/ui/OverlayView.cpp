#include "ui/OverlayView.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "ui/OverlayWindow.h"

namespace tapforge::ui {

OverlayView::OverlayView(OverlayWindow& window, double dim) : QWidget(&window), window_(window) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Dimmed once: repaints while the pointer moves only copy it.
    dimmed_ = QImage(window.size(), QImage::Format_RGB32);
    dimmed_.fill(Qt::black);
    QPainter painter(&dimmed_);
    if (!window.frameImage().isNull()) painter.drawImage(window.frameRect(), window.frameImage());
    painter.fillRect(dimmed_.rect(), QColor::fromRgbF(0, 0, 0, dim));
}

platform::Point OverlayView::globalAt(QPointF local) const { return window_.globalFromLocal(local); }

QPointF OverlayView::localAt(platform::Point global) const { return window_.localFromGlobal(global); }

void OverlayView::paintBackdrop(QPainter& painter, const QRect& area) const {
    painter.drawImage(area, dimmed_, area);
}

void OverlayView::paintClearFrame(QPainter& painter, const QRectF& area) const {
    const QImage& frame = window_.frameImage();
    if (frame.isNull()) return;
    const QRectF target = area.intersected(window_.frameRect());
    if (target.isEmpty()) return;
    const double scale = frame.width() / window_.frameRect().width();
    const QRectF source = target.translated(-window_.frameRect().topLeft());
    painter.drawImage(target, frame,
                      QRectF(source.topLeft() * scale, source.size() * scale));
}

void OverlayView::drawHint(QPainter& painter, const QString& text) const {
    QFont font = painter.font();
    font.setPixelSize(18);
    font.setWeight(QFont::DemiBold);
    painter.setFont(font);
    painter.setPen(Qt::white);
    const QPointF origin = mapFromGlobal(QPoint(0, 0));
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRectF monitor = QRectF(screen->geometry()).translated(origin);
        painter.drawText(QRectF(monitor.left(), monitor.top() + 80, monitor.width(), 40),
                         Qt::AlignHCenter | Qt::AlignTop, text);
    }
}

QRectF OverlayView::labelBox(QPointF at, QSizeF size, double offset, double flipLeft, double flipBelow) const {
    double x = at.x() + offset, y = at.y() - offset - size.height();
    if (x + size.width() > width()) x = at.x() - flipLeft - size.width();
    if (y < 0) y = at.y() + flipBelow;
    return {QPointF(x, y), size};
}

}  // namespace tapforge::ui
