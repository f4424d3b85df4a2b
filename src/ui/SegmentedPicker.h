// A segmented picker: a title and a row of mutually exclusive buttons, one per choice.
#pragma once

#include <QStringList>
#include <QWidget>

class QButtonGroup;

namespace tapforge::ui {

class SegmentedPicker : public QWidget {
    Q_OBJECT
public:
    SegmentedPicker(const QString& title, const QStringList& choices, QWidget* parent = nullptr);
    // Checks the choice without reporting it; -1 checks none.
    void setCurrent(int index);
    int current() const;

signals:
    // The user picked choice `index`.
    void picked(int index);

private:
    QButtonGroup* group_;
};

}  // namespace tapforge::ui
