#include "ui/ScrollEditor.h"

#include "ui/EditorLimits.h"
#include "ui/InspectorLayout.h"
#include "ui/NumberField.h"
#include "ui/PointFields.h"

namespace tapforge::ui {

ScrollEditor::ScrollEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent) : StepEditor(host, stepID, parent) {
    QVBoxLayout* box = sectionLayout(addSection(column(), QStringLiteral("滚轮")));
    amount_ = NumberField::integer(kInt64Min, kInt64Max);
    point_ = new PointFields(QStringLiteral("使用屏幕坐标"), QStringLiteral("拾取坐标"), {}, {});
    box->addWidget(rowOf({new QLabel(QStringLiteral("滚动量")), amount_, nullptr}));
    box->addWidget(hintLabel(QStringLiteral("正数向上，负数向下")));
    box->addWidget(point_);
    bindStepPoint(point_);

    connect(amount_, &NumberField::integerEdited, this, [this](qint64 lines) {
        edit("scrollAmount", [lines](Step& s) { s.scrollAmount = lines; });
    });
}

void ScrollEditor::refresh(const Step& step) {
    amount_->setInteger(step.scrollAmount);
    point_->setPoint(step.hasPoint, step.x, step.y);
}

}  // namespace tapforge::ui
