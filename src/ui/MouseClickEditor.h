// "位置" and "点击方式" of a mouse click step.
#pragma once

#include "ui/StepEditor.h"

namespace tapforge::ui {

class PointFields;
class SegmentedPicker;

class MouseClickEditor : public StepEditor {
    Q_OBJECT
public:
    MouseClickEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent = nullptr);
    void refresh(const Step& step) override;

private:
    PointFields* point_;
    SegmentedPicker* button_;
    SegmentedPicker* kind_;
};

}  // namespace tapforge::ui
