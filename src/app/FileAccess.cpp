#include "app/FileAccess.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace tapforge::app {

namespace {

std::string systemError(int error) { return std::strerror(error); }

}  // namespace

FileRead readRegularFile(const std::string& path, size_t maxBytes, OverCap overCap) {
    // O_NONBLOCK: opening a FIFO for reading must not wait for a writer; the type is checked
    // on the open descriptor, so the file cannot be swapped between check and read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {std::nullopt, systemError(errno)};
    FileRead result;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        result.error = systemError(errno);
    } else if (!S_ISREG(info.st_mode)) {
        result.error = "不是普通文件";
    } else if (static_cast<unsigned long long>(info.st_size) > maxBytes && overCap == OverCap::fail) {
        result.error = "文件太大（超过 " + std::to_string(maxBytes / (1024 * 1024)) + " MiB）";
    } else {
        std::string bytes(std::min<size_t>(static_cast<size_t>(info.st_size), maxBytes), '\0');
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                result.error = systemError(errno);
                break;
            }
            if (n == 0) break;   // shrank meanwhile
            done += static_cast<size_t>(n);
        }
        if (result.error.empty()) {
            bytes.resize(done);
            result.bytes = std::move(bytes);
        }
    }
    ::close(fd);
    return result;
}

std::optional<std::string> writeFileAtomically(const std::string& path, const std::string& bytes) {
    const QString file = QString::fromStdString(path);
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSaveFile out(file);
    // Unbuffered: with Qt's write buffer a failed flush (a full disk) is not seen by commit(),
    // which then renames the truncated temporary file over the old one (Qt 6.4).
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return out.errorString().toStdString();
    if (out.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()) ||
        out.error() != QFileDevice::NoError) {
        std::string reason = out.errorString().toStdString();
        out.cancelWriting();
        return reason;
    }
    // commit() flushes, syncs to disk and renames over the old file.
    if (!out.commit()) return out.errorString().toStdString();
    return std::nullopt;
}

}  // namespace tapforge::app
