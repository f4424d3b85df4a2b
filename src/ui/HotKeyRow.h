// One shortcut row of the settings sheet: title, key menu, "清除", the usability warning, and
// the modifier checkboxes. It shows the shortcut it is given and reports every change at once;
// the controller holds the value. Main thread only.
#pragma once

#include <QWidget>

#include <functional>

#include "input/HotKeyShortcut.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QToolButton;

namespace tapforge::ui {

class HotKeyRow : public QWidget {
    Q_OBJECT
public:
    explicit HotKeyRow(const QString& title, QWidget* parent = nullptr);

    void setShortcut(const HotKeyShortcut& shortcut);
    const HotKeyShortcut& shortcut() const { return shortcut_; }

    std::function<void(const HotKeyShortcut&)> onChange;

    // For tests and the sheet's layout.
    QToolButton* keyMenuButton() const { return keyButton_; }
    QPushButton* clearButton() const { return clear_; }
    QLabel* warning() const { return warning_; }
    QCheckBox* modifierBox(int index) const { return boxes_[index]; }   // ⌘ ⇧ ⌥ ⌃

private:
    void change(const HotKeyShortcut& shortcut);

    HotKeyShortcut shortcut_;
    QToolButton* keyButton_;
    QPushButton* clear_;
    QLabel* warning_;
    QCheckBox* boxes_[4];
};

// The display form of a shortcut, or "未设置" without a key.
QString shortcutText(const HotKeyShortcut& shortcut);

}  // namespace tapforge::ui
