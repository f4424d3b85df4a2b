#include "ui/SegmentedPicker.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QToolButton>

namespace tapforge::ui {

SegmentedPicker::SegmentedPicker(const QString& title, const QStringList& choices, QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* label = new QLabel(title, this);
    layout->addWidget(label);
    layout->addSpacing(8);
    for (int i = 0; i < choices.size(); ++i) {
        auto* button = new QToolButton(this);
        button->setText(choices[i]);
        button->setCheckable(true);
        button->setAutoRaise(false);
        group_->addButton(button, i);
        layout->addWidget(button);
    }
    layout->addStretch(1);
    // idClicked comes from the user only.
    connect(group_, &QButtonGroup::idClicked, this, &SegmentedPicker::picked);
}

void SegmentedPicker::setCurrent(int index) {
    const QSignalBlocker blocker(group_);
    if (QAbstractButton* button = group_->button(index)) {
        button->setChecked(true);
        return;
    }
    // An exclusive group cannot uncheck its checked button directly.
    group_->setExclusive(false);
    for (QAbstractButton* button : group_->buttons()) button->setChecked(false);
    group_->setExclusive(true);
}

int SegmentedPicker::current() const {
    return group_->checkedId();
}

}  // namespace tapforge::ui
