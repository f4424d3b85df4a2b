// "等待方式": whether a check waits, its time-out and poll interval.
#pragma once

#include "ui/StepEditor.h"

class QCheckBox;
class QWidget;

namespace tapforge::ui {

class NumberField;

class ConditionEditor : public StepEditor {
    Q_OBJECT
public:
    ConditionEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent = nullptr);
    void refresh(const Step& step) override;

private:
    QCheckBox* wait_;
    QWidget* waitFields_;
    NumberField* timeout_;
    NumberField* poll_;
};

}  // namespace tapforge::ui
