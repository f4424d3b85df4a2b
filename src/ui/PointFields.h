// A screen point: the "X" and "Y" fields with a button that picks the point on the screen, and
// for steps the "使用屏幕坐标" toggle with the hint shown while it is off.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;

namespace tapforge::ui {

class NumberField;

class PointFields : public QWidget {
    Q_OBJECT
public:
    // `pickHint` below the fields and `offHint` (shown instead of the fields while the toggle
    // is off) are left out when empty. Without `toggleText` the fields are always shown.
    PointFields(const QString& toggleText, const QString& buttonText, const QString& pickHint, const QString& offHint,
                QWidget* parent = nullptr);
    // A title in front of the fields ("坐标").
    void setFieldsTitle(const QString& title);
    // Shows the values without reporting them.
    void setPoint(bool hasPoint, double x, double y);

signals:
    void hasPointToggled(bool on);
    void xEdited(double x);
    void yEdited(double y);
    void pickRequested();

private:
    QCheckBox* toggle_ = nullptr;
    QWidget* fields_;
    QWidget* fieldsRow_;
    QLabel* offHint_ = nullptr;
    NumberField* x_;
    NumberField* y_;
};

}  // namespace tapforge::ui
