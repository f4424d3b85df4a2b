#include "ui/DesktopServices.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include <utility>

namespace tapforge::ui {

namespace {
QString qs(const std::string& s) { return QString::fromStdString(s); }

std::optional<std::string> run(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return QFileInfo(dialog.selectedFiles().first()).absoluteFilePath().toStdString();
}
}  // namespace

std::optional<std::string> QtFilePanels::chooseSaveLocation(const std::string& title, const std::string& proposedName) {
    QFileDialog dialog(parent_, qs(title));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("JSON 脚本 (*.json)"));
    dialog.setDefaultSuffix(QStringLiteral("json"));
    dialog.selectFile(qs(proposedName));
    return run(dialog);
}

std::optional<std::string> QtFilePanels::chooseOpenLocation(const std::string& title, app::FileKind kind,
                                                            const std::string& startFolder) {
    if (presetOpen_) return std::exchange(presetOpen_, std::nullopt);
    QFileDialog dialog(parent_, qs(title), qs(startFolder));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(kind == app::FileKind::lua
                              ? QStringList{QStringLiteral("Lua 脚本 (*.lua)"), QStringLiteral("所有文件 (*)")}
                              : QStringList{QStringLiteral("JSON 脚本 (*.json)"), QStringLiteral("所有文件 (*)")});
    return run(dialog);
}

bool QtLauncher::openWithDefaultApplication(const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(qs(path)));
}

bool QtLauncher::revealInFileManager(const std::string& path) {
    const QString uri = QUrl::fromLocalFile(qs(path)).toString(QUrl::FullyEncoded);   // ASCII, no quotes
    // The freedesktop file-manager interface selects the file; gdbus passes it as one argument.
    if (QProcess::execute(QStringLiteral("gdbus"),
                          {"call", "--session", "--dest", "org.freedesktop.FileManager1", "--object-path",
                           "/org/freedesktop/FileManager1", "--method", "org.freedesktop.FileManager1.ShowItems",
                           "[\"" + uri + "\"]", ""}) == 0)
        return true;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(qs(path)).absolutePath()));
}

void QtLauncher::relaunch() {
    relaunch_ = true;
    QCoreApplication::quit();
}

bool startNewInstance(const QStringList& arguments) {
    return QProcess::startDetached(QCoreApplication::applicationFilePath(), arguments);
}

}  // namespace tapforge::ui
