// The colour picker's view: the colour under the pointer (3 x 3 point average of the frozen
// frame, sampled at most every 50 ms while moving), numbered markers of the points picked so
// far; each left click picks a colour point, Escape finishes.
#pragma once

#include <QElapsedTimer>
#include <functional>
#include <optional>
#include <vector>

#include "model/ColorPoint.h"
#include "ui/OverlayView.h"
#include "vision/PixelBuffer.h"

namespace tapforge::ui {

class ColorPickView : public OverlayView {
public:
    explicit ColorPickView(OverlayWindow& window);

    std::vector<ColorPoint> pickedPoints;   // drawn as markers
    std::function<void(const ColorPoint&)> onPick;
    std::function<void()> onFinish;

    // "#RRGGBB  (x, y)": the label under the pointer, coordinates truncated.
    static QString labelText(const vision::Rgb& color, platform::Point global);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void sample();

    std::optional<QPointF> cursorPoint_;
    std::optional<vision::Rgb> currentColor_;
    QElapsedTimer sinceSample_;
};

}  // namespace tapforge::ui
