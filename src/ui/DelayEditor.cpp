#include "ui/DelayEditor.h"

#include <QPushButton>

#include "ui/EditorLimits.h"
#include "ui/InspectorLayout.h"
#include "ui/NumberField.h"

namespace tapforge::ui {

DelayEditor::DelayEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent) : StepEditor(host, stepID, parent) {
    QVBoxLayout* box = sectionLayout(addSection(column(), QStringLiteral("延迟")));
    delay_ = NumberField::integer(0, kInt64Max);
    box->addWidget(rowOf({delay_, new QLabel(QStringLiteral("毫秒")), nullptr}));
    connect(delay_, &NumberField::integerEdited, this, [this](qint64 ms) { edit("delayMs", [ms](Step& s) { s.delayMs = ms; }); });
    auto* presets = rowOf({});
    for (const int ms : {100, 500, 1000, 2000, 5000}) {
        auto* button = new QPushButton(QString::number(ms));
        button->setFlat(false);
        button->setMaximumWidth(64);
        presets->layout()->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, ms] { edit({}, [ms](Step& s) { s.delayMs = ms; }); });
    }
    static_cast<QHBoxLayout*>(presets->layout())->addStretch(1);
    box->addWidget(presets);
}

void DelayEditor::refresh(const Step& step) {
    delay_->setInteger(step.delayMs);
}

}  // namespace tapforge::ui
