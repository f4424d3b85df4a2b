#include "ui/ColorPickController.h"

#include <utility>

#include "ui/ColorPickView.h"

namespace tapforge::ui {

void ColorPickController::start(std::vector<ColorPoint> existing, std::function<void(const ColorPoint&)> onPick,
                                std::function<void()> onFinish) {
    auto window = std::make_unique<OverlayWindow>(context_);   // shares the frame of an open one
    closeOverlay(window_);
    window_ = std::move(window);
    onPick_ = std::move(onPick);
    onFinish_ = std::move(onFinish);
    pickedPoints_ = std::move(existing);
    view_ = new ColorPickView(*window_);
    view_->pickedPoints = pickedPoints_;
    view_->onPick = [this](const ColorPoint& point) { picked(point); };
    view_->onFinish = [this] { finish(); };
    window_->present(view_);
}

void ColorPickController::picked(const ColorPoint& point) {
    pickedPoints_.push_back(point);
    view_->pickedPoints = pickedPoints_;
    if (auto callback = onPick_) callback(point);   // a copy: the callback may start a new pick
}

void ColorPickController::finish() {
    auto callback = std::exchange(onFinish_, nullptr);
    onPick_ = nullptr;
    view_ = nullptr;
    closeOverlay(window_);
    if (callback) callback();
}

}  // namespace tapforge::ui
