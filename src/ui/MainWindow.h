// The program's one window: toolbar, permission banner, step list beside the step inspector,
// run log and status bar, plus the menus, the alert and the sheets (settings, template
// library, permission diagnostics). Every control calls an AppState operation; the window
// keeps almost no state of its own (which sheet is open). Main thread only.
#pragma once

#include <QMainWindow>

#include <memory>

#include "ui/PermissionSheet.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolButton;
class QTimer;
class QWidget;

namespace tapforge::app {
class AppState;
struct ScriptChange;
}

namespace tapforge::ui {

class LogPanel;
class SettingsSheet;
class StepListModel;
class StepListPanel;
class TemplateLibrarySheet;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // `identity` feeds the permission diagnostics sheet.
    MainWindow(app::AppState& state, SessionIdentity identity, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The right pane: a placeholder until a step is selected and an inspector is installed.
    QStackedWidget* inspectorSlot() const { return inspectorSlot_; }
    void setInspector(QWidget* inspector);

    // Sheets (also for tests); created on first use.
    void showTemplateLibrary(bool shows);
    SettingsSheet* settingsSheet();
    TemplateLibrarySheet* templateLibrarySheet();
    PermissionSheet* permissionSheet();
    QMessageBox* alertBox() const { return alert_; }

    StepListModel* stepModel() const { return model_; }
    StepListPanel* stepListPanel() const { return listPanel_; }
    LogPanel* logPanel() const { return logPanel_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildMenus();
    QWidget* buildToolbar();
    QWidget* buildBanner();
    QWidget* buildStatusBar();
    void onScriptChanged(const app::ScriptChange& change);
    void updateSelection();
    void updateRunner();
    void updateRecording();
    void updateHotKeyHelp();
    void updatePermissions();
    void updateUndo();
    void updateAlert();
    void updateScriptCounts();
    void updateSettingsSheet();

    app::AppState& state_;
    SessionIdentity identity_;
    StepListModel* model_;
    StepListPanel* listPanel_;
    QStackedWidget* inspectorSlot_;
    LogPanel* logPanel_;

    QToolButton* record_;
    QToolButton* play_;
    QToolButton* pause_;
    QToolButton* up_;
    QToolButton* down_;
    QToolButton* duplicate_;
    QToolButton* delete_;
    QToolButton* library_;
    QCheckBox* mouseTrack_;
    QLineEdit* loopCount_;

    QWidget* banner_;
    QWidget* bannerInput_;
    QWidget* bannerScreen_;

    QProgressBar* spinner_;
    QLabel* runState_;
    QLabel* status_;
    QLabel* stepCount_;

    QAction* undo_;
    QAction* redo_;
    QAction* recordMenu_;
    QAction* playMenu_;
    QAction* pauseMenu_;

    QMessageBox* alert_ = nullptr;
    SettingsSheet* settings_ = nullptr;
    TemplateLibrarySheet* librarySheet_ = nullptr;
    PermissionSheet* permissions_ = nullptr;
    QTimer* permissionTimer_;
};

}  // namespace tapforge::ui
