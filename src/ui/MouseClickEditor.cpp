#include "ui/MouseClickEditor.h"

#include "ui/EnumChoices.h"
#include "ui/InspectorLayout.h"
#include "ui/PointFields.h"
#include "ui/SegmentedPicker.h"

namespace tapforge::ui {

MouseClickEditor::MouseClickEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent)
    : StepEditor(host, stepID, parent) {
    QVBoxLayout* where = sectionLayout(addSection(column(), QStringLiteral("位置")));
    point_ = new PointFields(QStringLiteral("使用屏幕坐标"), QStringLiteral("拾取坐标"), QStringLiteral("点击后在屏幕上点一下目标位置即可记录该坐标，Esc 取消。"),
                             QStringLiteral("不指定坐标时，在鼠标当前位置点击。"));
    where->addWidget(point_);
    bindStepPoint(point_);

    QVBoxLayout* how = sectionLayout(addSection(column(), QStringLiteral("点击方式")));
    button_ = new SegmentedPicker(QStringLiteral("按键"), labelsOf<MouseButton>());
    kind_ = new SegmentedPicker(QStringLiteral("动作"), labelsOf<ClickKind>());
    how->addWidget(button_);
    how->addWidget(kind_);

    connect(button_, &SegmentedPicker::picked, this, [this](int i) {
        edit({}, [i](Step& s) { s.mouseButton = allCases<MouseButton>()[i]; });
    });
    connect(kind_, &SegmentedPicker::picked, this, [this](int i) {
        edit({}, [i](Step& s) { s.clickKind = allCases<ClickKind>()[i]; });
    });
}

void MouseClickEditor::refresh(const Step& step) {
    point_->setPoint(step.hasPoint, step.x, step.y);
    button_->setCurrent(indexOf(step.mouseButton));
    kind_->setCurrent(indexOf(step.clickKind));
}

}  // namespace tapforge::ui
