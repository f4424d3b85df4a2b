// The settings sheet: the two global hotkeys (key menu, modifiers, clear, conflict and
// usability warnings), the fixed Esc row, the notes and "恢复默认". Every change goes to the
// AppState at once (and so to the hotkey monitor and the stored settings). Main thread only.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace tapforge::app {
class AppState;
}

namespace tapforge::ui {

class HotKeyRow;

class SettingsSheet : public QDialog {
    Q_OBJECT
public:
    SettingsSheet(app::AppState& state, QWidget* parent);

    // Shows the controller's shortcuts.
    void update();

    HotKeyRow* recordRow() const { return record_; }
    HotKeyRow* playRow() const { return play_; }
    QWidget* conflictWarning() const { return conflict_; }
    QPushButton* restoreDefaults() const { return defaults_; }

private:
    app::AppState& state_;
    HotKeyRow* record_;
    HotKeyRow* play_;
    QWidget* conflict_;
    QPushButton* defaults_;
};

}  // namespace tapforge::ui
