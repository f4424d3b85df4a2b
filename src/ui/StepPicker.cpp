#include "ui/StepPicker.h"

#include <algorithm>

#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "ui/InspectorLayout.h"

namespace tapforge::ui {

StepPicker::StepPicker(const QString& title, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    combo_ = new QComboBox(this);
    combo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo_->setMinimumContentsLength(16);
    layout->addWidget(rowOf({new QLabel(title), combo_}));
    deleted_ = new QLabel(QStringLiteral("目标步骤已被删除，运行时会改为执行下一步。"), this);
    deleted_->setWordWrap(true);
    deleted_->setStyleSheet(QStringLiteral("color: #C0392B;"));
    deleted_->hide();
    layout->addWidget(deleted_);
    // activated comes from the user only.
    connect(combo_, &QComboBox::activated, this, [this](int index) {
        if (index <= 0)
            emit picked(std::nullopt);
        else if (index - 1 < static_cast<int>(ids_.size()))
            emit picked(ids_[index - 1]);
    });
}

void StepPicker::setSteps(const std::vector<Step>& steps, const std::optional<Uuid>& target) {
    const QSignalBlocker blocker(combo_);
    QStringList entries{QStringLiteral("请选择步骤")};
    std::vector<Uuid> ids;
    ids.reserve(steps.size());
    for (size_t i = 0; i < steps.size(); ++i) {
        entries << QString::number(i + 1) + QStringLiteral(". ") + qs(steps[i].summary());
        ids.push_back(steps[i].id);
    }
    QStringList shown;
    for (int i = 0; i < combo_->count(); ++i) shown << combo_->itemText(i);
    if (shown != entries) {
        combo_->clear();
        combo_->addItems(entries);
    }
    ids_ = std::move(ids);

    int index = 0;
    bool deleted = false;
    if (target) {
        const auto it = std::find(ids_.begin(), ids_.end(), *target);
        deleted = it == ids_.end();
        // A target that is gone selects no entry: "请选择步骤" would claim the step has none.
        index = deleted ? -1 : static_cast<int>(it - ids_.begin()) + 1;
    }
    combo_->setCurrentIndex(index);
    deleted_->setVisible(deleted);
}

bool StepPicker::showsDeletedWarning() const {
    return !deleted_->isHidden();
}

}  // namespace tapforge::ui
