#include "ui/PointPickController.h"

#include <utility>

#include "ui/PointPickView.h"

namespace tapforge::ui {

void PointPickController::start(std::function<void(std::optional<platform::Point>)> completion) {
    // As in the region picker: new window first (shared frame), old completion last.
    auto window = std::make_unique<OverlayWindow>(context_);
    auto cancelled = std::exchange(completion_, std::move(completion));
    closeOverlay(window_);
    window_ = std::move(window);
    auto* view = new PointPickView(*window_);
    view->onPick = [this](std::optional<platform::Point> point) { finish(point); };
    window_->present(view);
    if (cancelled) cancelled(std::nullopt);
}

void PointPickController::finish(std::optional<platform::Point> point) {
    auto completion = std::exchange(completion_, nullptr);
    closeOverlay(window_);
    if (completion) completion(point);
}

}  // namespace tapforge::ui
