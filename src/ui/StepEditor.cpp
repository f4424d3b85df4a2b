#include "ui/StepEditor.h"

#include <QVBoxLayout>

namespace tapforge::ui {

StepEditor::StepEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent)
    : QWidget(parent), host_(host), stepID_(stepID), column_(new QVBoxLayout(this)) {
    column_->setContentsMargins(0, 0, 0, 0);
}

void StepEditor::edit(const std::string& field, const std::function<void(Step&)>& change) {
    Step step = host_.readStep(stepID_);
    if (step.id != stepID_) return;   // the step is gone: edits are dropped
    const Step before = step;
    change(step);
    if (step != before) host_.writeStep(step, field);
}

}  // namespace tapforge::ui
