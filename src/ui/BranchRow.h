// One branch of a condition step ("条件成立时" or "条件不成立时"): the kind picker (seven kinds,
// or six without "点击识别范围"), then what the chosen kind needs: a jump target; a click with
// its point, button and count; a key with modifiers; and for actions, where to go afterwards.
#pragma once

#include <vector>

#include "ui/StepEditor.h"

class QComboBox;
class QLabel;

namespace tapforge::ui {

class KeyMenu;
class ModifierEditor;
class PointFields;
class SegmentedPicker;
class StepPicker;

class BranchRow : public StepEditor {
    Q_OBJECT
public:
    enum class Branch { success, failure };
    enum class RegionClick { allowed, notAllowed };

    BranchRow(InspectorHost& host, const Uuid& stepID, const QString& title, Branch branch, RegionClick regionClick,
              QWidget* parent = nullptr);
    void refresh(const Step& step) override;

    QComboBox* kindPicker() const { return kind_; }

private:
    void editBranch(const std::string& field, const std::function<void(BranchTarget&)>& change);

    Branch branch_;
    std::vector<BranchKind> kinds_;   // the picker's entries
    QComboBox* kind_;
    StepPicker* jumpTarget_;
    QWidget* clickBox_;
    PointFields* clickPoint_;
    QLabel* regionHint_;
    QWidget* buttonsBox_;
    SegmentedPicker* clickButton_;
    SegmentedPicker* clickCount_;
    QWidget* keyBox_;
    KeyMenu* key_;
    ModifierEditor* keyModifiers_;
    QWidget* afterBox_;
    QComboBox* after_;
    StepPicker* afterTarget_;
};

}  // namespace tapforge::ui
