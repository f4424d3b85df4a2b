// "滚轮": amount and position of a scroll step.
#pragma once

#include "ui/StepEditor.h"

namespace tapforge::ui {

class NumberField;
class PointFields;

class ScrollEditor : public StepEditor {
    Q_OBJECT
public:
    ScrollEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent = nullptr);
    void refresh(const Step& step) override;

private:
    NumberField* amount_;
    PointFields* point_;
};

}  // namespace tapforge::ui
