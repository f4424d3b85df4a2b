// "按键": key, modifiers and key event kind of a key step.
#pragma once

#include "ui/StepEditor.h"

namespace tapforge::ui {

class KeyMenu;
class ModifierEditor;
class SegmentedPicker;

class KeyPressEditor : public StepEditor {
    Q_OBJECT
public:
    KeyPressEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent = nullptr);
    void refresh(const Step& step) override;

private:
    KeyMenu* key_;
    ModifierEditor* modifiers_;
    SegmentedPicker* kind_;
};

}  // namespace tapforge::ui
