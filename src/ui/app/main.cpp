// The desktop application `tapforge [FILE.json]`: the main window over one AppState on the X11
// desktop. Closing the window, SIGTERM (a session logout), SIGINT and SIGHUP all quit the same
// way: the controller flushes the pending autosave and the process exits 0.
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

#include "app/AppState.h"
#include "app/InstanceLock.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11ServerInfo.h"
#include "ui/AppStateInspectorHost.h"
#include "ui/DesktopServices.h"
#include "ui/Fonts.h"
#include "ui/Icons.h"
#include "ui/MainWindow.h"
#include "ui/OverlayServices.h"
#include "ui/QuitSignals.h"
#include "ui/StepInspector.h"

using namespace tapforge;

namespace {

// Everything the window system lends the controller, in one place. The picking overlays and
// the recording panel are not in this build yet; the controller treats them as unavailable.
app::UiServices makeUiServices(const platform::Desktop& desktop, std::shared_ptr<ui::QtFilePanels> panels,
                               std::shared_ptr<ui::QtLauncher> launcher) {
    app::UiServices services;
    services.filePanels = std::move(panels);
    services.launcher = std::move(launcher);
    auto overlays = ui::makeOverlayServices(desktop);
    services.pickers = std::move(overlays.pickers);
    services.recordingPanel = std::move(overlays.recordingPanel);
    return services;
}

bool waylandSession() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (type && std::string(type) == "wayland") || (wayland && *wayland);
}

ui::SessionIdentity sessionIdentity() {
    ui::SessionIdentity identity;
    identity.executable = QCoreApplication::applicationFilePath();
    identity.wayland = waylandSession();
    if (auto info = platform::x11::queryServerInfo()) {
        identity.display = QString::fromStdString(info->display);
        identity.serverVendor = QString::fromStdString(info->vendor);
        identity.serverVersion = QString::number(info->release);
    } else {
        identity.display = identity.serverVendor = identity.serverVersion = QStringLiteral("未知");
    }
    return identity;
}

}  // namespace

int main(int argc, char** argv) {
    // Global points are X pixels on this backend (scale 1), so the overlays' drawing and the
    // coordinates they report stay in one space: no Qt device-pixel scaling.
    if (qEnvironmentVariableIsEmpty("QT_ENABLE_HIGHDPI_SCALING")) qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    // First: Qt's xcb plugin installs process-wide Xlib error handlers when it connects, and the
    // X11 backend's handling of a lost connection must come after them.
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tapforge"));
    QApplication::setDesktopFileName(QStringLiteral("tapforge"));
    if (ui::ensureChineseFont().isEmpty())
        std::cerr << "tapforge: no installed font draws Chinese, labels will show empty boxes "
                     "(install fonts-noto-cjk)\n";
    ui::setUpIconTheme();

    std::optional<std::string> file;
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1) file = QFileInfo(arguments[1]).absoluteFilePath().toStdString();

    std::string error;
    auto desktop = platform::x11::openX11Desktop(
        [](std::function<void()> task) { QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection); },
        &error);
    if (!desktop) {
        std::cerr << "tapforge: " << error << "\n";
        QMessageBox::critical(nullptr, QStringLiteral("提示"),
                              QStringLiteral("无法连接 X11 桌面：") + QString::fromStdString(error));
        return 1;
    }

    auto panels = std::make_shared<ui::QtFilePanels>();
    auto launcher = std::make_shared<ui::QtLauncher>();
    int status = 0;
    {
        const app::AppLocations locations = app::AppLocations::standard();
        // Held until the state is gone; a relaunched instance starts only after that.
        const auto lock = app::InstanceLock::acquire(locations.appFolder);
        if (!lock) {
            std::cerr << "tapforge: " << app::InstanceLock::kAlreadyRunningMessage << "\n";
            QMessageBox::information(nullptr, QStringLiteral("提示"),
                                     QString::fromUtf8(app::InstanceLock::kAlreadyRunningMessage));
            return 1;
        }
        const app::UiServices services = makeUiServices(*desktop, panels, launcher);
        app::AppState state({*desktop, services, locations, {}, {}});
        ui::MainWindow window(state, sessionIdentity());
        window.setInspector(ui::createStepInspector(state, services.pickers));
        panels->setParent(&window);
        ui::installQuitSignals([] { QCoreApplication::quit(); });
        window.show();
        if (file) {
            panels->answerNextOpenWith(*file);
            state.openScript();
        }
        status = application.exec();
        // The last second of edits is written before the process ends.
        state.flushAutosave();
    }
    // The new instance starts once this one has let go of its document and services.
    if (launcher->relaunchRequested() && !ui::startNewInstance({})) std::cerr << "tapforge: could not start again\n";
    return status;
}

// Sanitizer builds: allocations that system libraries loaded by Qt (D-Bus, fontconfig) keep
// until exit are theirs, not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\nleak:libfontconfig.so\n";
}
