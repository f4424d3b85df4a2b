// The rows of the step list over the controller's document. The model holds no copy of the
// script: it reads the document it is pointed at and keeps only each row's identifier and a
// hash of its step, so that `refresh()` can tell the views exactly which rows were inserted,
// removed, moved or changed (selecting or editing one step of 7 000 repaints one row).
// Main thread only.
#pragma once

#include <QAbstractListModel>

#include <functional>
#include <optional>
#include <vector>

#include "model/Script.h"

namespace tapforge::ui {

// Colour, image and Lua steps carry a success and a failure branch.
bool kindHasBranches(StepKind kind);

class StepListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        summaryRole = Qt::UserRole + 1,
        branchRole,       // branch summary, empty for kinds without branches
        enabledRole,
        currentRole,      // the runner is executing this step
        iconRole,         // symbol name of the kind's icon
        kindRole,         // StepKind as int
    };

    explicit StepListModel(QObject* parent = nullptr);

    // The document the rows show; must outlive the model (or be replaced). Resets the rows.
    void setSource(const Script* script);
    // Compares the document with the rows as last shown and reports only the differences:
    // inserted, removed and moved rows by identifier, changed rows by hash. With
    // `Compare::identifiersOnly` the caller knows no kept step changed (an insertion or a
    // removal), which spares hashing every step.
    enum class Compare { everything, identifiersOnly };
    void refresh(Compare compare = Compare::everything);
    // The caller knows that only the step at `row` changed.
    void rowChanged(int row);
    // The step the runner executes (none when idle); repaints the old and the new row only.
    void setCurrentStep(std::optional<Uuid> id);

    std::optional<int> rowOf(const Uuid& id) const;
    std::optional<Uuid> idAt(int row) const;

    // Called when the user ticks a row's checkbox.
    std::function<void(const Uuid& id, bool enabled)> onSetEnabled;
    // Called when rows are dragged: the rows and the destination index before the move.
    std::function<void(std::vector<int> rows, int destination)> onMoveRows;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDropActions() const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

private:
    struct RowKey {
        Uuid id;
        size_t hash;
    };
    const Step* step(int row) const;
    void notifyBranchRows();

    const Script* script_ = nullptr;
    std::vector<RowKey> rows_;
    std::optional<Uuid> current_;
};

}  // namespace tapforge::ui
