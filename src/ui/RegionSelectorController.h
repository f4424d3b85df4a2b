// The region picker: one overlay at a time; starting again cancels the pending one. The
// completion receives the selection with the frozen frame it was made on, or nothing when the
// user cancelled; the overlay window is gone before it runs. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "app/UiServices.h"
#include "ui/OverlayWindow.h"

namespace tapforge::ui {

class RegionSelectorController {
public:
    explicit RegionSelectorController(OverlayContext& context) : context_(context) {}
    ~RegionSelectorController() { closeOverlay(window_); }

    void start(std::function<void(std::optional<app::RegionPick>)> completion);

private:
    void finish(std::optional<platform::Rect> rect);

    OverlayContext& context_;
    std::unique_ptr<OverlayWindow> window_;
    std::function<void(std::optional<app::RegionPick>)> completion_;
};

}  // namespace tapforge::ui
