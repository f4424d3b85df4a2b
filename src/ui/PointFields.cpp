#include "ui/PointFields.h"

#include <QCheckBox>
#include <QPushButton>

#include "ui/InspectorLayout.h"
#include "ui/NumberField.h"

namespace tapforge::ui {

PointFields::PointFields(const QString& toggleText, const QString& buttonText, const QString& pickHint,
                         const QString& offHint, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (!toggleText.isEmpty()) {
        toggle_ = new QCheckBox(toggleText);
        layout->addWidget(toggle_);
        connect(toggle_, &QCheckBox::clicked, this, &PointFields::hasPointToggled);
    }
    x_ = NumberField::decimal();
    y_ = NumberField::decimal();
    auto* pick = new QPushButton(buttonText);
    fields_ = new QWidget;
    auto* fields = new QVBoxLayout(fields_);
    fields->setContentsMargins(0, 0, 0, 0);
    fieldsRow_ = rowOf({new QLabel(QStringLiteral("X")), x_, new QLabel(QStringLiteral("Y")), y_, pick, nullptr});
    fields->addWidget(fieldsRow_);
    if (!pickHint.isEmpty()) fields->addWidget(hintLabel(pickHint));
    layout->addWidget(fields_);
    if (!offHint.isEmpty()) {
        offHint_ = hintLabel(offHint);
        layout->addWidget(offHint_);
    }
    connect(x_, &NumberField::decimalEdited, this, &PointFields::xEdited);
    connect(y_, &NumberField::decimalEdited, this, &PointFields::yEdited);
    connect(pick, &QPushButton::clicked, this, &PointFields::pickRequested);
}

void PointFields::setFieldsTitle(const QString& title) {
    static_cast<QHBoxLayout*>(fieldsRow_->layout())->insertWidget(0, new QLabel(title));
}

void PointFields::setPoint(bool hasPoint, double x, double y) {
    if (toggle_) {
        const QSignalBlocker blocker(toggle_);
        toggle_->setChecked(hasPoint);
        fields_->setVisible(hasPoint);
    }
    if (offHint_) offHint_->setVisible(!hasPoint);
    x_->setDecimal(x);
    y_->setDecimal(y);
}

}  // namespace tapforge::ui
