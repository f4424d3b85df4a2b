// "颜色识别": pick, clear and test colour points, one row per point, and the match mode; below
// them the outcome of the step's last test or run.
#pragma once

#include <vector>

#include "ui/StepEditor.h"

class QCheckBox;
class QLabel;

namespace tapforge::ui {

class CheckResultView;
class NumberField;
class SegmentedPicker;

class ColorCheckEditor : public StepEditor {
    Q_OBJECT
public:
    ColorCheckEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent = nullptr);
    void refresh(const Step& step) override;

private:
    // The widgets of one colour point, kept so that a refresh updates them in place.
    struct PointRow {
        QLabel* swatch;
        QLabel* color;
        QLabel* position;
        NumberField* tolerance;
        QCheckBox* enabled;
    };
    void rebuildRows(const std::vector<ColorPoint>& points);
    void editPoint(const Uuid& pointID, const std::string& field, const std::function<void(ColorPoint&)>& change);

    QWidget* rows_;
    std::vector<Uuid> rowIDs_;
    std::vector<PointRow> rowWidgets_;
    SegmentedPicker* mode_;
    CheckResultView* result_;
};

}  // namespace tapforge::ui
