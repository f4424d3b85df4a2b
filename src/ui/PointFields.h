// The "X" and "Y" fields of a screen point with a button that picks the point on the screen.
#pragma once

#include <QWidget>

namespace tapforge::ui {

class NumberField;

class PointFields : public QWidget {
    Q_OBJECT
public:
    // `hint` is shown below the fields when not empty.
    PointFields(const QString& buttonText, const QString& hint, QWidget* parent = nullptr);
    void setPoint(double x, double y);
    NumberField* xField() const { return x_; }
    NumberField* yField() const { return y_; }

signals:
    void xEdited(double x);
    void yEdited(double y);
    void pickRequested();

private:
    NumberField* x_;
    NumberField* y_;
};

}  // namespace tapforge::ui
