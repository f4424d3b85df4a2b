// The left pane: the header with the step count, the empty state, and the list of step rows
// drawn by a delegate (number, current-step marker, icon, enabled checkbox, title, summary,
// branch text). Main thread only.
#pragma once

#include <QWidget>

#include <functional>
#include <optional>

#include "model/Uuid.h"

class QLabel;
class QListView;
class QStackedWidget;

namespace tapforge::ui {

class StepListModel;

class StepListPanel : public QWidget {
    Q_OBJECT
public:
    StepListPanel(StepListModel* model, QWidget* parent = nullptr);

    // Selects the row of `id` (none clears) without calling onSelect.
    void showSelection(std::optional<Uuid> id);
    // Follows the model's row count: header text and empty state.
    void updateCount();

    QListView* listView() const { return list_; }

    std::function<void(std::optional<Uuid>)> onSelect;

private:
    StepListModel* model_;
    QLabel* count_;
    QStackedWidget* stack_;
    QListView* list_;
    bool applying_ = false;
};

}  // namespace tapforge::ui
