// What the three picker views share: the frozen frame dimmed behind their drawing, the hint
// line, label placement, and the conversion of their coordinates to global points. A view is
// the one child of its OverlayWindow and fills it. Main thread only.
#pragma once

#include <QImage>
#include <QWidget>

#include "platform/Geometry.h"

namespace tapforge::ui {

class OverlayWindow;

class OverlayView : public QWidget {
public:
    // `dim`: the opacity of the black laid over the frame.
    OverlayView(OverlayWindow& window, double dim);

protected:
    OverlayWindow& overlay() const { return window_; }
    platform::Point globalAt(QPointF local) const;
    QPointF localAt(platform::Point global) const;

    // The dimmed frame over `area` (black where the frame has no pixels).
    void paintBackdrop(QPainter& painter, const QRect& area) const;
    // The frame without dimming, clipped to `area` (the region selection stays clear).
    void paintClearFrame(QPainter& painter, const QRectF& area) const;
    // The white hint 80 points below the top of every monitor, centred on it.
    void drawHint(QPainter& painter, const QString& text) const;
    // A label box of `size` placed `offset` right of and above `at`. Where it would leave the
    // view it ends `flipLeft` left of `at` instead, or starts `flipBelow` below it.
    QRectF labelBox(QPointF at, QSizeF size, double offset, double flipLeft, double flipBelow) const;

private:
    OverlayWindow& window_;
    QImage dimmed_;
};

}  // namespace tapforge::ui
