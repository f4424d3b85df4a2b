// The colour picker: any number of clicks, each reported through `onPick` with a new colour
// point (its marker stays drawn); Escape closes the overlay and then calls `onFinish` once.
// Starting again drops the previous callbacks without calling them. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "model/ColorPoint.h"
#include "ui/OverlayWindow.h"

namespace tapforge::ui {

class ColorPickView;

class ColorPickController {
public:
    explicit ColorPickController(OverlayContext& context) : context_(context) {}
    ~ColorPickController() { closeOverlay(window_); }

    // `existing` are drawn as numbered markers before the new points.
    void start(std::vector<ColorPoint> existing, std::function<void(const ColorPoint&)> onPick,
               std::function<void()> onFinish);

private:
    void picked(const ColorPoint& point);
    void finish();

    OverlayContext& context_;
    std::unique_ptr<OverlayWindow> window_;
    ColorPickView* view_ = nullptr;
    std::function<void(const ColorPoint&)> onPick_;
    std::function<void()> onFinish_;
    std::vector<ColorPoint> pickedPoints_;
};

}  // namespace tapforge::ui
