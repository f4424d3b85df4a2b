#include "ui/ConditionEditor.h"

#include <QCheckBox>
#include <QSignalBlocker>

#include "ui/EditorLimits.h"
#include "ui/InspectorLayout.h"
#include "ui/NumberField.h"

namespace tapforge::ui {

ConditionEditor::ConditionEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent)
    : StepEditor(host, stepID, parent) {
    QVBoxLayout* box = sectionLayout(addSection(column(), QStringLiteral("等待方式")));
    wait_ = new QCheckBox(QStringLiteral("等待条件成立（否则只判断一次）"));
    timeout_ = NumberField::integer(0, kInt64Max);
    poll_ = NumberField::integer(0, kInt64Max);
    waitFields_ = new QWidget;
    auto* fields = new QVBoxLayout(waitFields_);
    fields->setContentsMargins(0, 0, 0, 0);
    fields->addWidget(rowOf({new QLabel(QStringLiteral("超时")), timeout_, new QLabel(QStringLiteral("毫秒")), nullptr}));
    fields->addWidget(rowOf({new QLabel(QStringLiteral("轮询间隔")), poll_, new QLabel(QStringLiteral("ms")), nullptr}));
    box->addWidget(wait_);
    box->addWidget(waitFields_);

    connect(wait_, &QCheckBox::clicked, this, [this](bool on) {
        edit({}, [on](Step& s) { s.waitForCondition = on; });
    });
    connect(timeout_, &NumberField::integerEdited, this, [this](qint64 ms) { edit("timeoutMs", [ms](Step& s) { s.timeoutMs = ms; }); });
    connect(poll_, &NumberField::integerEdited, this, [this](qint64 ms) { edit("pollMs", [ms](Step& s) { s.pollMs = ms; }); });
}

void ConditionEditor::refresh(const Step& step) {
    const QSignalBlocker blocker(wait_);
    wait_->setChecked(step.waitForCondition);
    waitFields_->setVisible(step.waitForCondition);
    timeout_->setInteger(step.timeoutMs);
    poll_->setInteger(step.pollMs);
}

}  // namespace tapforge::ui
