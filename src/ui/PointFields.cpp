#include "ui/PointFields.h"

#include <QPushButton>

#include "ui/InspectorLayout.h"
#include "ui/NumberField.h"

namespace tapforge::ui {

PointFields::PointFields(const QString& buttonText, const QString& hint, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    x_ = NumberField::decimal();
    y_ = NumberField::decimal();
    auto* pick = new QPushButton(buttonText);
    layout->addWidget(rowOf({new QLabel(QStringLiteral("X")), x_, new QLabel(QStringLiteral("Y")), y_, pick, nullptr}));
    if (!hint.isEmpty()) layout->addWidget(hintLabel(hint));
    connect(x_, &NumberField::decimalEdited, this, &PointFields::xEdited);
    connect(y_, &NumberField::decimalEdited, this, &PointFields::yEdited);
    connect(pick, &QPushButton::clicked, this, &PointFields::pickRequested);
}

void PointFields::setPoint(double x, double y) {
    x_->setDecimal(x);
    y_->setDecimal(y);
}

}  // namespace tapforge::ui
