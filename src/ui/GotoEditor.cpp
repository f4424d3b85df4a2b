#include "ui/GotoEditor.h"

#include "ui/InspectorLayout.h"
#include "ui/StepPicker.h"

namespace tapforge::ui {

GotoEditor::GotoEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent) : StepEditor(host, stepID, parent) {
    QVBoxLayout* box = sectionLayout(addSection(column(), QStringLiteral("跳转到步骤")));
    target_ = new StepPicker(QStringLiteral("目标步骤"));
    box->addWidget(target_);
    box->addWidget(hintLabel(QStringLiteral("执行到本步骤时无条件跳到目标步骤（可用来做循环）。")));
    connect(target_, &StepPicker::picked, this, [this](std::optional<Uuid> target) {
        edit({}, [target](Step& s) { s.gotoStepID = target; });
    });
}

void GotoEditor::refresh(const Step& step) {
    target_->setSteps(host_.script().steps, step.gotoStepID);
}

}  // namespace tapforge::ui
