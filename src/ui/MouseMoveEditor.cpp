#include "ui/MouseMoveEditor.h"

#include "ui/EditorLimits.h"
#include "ui/InspectorLayout.h"
#include "ui/NumberField.h"
#include "ui/PointFields.h"

namespace tapforge::ui {

MouseMoveEditor::MouseMoveEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent)
    : StepEditor(host, stepID, parent) {
    QVBoxLayout* box = sectionLayout(addSection(column(), QStringLiteral("移动到")));
    point_ = new PointFields(QStringLiteral("使用屏幕坐标"), QStringLiteral("拾取坐标"), QStringLiteral("点击后在屏幕上点一下目标位置即可记录该坐标，Esc 取消。"),
                             QStringLiteral("不指定坐标时，不产生移动。"));
    duration_ = NumberField::integer(0, kInt64Max);
    box->addWidget(point_);
    bindStepPoint(point_);
    box->addWidget(rowOf({new QLabel(QStringLiteral("移动耗时(ms)")), duration_, nullptr}));
    box->addWidget(hintLabel(QStringLiteral("ms（0 表示瞬间移动）")));

    connect(duration_, &NumberField::integerEdited, this, [this](qint64 ms) {
        edit("moveDurationMs", [ms](Step& s) { s.moveDurationMs = ms; });
    });
}

void MouseMoveEditor::refresh(const Step& step) {
    point_->setPoint(step.hasPoint, step.x, step.y);
    duration_->setInteger(step.moveDurationMs);
}

}  // namespace tapforge::ui
