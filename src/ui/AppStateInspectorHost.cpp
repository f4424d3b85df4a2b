#include "ui/AppStateInspectorHost.h"

namespace tapforge::ui {

AppStateInspectorHost::AppStateInspectorHost(app::AppState& state, std::shared_ptr<app::Pickers> pickers)
    : state_(state), pickers_(std::move(pickers)) {}

void AppStateInspectorHost::pickAnyPoint(std::function<void(platform::Point)> done) {
    if (!pickers_) return;
    pickers_->pickPoint([done = std::move(done)](std::optional<platform::Point> point) {
        if (point) done(*point);
    });
}

void AppStateInspectorHost::testStep(const Uuid& stepID) {
    state_.testStep(stepID);
}

}  // namespace tapforge::ui
