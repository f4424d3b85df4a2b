#include "ui/StepListModel.h"

#include <QDataStream>
#include <QIODevice>
#include <QMimeData>

#include <algorithm>

namespace tapforge::ui {

namespace {
const QString kRowsMime = QStringLiteral("application/x-tapforge-step-rows");

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }
}  // namespace

bool kindHasBranches(StepKind kind) {
    return kind == StepKind::colorCheck || kind == StepKind::imageCheck || kind == StepKind::lua;
}

StepListModel::StepListModel(QObject* parent) : QAbstractListModel(parent) {}

void StepListModel::setSource(const Script* script) {
    beginResetModel();
    script_ = script;
    rows_.clear();
    if (script_) {
        rows_.reserve(script_->steps.size());
        for (const auto& s : script_->steps) rows_.push_back({s.id, std::hash<Step>{}(s)});
    }
    endResetModel();
}

const Step* StepListModel::step(int row) const {
    if (!script_ || row < 0 || size_t(row) >= script_->steps.size()) return nullptr;
    return &script_->steps[size_t(row)];
}

void StepListModel::refresh(Compare compare) {
    if (!script_) return;
    const auto& steps = script_->steps;
    const size_t oldCount = rows_.size(), newCount = steps.size();
    size_t prefix = 0;
    while (prefix < oldCount && prefix < newCount && rows_[prefix].id == steps[prefix].id) ++prefix;
    size_t suffix = 0;
    while (suffix < oldCount - prefix && suffix < newCount - prefix &&
           rows_[oldCount - 1 - suffix].id == steps[newCount - 1 - suffix].id)
        ++suffix;
    const size_t oldMid = oldCount - prefix - suffix, newMid = newCount - prefix - suffix;
    const bool structural = oldMid || newMid;

    // A block moved within the middle: the new middle is the old one rotated.
    size_t pivot = 0;
    while (pivot < oldMid && newMid && rows_[prefix + pivot].id != steps[prefix].id) ++pivot;
    bool rotation = oldMid == newMid && pivot < oldMid;
    for (size_t i = 0; rotation && i < newMid; ++i)
        rotation = rows_[prefix + (pivot + i) % oldMid].id == steps[prefix + i].id;

    if (rotation) {
        beginMoveRows({}, int(prefix + pivot), int(prefix + oldMid - 1), {}, int(prefix));
        std::rotate(rows_.begin() + ptrdiff_t(prefix), rows_.begin() + ptrdiff_t(prefix + pivot),
                    rows_.begin() + ptrdiff_t(prefix + oldMid));
        endMoveRows();
    } else if (structural) {
        if (oldMid) {
            beginRemoveRows({}, int(prefix), int(prefix + oldMid - 1));
            rows_.erase(rows_.begin() + ptrdiff_t(prefix), rows_.begin() + ptrdiff_t(prefix + oldMid));
            endRemoveRows();
        }
        if (newMid) {
            beginInsertRows({}, int(prefix), int(prefix + newMid - 1));
            std::vector<RowKey> inserted;
            inserted.reserve(newMid);
            for (size_t i = prefix; i < prefix + newMid; ++i)
                inserted.push_back({steps[i].id, std::hash<Step>{}(steps[i])});
            rows_.insert(rows_.begin() + ptrdiff_t(prefix), inserted.begin(), inserted.end());
            endInsertRows();
        }
    }

    bool anyChanged = structural;
    for (size_t i = 0; compare == Compare::everything && i < newCount; ++i) {
        const size_t h = std::hash<Step>{}(steps[i]);
        if (rows_[i].hash == h) continue;
        rows_[i].hash = h;
        anyChanged = true;
        const QModelIndex at = index(int(i));
        emit dataChanged(at, at);
    }
    // A branch names its target by position and summary, so any change may alter it.
    if (anyChanged) notifyBranchRows();
}

void StepListModel::rowChanged(int row) {
    if (!script_ || row < 0 || size_t(row) >= rows_.size() || size_t(row) >= script_->steps.size() ||
        rows_[size_t(row)].id != script_->steps[size_t(row)].id) {
        refresh();   // the hint does not fit what the rows show: compare everything
        return;
    }
    rows_[size_t(row)].hash = std::hash<Step>{}(script_->steps[size_t(row)]);
    emit dataChanged(index(row), index(row));
    notifyBranchRows();
}

void StepListModel::notifyBranchRows() {
    int first = -1, last = -1;
    for (int i = 0; i < rowCount(); ++i) {
        if (!kindHasBranches(script_->steps[size_t(i)].kind)) continue;
        if (first < 0) first = i;
        last = i;
    }
    if (first >= 0) emit dataChanged(index(first), index(last), {branchRole});
}

void StepListModel::setCurrentStep(std::optional<Uuid> id) {
    if (id == current_) return;
    const auto old = current_;
    current_ = id;
    for (const auto& which : {old, id}) {
        if (!which) continue;
        if (auto row = rowOf(*which)) emit dataChanged(index(*row), index(*row), {currentRole});
    }
}

std::optional<int> StepListModel::rowOf(const Uuid& id) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].id == id) return int(i);
    return std::nullopt;
}

std::optional<Uuid> StepListModel::idAt(int row) const {
    if (row < 0 || size_t(row) >= rows_.size()) return std::nullopt;
    return rows_[size_t(row)].id;
}

int StepListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

QVariant StepListModel::data(const QModelIndex& index, int role) const {
    const Step* s = step(index.row());
    if (!s) return {};
    switch (role) {
    case Qt::DisplayRole: return qs(s->title());
    case summaryRole: return qs(s->summary());
    case branchRole: {
        auto branch = s->branchSummary(script_->steps);
        return branch ? qs(*branch) : QString();
    }
    case Qt::CheckStateRole: return s->enabled ? Qt::Checked : Qt::Unchecked;
    case enabledRole: return s->enabled;
    case currentRole: return current_ && *current_ == s->id;
    case iconRole: return qs(iconName(s->kind));
    case kindRole: return int(s->kind);
    case Qt::ToolTipRole: return QStringLiteral("是否执行该步骤");
    default: return {};
    }
}

bool StepListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    const Step* s = step(index.row());
    if (!s || role != Qt::CheckStateRole || !onSetEnabled) return false;
    // The controller edits the document; the row follows through refresh().
    onSetEnabled(s->id, value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags StepListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsDragEnabled;
}

Qt::DropActions StepListModel::supportedDropActions() const { return Qt::MoveAction; }

QStringList StepListModel::mimeTypes() const { return {kRowsMime}; }

QMimeData* StepListModel::mimeData(const QModelIndexList& indexes) const {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    for (const auto& i : indexes) out << qint32(i.row());
    auto* mime = new QMimeData;
    mime->setData(kRowsMime, bytes);
    return mime;
}

bool StepListModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int, int,
                                    const QModelIndex& parent) const {
    return action == Qt::MoveAction && !parent.isValid() && data->hasFormat(kRowsMime);
}

bool StepListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                 const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent) || !onMoveRows) return false;
    std::vector<int> rows;
    QDataStream in(data->data(kRowsMime));
    while (!in.atEnd()) {
        qint32 r;
        in >> r;
        if (r >= 0 && r < rowCount()) rows.push_back(r);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows.empty()) return false;
    onMoveRows(std::move(rows), row < 0 ? rowCount() : row);
    // The controller moved the steps; refresh() reports the move. Answering false keeps the
    // view from removing the dragged rows itself.
    return false;
}

}  // namespace tapforge::ui
