// The region picker's view: drag out a rectangle; Escape, a click or a drag of 3 points or less
// in either direction selects nothing. Reports once through `onFinish`.
#pragma once

#include <functional>
#include <optional>

#include "ui/OverlayView.h"

namespace tapforge::ui {

class RegionSelectView : public OverlayView {
public:
    explicit RegionSelectView(OverlayWindow& window);

    // The selection in global points, or nothing.
    std::function<void(std::optional<platform::Rect>)> onFinish;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QRectF selection() const;
    void finish(std::optional<platform::Rect> result);

    std::optional<QPointF> anchor_;
    std::optional<QPointF> current_;
};

}  // namespace tapforge::ui
