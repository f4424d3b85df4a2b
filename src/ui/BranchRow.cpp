#include "ui/BranchRow.h"

#include <algorithm>

#include <QComboBox>
#include <QSignalBlocker>

#include "input/keymap/KeyMap.h"
#include "ui/EnumChoices.h"
#include "ui/InspectorLayout.h"
#include "ui/KeyMenu.h"
#include "ui/ModifierEditor.h"
#include "ui/PointFields.h"
#include "ui/SegmentedPicker.h"
#include "ui/StepPicker.h"

namespace tapforge::ui {

namespace {

BranchTarget& branchOf(Step& step, BranchRow::Branch branch) {
    return branch == BranchRow::Branch::success ? step.onSuccess : step.onFailure;
}

QWidget* stack(std::initializer_list<QWidget*> widgets) {
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget* w : widgets) layout->addWidget(w);
    return box;
}

}  // namespace

BranchRow::BranchRow(InspectorHost& host, const Uuid& stepID, const QString& title, Branch branch,
                     RegionClick regionClick, QWidget* parent)
    : StepEditor(host, stepID, parent), branch_(branch) {
    kind_ = new QComboBox;
    for (const BranchKind kind : allCases<BranchKind>()) {
        if (kind == BranchKind::clickRegion && regionClick == RegionClick::notAllowed) continue;
        kinds_.push_back(kind);
        kind_->addItem(labelsOf<BranchKind>()[indexOf(kind)]);
    }
    jumpTarget_ = new StepPicker(QStringLiteral("目标步骤"));

    clickPoint_ = new PointFields(QStringLiteral("使用屏幕坐标（关闭则在鼠标当前位置点击）"), QStringLiteral("屏幕取点"), {}, {});
    clickPoint_->setFieldsTitle(QStringLiteral("坐标"));
    clickBox_ = clickPoint_;
    regionHint_ = hintLabel(QStringLiteral("无需设置坐标：运行时在图像识别到的区域内随机取一个点点击。"));
    clickButton_ = new SegmentedPicker(QStringLiteral("按键"), labelsOf<MouseButton>());
    clickCount_ = new SegmentedPicker(QStringLiteral("次数"), {QStringLiteral("单击"), QStringLiteral("双击")});
    buttonsBox_ = stack({clickButton_, clickCount_});

    key_ = new KeyMenu;
    keyModifiers_ = new ModifierEditor;
    keyBox_ = stack({rowOf({new QLabel(QStringLiteral("按键")), key_, nullptr}), keyModifiers_});

    after_ = new QComboBox;
    after_->addItems(labelsOf<AfterAction>());
    afterTarget_ = new StepPicker(QStringLiteral("后续目标步骤"));
    afterBox_ = stack({rowOf({new QLabel(QStringLiteral("动作执行后")), after_, nullptr}), afterTarget_});

    QVBoxLayout* layout = StepEditor::column();
    layout->addWidget(rowOf({new QLabel(title), kind_, nullptr}));
    for (QWidget* w : {static_cast<QWidget*>(jumpTarget_), clickBox_, static_cast<QWidget*>(regionHint_), buttonsBox_, keyBox_, afterBox_})
        layout->addWidget(w);

    // activated and the other user-only signals: showing a step never writes to it.
    connect(kind_, &QComboBox::activated, this, [this](int i) {
        if (i >= 0 && i < static_cast<int>(kinds_.size())) {
            const BranchKind kind = kinds_[i];
            editBranch({}, [kind](BranchTarget& b) { b.kind = kind; });
        }
    });
    connect(jumpTarget_, &StepPicker::picked, this, [this](std::optional<Uuid> id) {
        editBranch({}, [id](BranchTarget& b) { b.targetStepID = id; });
    });
    connect(clickPoint_, &PointFields::hasPointToggled, this, [this](bool on) {
        editBranch({}, [on](BranchTarget& b) { b.clickHasPoint = on; });
    });
    connect(clickPoint_, &PointFields::xEdited, this, [this](double x) { editBranch("clickX", [x](BranchTarget& b) { b.clickX = x; }); });
    connect(clickPoint_, &PointFields::yEdited, this, [this](double y) { editBranch("clickY", [y](BranchTarget& b) { b.clickY = y; }); });
    connect(clickPoint_, &PointFields::pickRequested, this, [this] {
        // Written through the host, not this row: the row may be gone when the pick ends.
        InspectorHost* host = &host_;
        host_.pickAnyPoint([host, id = stepID_, branch = branch_](platform::Point p) {
            Step step = host->readStep(id);
            if (step.id != id) return;
            BranchTarget& b = branchOf(step, branch);
            b.clickX = p.x;
            b.clickY = p.y;
            b.clickHasPoint = true;
            host->writeStep(step, {});
        });
    });
    connect(clickButton_, &SegmentedPicker::picked, this, [this](int i) {
        editBranch({}, [i](BranchTarget& b) { b.clickButton = allCases<MouseButton>()[i]; });
    });
    connect(clickCount_, &SegmentedPicker::picked, this, [this](int i) {
        editBranch({}, [i](BranchTarget& b) { b.clickCount = i + 1; });
    });
    connect(key_, &KeyMenu::chosen, this, [this](std::optional<uint16_t> code) {
        editBranch({}, [code](BranchTarget& b) { b.keyCode = code; });
    });
    connect(keyModifiers_, &ModifierEditor::memberToggled, this, [this](ModifierSet member, bool on) {
        editBranch({}, [member, on](BranchTarget& b) { on ? b.keyModifiers.insert(member) : b.keyModifiers.remove(member); });
    });
    connect(after_, &QComboBox::activated, this, [this](int i) {
        if (i >= 0) editBranch({}, [i](BranchTarget& b) { b.afterAction = allCases<AfterAction>()[i]; });
    });
    connect(afterTarget_, &StepPicker::picked, this, [this](std::optional<Uuid> id) {
        editBranch({}, [id](BranchTarget& b) { b.afterStepID = id; });
    });
}

