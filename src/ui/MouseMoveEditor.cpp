#include "ui/MouseMoveEditor.h"

#include <QCheckBox>
#include <QSignalBlocker>

#include "ui/EditorLimits.h"
#include "ui/InspectorLayout.h"
#include "ui/NumberField.h"
#include "ui/PointFields.h"

namespace tapforge::ui {

MouseMoveEditor::MouseMoveEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent)
    : StepEditor(host, stepID, parent) {
    QVBoxLayout* box = sectionLayout(addSection(column(), QStringLiteral("移动到")));
    usePoint_ = new QCheckBox(QStringLiteral("使用屏幕坐标"));
    point_ = new PointFields(QStringLiteral("拾取坐标"), QStringLiteral("点击后在屏幕上点一下目标位置即可记录该坐标，Esc 取消。"));
    currentHint_ = hintLabel(QStringLiteral("不指定坐标时，不产生移动。"));
    duration_ = NumberField::integer(0, kInt64Max);
    box->addWidget(usePoint_);
    box->addWidget(point_);
    box->addWidget(currentHint_);
    box->addWidget(rowOf({new QLabel(QStringLiteral("移动耗时(ms)")), duration_, nullptr}));
    box->addWidget(hintLabel(QStringLiteral("ms（0 表示瞬间移动）")));

    connect(usePoint_, &QCheckBox::clicked, this, [this](bool on) { edit({}, [on](Step& s) { s.hasPoint = on; }); });
    connect(point_, &PointFields::xEdited, this, [this](double x) { edit("x", [x](Step& s) { s.x = x; }); });
    connect(point_, &PointFields::yEdited, this, [this](double y) { edit("y", [y](Step& s) { s.y = y; }); });
    connect(point_, &PointFields::pickRequested, this, [this] { host_.pickPoint(stepID_); });
    connect(duration_, &NumberField::integerEdited, this, [this](qint64 ms) {
        edit("moveDurationMs", [ms](Step& s) { s.moveDurationMs = ms; });
    });
}

void MouseMoveEditor::refresh(const Step& step) {
    const QSignalBlocker blocker(usePoint_);
    usePoint_->setChecked(step.hasPoint);
    point_->setVisible(step.hasPoint);
    currentHint_->setVisible(!step.hasPoint);
    point_->setPoint(step.x, step.y);
    duration_->setInteger(step.moveDurationMs);
}

}  // namespace tapforge::ui
