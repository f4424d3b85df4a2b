// "跳转到步骤": the target of a goto step.
#pragma once

#include "ui/StepEditor.h"

namespace tapforge::ui {

class StepPicker;

class GotoEditor : public StepEditor {
    Q_OBJECT
public:
    GotoEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent = nullptr);
    void refresh(const Step& step) override;

private:
    StepPicker* target_;
};

}  // namespace tapforge::ui
