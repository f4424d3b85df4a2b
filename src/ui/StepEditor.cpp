#include "ui/StepEditor.h"

#include <QVBoxLayout>

#include "ui/PointFields.h"

namespace tapforge::ui {

StepEditor::StepEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent)
    : QWidget(parent), host_(host), stepID_(stepID), column_(new QVBoxLayout(this)) {
    column_->setContentsMargins(0, 0, 0, 0);
}

void StepEditor::edit(const std::string& mergeKey, const std::function<void(Step&)>& change) {
    Step step = host_.readStep(stepID_);
    if (step.id != stepID_) return;   // the step is gone: edits are dropped
    const Step before = step;
    change(step);
    // The step's id keeps typing in the same field of two steps apart.
    if (step != before) host_.writeStep(step, mergeKey.empty() ? mergeKey : stepID_.string() + "." + mergeKey);
}

void StepEditor::bindStepPoint(PointFields* point) {
    connect(point, &PointFields::hasPointToggled, this, [this](bool on) { edit({}, [on](Step& s) { s.hasPoint = on; }); });
    connect(point, &PointFields::xEdited, this, [this](double x) { edit("x", [x](Step& s) { s.x = x; }); });
    connect(point, &PointFields::yEdited, this, [this](double y) { edit("y", [y](Step& s) { s.y = y; }); });
    connect(point, &PointFields::pickRequested, this, [this] { host_.pickPoint(stepID_); });
}

}  // namespace tapforge::ui
