// The permission diagnostics sheet as it applies to X11: the live state of input (XTEST,
// RECORD and XInput 2 present) and screen capture (a grab works) with "请求授权" re-testing,
// "重启应用", and the identity of this process and its X server, including the plain warning
// that under Wayland input and grabs reach only X11 windows. Main thread only.
#pragma once

#include <QDialog>
#include <QString>

class QGridLayout;
class QLabel;
class QPushButton;
class QTimer;

namespace tapforge::app {
class AppState;
}

namespace tapforge::ui {

// Who and where this process runs; filled by the entry from the platform layer.
struct SessionIdentity {
    QString executable;
    QString display;         // X display name
    QString serverVendor;
    QString serverVersion;
    bool wayland = false;    // an X11 client under Xwayland
};

class PermissionSheet : public QDialog {
    Q_OBJECT
public:
    PermissionSheet(app::AppState& state, const SessionIdentity& identity, QWidget* parent);

    void update();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Row {
        QLabel* mark;
        QLabel* state;
        QPushButton* request;
    };
    Row addRow(QGridLayout* grid, int line, const QString& title, const QString& detail);

    app::AppState& state_;
    Row input_{};
    Row screen_{};
    QTimer* timer_;
};

}  // namespace tapforge::ui
