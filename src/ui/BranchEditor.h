// "执行分支": the success and failure branches of a condition step, and the hint that says what
// a branch may do (with or without a click on the recognised area).
#pragma once

#include "ui/BranchRow.h"
#include "ui/StepEditor.h"

namespace tapforge::ui {

class BranchEditor : public StepEditor {
    Q_OBJECT
public:
    BranchEditor(InspectorHost& host, const Uuid& stepID, BranchRow::RegionClick regionClick, QWidget* parent = nullptr);
    void refresh(const Step& step) override;

    BranchRow* successRow() const { return success_; }
    BranchRow* failureRow() const { return failure_; }

private:
    BranchRow* success_;
    BranchRow* failure_;
};

}  // namespace tapforge::ui
