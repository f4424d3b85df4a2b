// The point picker's view: a crosshair with the global coordinates under the pointer; a left
// click picks that point, Escape picks nothing. Reports once through `onPick`.
#pragma once

#include <functional>
#include <optional>

#include "ui/OverlayView.h"

namespace tapforge::ui {

class PointPickView : public OverlayView {
public:
    explicit PointPickView(OverlayWindow& window);

    std::function<void(std::optional<platform::Point>)> onPick;   // global points

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void pick(std::optional<platform::Point> point);

    std::optional<QPointF> cursorPoint_;
};

}  // namespace tapforge::ui