void BranchRow::editBranch(const std::string& field, const std::function<void(BranchTarget&)>& change) {
    const std::string prefix = branch_ == Branch::success ? "onSuccess." : "onFailure.";
    edit(field.empty() ? field : prefix + field, [&](Step& s) { change(branchOf(s, branch_)); });
}

void BranchRow::refresh(const Step& step) {
    const BranchTarget& b = branch_ == Branch::success ? step.onSuccess : step.onFailure;
    const std::vector<Step>& steps = host_.script().steps;
    {
        const QSignalBlocker blocker(kind_);
        const auto it = std::find(kinds_.begin(), kinds_.end(), b.kind);
        kind_->setCurrentIndex(it == kinds_.end() ? -1 : static_cast<int>(it - kinds_.begin()));
    }
    jumpTarget_->setVisible(b.kind == BranchKind::jump);
    if (b.kind == BranchKind::jump) jumpTarget_->setSteps(steps, b.targetStepID);

    clickBox_->setVisible(b.kind == BranchKind::click);
    clickPoint_->setPoint(b.clickHasPoint, b.clickX, b.clickY);
    regionHint_->setVisible(b.kind == BranchKind::clickRegion);
    buttonsBox_->setVisible(b.kind == BranchKind::click || b.kind == BranchKind::clickRegion);
    clickButton_->setCurrent(indexOf(b.clickButton));
    clickCount_->setCurrent(b.clickCount < 2 ? 0 : 1);

    keyBox_->setVisible(b.kind == BranchKind::key);
    key_->setLabel(b.keyCode ? qs(b.keyModifiers.symbols() + KeyMap::name(*b.keyCode)) : QString());
    keyModifiers_->setModifiers(b.keyModifiers);

    afterBox_->setVisible(isAction(b.kind));
    {
        const QSignalBlocker blocker(after_);
        after_->setCurrentIndex(indexOf(b.afterAction));
    }
    const bool afterJump = isAction(b.kind) && b.afterAction == AfterAction::jump;
    afterTarget_->setVisible(afterJump);
    if (afterJump) afterTarget_->setSteps(steps, b.afterStepID);
}

}  // namespace tapforge::ui
