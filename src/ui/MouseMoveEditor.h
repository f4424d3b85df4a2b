// "移动到": target point and duration of a mouse move step.
#pragma once

#include "ui/StepEditor.h"

namespace tapforge::ui {

class NumberField;
class PointFields;

class MouseMoveEditor : public StepEditor {
    Q_OBJECT
public:
    MouseMoveEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent = nullptr);
    void refresh(const Step& step) override;

private:
    PointFields* point_;
    NumberField* duration_;
};

}  // namespace tapforge::ui
