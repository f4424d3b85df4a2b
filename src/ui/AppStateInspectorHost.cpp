#include "ui/AppStateInspectorHost.h"

#include "ui/StepInspector.h"

namespace tapforge::ui {

StepInspector* createStepInspector(app::AppState& state, std::shared_ptr<app::Pickers> pickers, QWidget* parent) {
    auto host = std::make_unique<AppStateInspectorHost>(state, std::move(pickers));
    AppStateInspectorHost* hostView = host.get();
    auto* inspector = new StepInspector(std::move(host), parent);
    // The inspector is the connections' context: they end with it (and with its host).
    QObject::connect(&state, &app::AppState::scriptChanged, inspector, [inspector] { inspector->refresh(); });
    QObject::connect(&state, &app::AppState::selectedStepIDChanged, inspector,
                     [inspector, &state] { inspector->setStepID(state.selectedStepID()); });
    QObject::connect(&state, &app::AppState::checkTested, inspector,
                     [inspector, hostView](const Uuid& stepID, const app::CheckOutcome& outcome) {
                         hostView->recordOutcome(stepID, outcome);
                         inspector->refresh();
                     });
    inspector->setStepID(state.selectedStepID());
    return inspector;
}

AppStateInspectorHost::AppStateInspectorHost(app::AppState& state, std::shared_ptr<app::Pickers> pickers)
    : state_(state), pickers_(std::move(pickers)) {}

void AppStateInspectorHost::pickAnyPoint(std::function<void(platform::Point)> done) {
    if (!pickers_) return;
    pickers_->pickPoint([done = std::move(done)](std::optional<platform::Point> point) {
        if (point) done(*point);
    });
}

}  // namespace tapforge::ui
