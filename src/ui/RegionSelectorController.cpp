#include "ui/RegionSelectorController.h"

#include <utility>

#include "ui/RegionSelectView.h"

namespace tapforge::ui {

void RegionSelectorController::start(std::function<void(std::optional<app::RegionPick>)> completion) {
    // The new window takes its share of the frame before the old one lets go, so both show the
    // same frame and the old window is never in it.
    auto window = std::make_unique<OverlayWindow>(context_);
    auto cancelled = std::exchange(completion_, std::move(completion));
    closeOverlay(window_);
    window_ = std::move(window);
    auto* view = new RegionSelectView(*window_);
    view->onFinish = [this](std::optional<platform::Rect> rect) { finish(rect); };
    window_->present(view);
    // Last, so that a caller starting yet another pick from here replaces this one cleanly.
    if (cancelled) cancelled(std::nullopt);
}

void RegionSelectorController::finish(std::optional<platform::Rect> rect) {
    auto completion = std::exchange(completion_, nullptr);
    std::optional<app::RegionPick> pick;
    if (rect && window_) pick = app::RegionPick{*rect, window_->frame()};
    closeOverlay(window_);
    if (completion) completion(pick);
}

}  // namespace tapforge::ui
