// The inspector's host over the application state: reads and writes go through AppState's step
// binding (autosave, one undo step per edit, typing in one field merged), operations are
// AppState's own, and a branch's screen point is picked with the window system's point picker.
//
// Threads: main thread only.
#pragma once

#include <memory>

#include <QWidget>

#include "app/AppState.h"
#include "app/CheckOutcome.h"
#include "ui/InspectorHost.h"

namespace tapforge::ui {

class StepInspector;

// The main window's inspector: shows AppState's selected step, follows every change of the
// document and the outcome of each check test.
StepInspector* createStepInspector(app::AppState& state, std::shared_ptr<app::Pickers> pickers,
                                   QWidget* parent = nullptr);

class AppStateInspectorHost : public InspectorHost {
public:
    // `pickers` may be null (no overlays): picking a branch point then does nothing.
    AppStateInspectorHost(app::AppState& state, std::shared_ptr<app::Pickers> pickers);

    Step readStep(const Uuid& id) const override { return state_.step(id); }
    void writeStep(const Step& step, const std::string& mergeKey) override { state_.writeStep(step.id, step, mergeKey); }
    const Script& script() const override { return state_.script(); }

    void pickPoint(const Uuid& stepID) override { state_.pickPoint(stepID); }
    void pickAnyPoint(std::function<void(platform::Point)> done) override;
    void pickColors(const Uuid& stepID) override { state_.pickColors(stepID); }
    void captureTemplate(const Uuid& stepID) override { state_.captureTemplate(stepID); }
    void testStep(const Uuid& stepID) override { state_.testStep(stepID); }
    void testLuaStep(const Uuid& stepID) override { state_.testLuaStep(stepID); }
    void chooseLuaFile(const Uuid& stepID) override { state_.chooseLuaFile(stepID); }
    void createLuaSample(const Uuid& stepID) override { state_.createLuaSample(stepID); }
    void openLuaFile(const std::string& path) override { state_.openLuaFile(path); }
    void revealLuaFile(const std::string& path) override { state_.revealLuaFile(path); }
    std::string luaFileInfo(const std::string& path) override { return state_.luaFileInfo(path); }
    std::optional<std::string> luaFilePreview(const std::string& path, int maxLines) override {
        return state_.luaFilePreview(path, maxLines);
    }
    const app::CheckOutcome* lastCheckOutcome(const Uuid& stepID) const override { return outcomes_.find(stepID); }
    void recordOutcome(const Uuid& stepID, const app::CheckOutcome& outcome) { outcomes_.record(stepID, outcome); }

private:
    app::AppState& state_;
    std::shared_ptr<app::Pickers> pickers_;
    app::CheckOutcomes outcomes_;
};

}  // namespace tapforge::ui
