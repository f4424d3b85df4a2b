#include "ui/BranchEditor.h"

#include "ui/InspectorLayout.h"

namespace tapforge::ui {

BranchEditor::BranchEditor(InspectorHost& host, const Uuid& stepID, BranchRow::RegionClick regionClick, QWidget* parent)
    : StepEditor(host, stepID, parent) {
    QVBoxLayout* box = sectionLayout(addSection(column(), QStringLiteral("执行分支")));
    success_ = new BranchRow(host, stepID, QStringLiteral("条件成立时"), BranchRow::Branch::success, regionClick);
    failure_ = new BranchRow(host, stepID, QStringLiteral("条件不成立时"), BranchRow::Branch::failure, regionClick);
    box->addWidget(success_);
    box->addWidget(failure_);
    box->addWidget(hintLabel(regionClick == BranchRow::RegionClick::allowed
                                 ? QStringLiteral("分支除了继续/跳转/停止，也可以先执行一次鼠标点击、点击识别范围区域或键盘按键，再决定后续去向。")
                                 : QStringLiteral("分支除了继续/跳转/停止，也可以先执行一次鼠标点击或键盘按键，再决定后续去向。")));
}

void BranchEditor::refresh(const Step& step) {
    success_->refresh(step);
    failure_->refresh(step);
}

}  // namespace tapforge::ui
