// "延迟": the delay in milliseconds and five presets.
#pragma once

#include "ui/StepEditor.h"

namespace tapforge::ui {

class NumberField;

class DelayEditor : public StepEditor {
    Q_OBJECT
public:
    DelayEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent = nullptr);
    void refresh(const Step& step) override;

private:
    NumberField* delay_;
};

}  // namespace tapforge::ui
