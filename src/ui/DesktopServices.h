// The window system's side of the controller's services: Qt's own (non-native) file dialogs,
// so they behave the same under any desktop and under Xvfb, and the launcher that opens files
// with their default application, shows them in the file manager, and relaunches. Main thread.
#pragma once

#include <QPointer>
#include <QWidget>

#include "app/UiServices.h"

namespace tapforge::ui {

class QtFilePanels : public app::FilePanels {
public:
    // Dialogs are modal over `parent` (may be null).
    explicit QtFilePanels(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    std::optional<std::string> chooseSaveLocation(const std::string& title, const std::string& proposedName) override;
    std::optional<std::string> chooseOpenLocation(const std::string& title, app::FileKind kind,
                                                  const std::string& startFolder) override;
    // The next open panel answers `path` without showing itself: a file named on the command
    // line is opened exactly as "打开脚本…" would open it.
    void answerNextOpenWith(std::string path) { presetOpen_ = std::move(path); }

private:
    QPointer<QWidget> parent_;
    std::optional<std::string> presetOpen_;
};

class QtLauncher : public app::Launcher {
public:
    // Through xdg-open (QDesktopServices), the path as one argument; never a shell.
    bool openWithDefaultApplication(const std::string& path) override;
    // Asks the file manager to select the file (freedesktop FileManager1 over D-Bus); without
    // one, opens the folder that holds it.
    bool revealInFileManager(const std::string& path) override;
    // Quits the event loop; the entry starts the new instance once this one has released its
    // single-instance lock (see relaunchRequested).
    void relaunch() override;

    bool relaunchRequested() const { return relaunch_; }

private:
    bool relaunch_ = false;
};

// Starts a new instance of this executable with `arguments`, detached. False when it could not.
bool startNewInstance(const QStringList& arguments);

}  // namespace tapforge::ui
