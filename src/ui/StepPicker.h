// A picker of one step of the script: "请选择步骤" (none), then every step as its position,
// ". " and its summary; warns when the stored target is no longer in the script.
#pragma once

#include <optional>
#include <vector>

#include <QWidget>

#include "model/Step.h"
#include "model/Uuid.h"

class QComboBox;
class QLabel;

namespace tapforge::ui {

class StepPicker : public QWidget {
    Q_OBJECT
public:
    explicit StepPicker(const QString& title, QWidget* parent = nullptr);
    // Shows `target` among `steps` without reporting it.
    void setSteps(const std::vector<Step>& steps, const std::optional<Uuid>& target);
    bool showsDeletedWarning() const;
    QComboBox* comboBox() const { return combo_; }

signals:
    void picked(std::optional<tapforge::Uuid> target);

private:
    QComboBox* combo_;
    QLabel* deleted_;
    std::vector<Uuid> ids_;   // ids_[i] is entry i + 1
};

}  // namespace tapforge::ui
