#include "ui/ColorCheckEditor.h"

#include <algorithm>
#include <cmath>

#include <QCheckBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>

#include "ui/CheckResultView.h"
#include "ui/EditorLimits.h"
#include "ui/EnumChoices.h"
#include "ui/Icons.h"
#include "ui/InspectorLayout.h"
#include "ui/NumberField.h"
#include "ui/SegmentedPicker.h"

namespace tapforge::ui {

ColorCheckEditor::ColorCheckEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent)
    : StepEditor(host, stepID, parent) {
    QVBoxLayout* box = sectionLayout(addSection(column(), QStringLiteral("颜色识别")));
    auto* pick = new QPushButton(icon("eyedropper"), QStringLiteral("拾取颜色"));
    auto* clear = new QPushButton(QStringLiteral("清空"));
    auto* test = new QPushButton(icon("play.fill"), QStringLiteral("测试一次"));
    box->addWidget(rowOf({pick, clear, nullptr, test}));
    box->addWidget(hintLabel(QStringLiteral("点击「拾取颜色」，然后在屏幕上点击要识别的颜色（可连续点选多个点，按 Esc 结束）。")));
    rows_ = new QWidget;
    new QVBoxLayout(rows_);
    rows_->layout()->setContentsMargins(0, 0, 0, 0);
    box->addWidget(rows_);
    mode_ = new SegmentedPicker(QStringLiteral("匹配方式"), labelsOf<MatchMode>());
    box->addWidget(mode_);
    box->addWidget(hintLabel(QStringLiteral("「全部匹配」要求所有颜色点都命中；「任一匹配」只要有一个点命中即算成功。")));
    result_ = new CheckResultView;
    box->addWidget(result_);

    connect(pick, &QPushButton::clicked, this, [this] { host_.pickColors(stepID_); });
    connect(clear, &QPushButton::clicked, this, [this] { edit({}, [](Step& s) { s.colorPoints.clear(); }); });
    connect(test, &QPushButton::clicked, this, [this] { host_.testStep(stepID_); });
    connect(mode_, &SegmentedPicker::picked, this, [this](int i) {
        edit({}, [i](Step& s) { s.colorMode = allCases<MatchMode>()[i]; });
    });
}

void ColorCheckEditor::editPoint(const Uuid& pointID, const std::string& field,
                                 const std::function<void(ColorPoint&)>& change) {
    edit(field.empty() ? field : "colorPoints." + pointID.string() + "." + field, [&](Step& s) {
        const auto it = std::find_if(s.colorPoints.begin(), s.colorPoints.end(),
                                     [&](const ColorPoint& p) { return p.id == pointID; });
        if (it != s.colorPoints.end()) change(*it);
    });
}

void ColorCheckEditor::rebuildRows(const std::vector<ColorPoint>& points) {
    // deleteLater: a row's own delete button may be what is running now.
    for (QWidget* row : rows_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        row->hide();
        row->deleteLater();
    }
    rowWidgets_.clear();
    rowIDs_.clear();
    for (const ColorPoint& point : points) {
        const Uuid id = point.id;
        const PointRow row{new QLabel, new QLabel, new QLabel, NumberField::integer(0, kToleranceMax), new QCheckBox};
        auto* remove = new QToolButton;
        remove->setIcon(icon("trash"));
        remove->setText(QStringLiteral("删除"));
        remove->setToolTip(QStringLiteral("删除"));
        rows_->layout()->addWidget(rowOf({row.swatch, row.color, row.position, new QLabel(QStringLiteral("容差")),
                                          row.tolerance, row.enabled, remove, nullptr}));
        connect(row.tolerance, &NumberField::integerEdited, this, [this, id](qint64 t) {
            editPoint(id, "tolerance", [t](ColorPoint& p) { p.tolerance = t; });
        });
        connect(row.enabled, &QCheckBox::clicked, this, [this, id](bool on) {
            editPoint(id, {}, [on](ColorPoint& p) { p.enabled = on; });
        });
        connect(remove, &QToolButton::clicked, this, [this, id] {
            edit({}, [id](Step& s) { std::erase_if(s.colorPoints, [&](const ColorPoint& p) { return p.id == id; }); });
        });
        rowWidgets_.push_back(row);
        rowIDs_.push_back(id);
    }
}

void ColorCheckEditor::refresh(const Step& step) {
    std::vector<Uuid> ids;
    for (const ColorPoint& point : step.colorPoints) ids.push_back(point.id);
    if (ids != rowIDs_) rebuildRows(step.colorPoints);
    for (size_t i = 0; i < step.colorPoints.size(); ++i) {
        const ColorPoint& p = step.colorPoints[i];
        const PointRow& row = rowWidgets_[i];
        QPixmap swatch(16, 16);
        swatch.fill(QColor(static_cast<int>(std::clamp<int64_t>(p.red, 0, 255)), static_cast<int>(std::clamp<int64_t>(p.green, 0, 255)),
                           static_cast<int>(std::clamp<int64_t>(p.blue, 0, 255))));
        row.swatch->setPixmap(swatch);
        // display() is "(x, y) #RRGGBB"; the row shows the colour first.
        const std::string display = p.display();
        const size_t split = display.rfind(' ');
        row.color->setText(qs(display.substr(split + 1)));
        row.position->setText(qs(display.substr(0, split)));
        row.tolerance->setInteger(p.tolerance);
        const QSignalBlocker blocker(row.enabled);
        row.enabled->setChecked(p.enabled);
    }
    mode_->setCurrent(indexOf(step.colorMode));
    result_->setOutcome(host_.lastCheckOutcome(stepID_));
}

}  // namespace tapforge::ui
