#include "ui/StepListPanel.h"

#include <QApplication>
#include <QFontDatabase>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "ui/Icons.h"
#include "ui/StepListModel.h"
#include "ui/Widgets.h"

namespace tapforge::ui {

namespace {

constexpr int kPad = 6;
constexpr int kNumberWidth = 24;
constexpr int kMarkerWidth = 12;
constexpr int kIconWidth = 18;
constexpr int kCheckWidth = 20;

class StepRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static QRect checkRect(const QRect& row) {
        const int x = row.left() + kPad + kNumberWidth + kMarkerWidth + kIconWidth + 4;
        return QRect(x, row.top() + (row.height() - 16) / 2, 16, 16);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QFontMetrics fm(option.font);
        const int lines = kindHasBranches(StepKind(index.data(StepListModel::kindRole).toInt())) ? 3 : 2;
        return QSize(200, kPad * 2 + fm.height() * lines);
    }

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        p->save();
        const bool selected = option.state & QStyle::State_Selected;
        const bool current = index.data(StepListModel::currentRole).toBool();
        const bool enabled = index.data(StepListModel::enabledRole).toBool();
        const QPalette& pal = option.palette;
        if (selected) p->fillRect(option.rect, pal.highlight());
        else if (current) p->fillRect(option.rect, QColor(52, 199, 89, 38));
        if (!enabled) p->setOpacity(0.45);

        const QColor text = selected ? pal.highlightedText().color() : pal.text().color();
        const QColor secondary = selected ? text : pal.placeholderText().color();
        const QRect r = option.rect.adjusted(kPad, kPad, -kPad, -kPad);
        int x = r.left();

        QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        mono.setPointSizeF(option.font.pointSizeF() * 0.9);
        p->setFont(mono);
        p->setPen(secondary);
        p->drawText(QRect(x, r.top(), kNumberWidth, r.height()), Qt::AlignRight | Qt::AlignVCenter,
                    QString::number(index.row() + 1));
        x += kNumberWidth;
        if (current) icon("arrowtriangle.right.fill").paint(p, QRect(x + 1, r.center().y() - 5, 10, 10));
        x += kMarkerWidth;

        const auto kind = StepKind(index.data(StepListModel::kindRole).toInt());
        const QRect iconRect(x, r.center().y() - 8, 16, 16);
        const QIcon kindIcon = icon(index.data(StepListModel::iconRole).toString().toStdString());
        if (kind == StepKind::colorCheck || kind == StepKind::imageCheck)
            p->drawPixmap(iconRect, tinted(kindIcon.pixmap(16), QColor(255, 149, 0)));
        else
            kindIcon.paint(p, iconRect);
        x += kIconWidth + 4;

        QStyleOptionButton box;
        box.rect = checkRect(option.rect);
        box.state = QStyle::State_Enabled | (enabled ? QStyle::State_On : QStyle::State_Off);
        QApplication::style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, p);
        x += kCheckWidth + 4;

        const QRect textRect(x, r.top(), r.right() - x, r.height());
        const QFontMetrics fm(option.font);
        QFont title = option.font;
        title.setWeight(QFont::DemiBold);
        p->setFont(title);
        p->setPen(text);
        int y = textRect.top();
        p->drawText(QRect(textRect.left(), y, textRect.width(), fm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                    index.data(Qt::DisplayRole).toString());
        y += fm.height();
        QFont small = option.font;
        small.setPointSizeF(option.font.pointSizeF() * 0.85);
        p->setFont(small);
        p->setPen(secondary);
        const QFontMetrics sm(small);
        p->drawText(QRect(textRect.left(), y, textRect.width(), fm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                    sm.elidedText(index.data(StepListModel::summaryRole).toString(), Qt::ElideRight, textRect.width()));
        const QString branch = index.data(StepListModel::branchRole).toString();
        if (!branch.isEmpty()) {
            y += fm.height();
            p->setPen(selected ? text : QColor(255, 149, 0));
            p->drawText(QRect(textRect.left(), y, textRect.width(), fm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                        sm.elidedText(branch, Qt::ElideRight, textRect.width()));
        }
        p->restore();
    }

    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override {
        if (event->type() != QEvent::MouseButtonRelease) return false;
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || !checkRect(option.rect).adjusted(-3, -3, 3, 3).contains(mouse->position().toPoint()))
            return false;
        const bool enabled = index.data(StepListModel::enabledRole).toBool();
        return model->setData(index, enabled ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    }
};

}  // namespace

StepListPanel::StepListPanel(StepListModel* model, QWidget* parent) : QWidget(parent), model_(model) {
    setObjectName("StepListPanel");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->setContentsMargins(10, 6, 10, 6);
    header->addWidget(makeLabel("脚本步骤", 13, QFont::DemiBold));
    count_ = makeLabel("", 11, QFont::Normal, LabelTone::secondary);
    count_->setObjectName("stepCount");
    header->addWidget(count_);
    header->addStretch();
    layout->addLayout(header);

    stack_ = new QStackedWidget;
    stack_->addWidget(makeEmptyState("list.bullet.rectangle", 28, "还没有步骤",
                                     "点击工具栏「录制」抓取操作，或「添加步骤」手动创建"));
    list_ = new QListView;
    list_->setObjectName("stepList");
    list_->setModel(model_);
    list_->setItemDelegate(new StepRowDelegate(list_));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setDragDropMode(QAbstractItemView::InternalMove);
    list_->setDefaultDropAction(Qt::MoveAction);
    list_->setDragEnabled(true);
    list_->setDropIndicatorShown(true);
    list_->setLayoutMode(QListView::Batched);
    list_->setBatchSize(200);
    stack_->addWidget(list_);
    layout->addWidget(stack_, 1);

    connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (applying_ || !onSelect) return;
                onSelect(current.isValid() ? model_->idAt(current.row()) : std::nullopt);
            });
    connect(model_, &QAbstractItemModel::rowsInserted, this, &StepListPanel::updateCount);
    connect(model_, &QAbstractItemModel::rowsRemoved, this, &StepListPanel::updateCount);
    connect(model_, &QAbstractItemModel::modelReset, this, &StepListPanel::updateCount);
    updateCount();
}

void StepListPanel::updateCount() {
    const int n = model_->rowCount();
    count_->setText(QString::number(n) + " 步");
    stack_->setCurrentIndex(n == 0 ? 0 : 1);
}

void StepListPanel::showSelection(std::optional<Uuid> id) {
    applying_ = true;
    const auto row = id ? model_->rowOf(*id) : std::nullopt;
    auto* selection = list_->selectionModel();
    if (row) {
        const QModelIndex at = model_->index(*row);
        if (selection->currentIndex() != at || !selection->isSelected(at)) {
            selection->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect);
            list_->scrollTo(at);
        }
    } else {
        selection->clear();
    }
    applying_ = false;
}

}  // namespace tapforge::ui
