// The point picker: one overlay at a time; starting again cancels the pending one. The
// completion receives the clicked point in global points, or nothing when the user cancelled;
// the overlay window is gone before it runs. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/Geometry.h"
#include "ui/OverlayWindow.h"

namespace tapforge::ui {

class PointPickController {
public:
    explicit PointPickController(OverlayContext& context) : context_(context) {}
    ~PointPickController() { closeOverlay(window_); }

    void start(std::function<void(std::optional<platform::Point>)> completion);

private:
    void finish(std::optional<platform::Point> point);

    OverlayContext& context_;
    std::unique_ptr<OverlayWindow> window_;
    std::function<void(std::optional<platform::Point>)> completion_;
};

}  // namespace tapforge::ui
