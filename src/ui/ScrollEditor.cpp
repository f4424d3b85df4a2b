#include "ui/ScrollEditor.h"

#include <QCheckBox>
#include <QSignalBlocker>

#include "ui/EditorLimits.h"
#include "ui/InspectorLayout.h"
#include "ui/NumberField.h"
#include "ui/PointFields.h"

namespace tapforge::ui {

ScrollEditor::ScrollEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent) : StepEditor(host, stepID, parent) {
    QVBoxLayout* box = sectionLayout(addSection(column(), QStringLiteral("滚轮")));
    amount_ = NumberField::integer(kInt64Min, kInt64Max);
    usePoint_ = new QCheckBox(QStringLiteral("使用屏幕坐标"));
    point_ = new PointFields(QStringLiteral("拾取坐标"), {});
    box->addWidget(rowOf({new QLabel(QStringLiteral("滚动量")), amount_, nullptr}));
    box->addWidget(hintLabel(QStringLiteral("正数向上，负数向下")));
    box->addWidget(usePoint_);
    box->addWidget(point_);

    connect(amount_, &NumberField::integerEdited, this, [this](qint64 lines) {
        edit("scrollAmount", [lines](Step& s) { s.scrollAmount = lines; });
    });
    connect(usePoint_, &QCheckBox::clicked, this, [this](bool on) { edit({}, [on](Step& s) { s.hasPoint = on; }); });
    connect(point_, &PointFields::xEdited, this, [this](double x) { edit("x", [x](Step& s) { s.x = x; }); });
    connect(point_, &PointFields::yEdited, this, [this](double y) { edit("y", [y](Step& s) { s.y = y; }); });
    connect(point_, &PointFields::pickRequested, this, [this] { host_.pickPoint(stepID_); });
}

void ScrollEditor::refresh(const Step& step) {
    amount_->setInteger(step.scrollAmount);
    const QSignalBlocker blocker(usePoint_);
    usePoint_->setChecked(step.hasPoint);
    point_->setVisible(step.hasPoint);
    point_->setPoint(step.x, step.y);
}

}  // namespace tapforge::ui
