#include "cli/ScriptFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "cli/Cli.h"
#include "model/ScriptJson.h"

namespace tapforge::cli {

std::optional<Script> loadScriptFile(const std::string& path, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = path + ": 是一个目录";
        return std::nullopt;
    }
    // A regular file larger than the decoder accepts is refused without reading it.
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size > kMaxScriptDocumentBytes) {
        error = "文件过大（" + std::to_string(size / (1024 * 1024)) + " MiB），脚本文件不能超过 64 MiB";
        return std::nullopt;
    }
    std::string contents;
    if (!readFile(path, contents, error, kMaxScriptDocumentBytes)) return std::nullopt;
    ScriptDecodeResult decoded = decodeScript(contents);
    if (!decoded) {
        error = std::move(decoded.error);
        return std::nullopt;
    }
    return std::move(decoded.script);
}

bool writeAll(int fd, std::string_view contents) {
    while (!contents.empty()) {
        const ssize_t n = ::write(fd, contents.data(), contents.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        contents.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool writeFileAtomically(const std::string& path, std::string_view contents, std::string& error) {
    std::string temp = path + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = temp + "：" + std::strerror(errno);
        return false;
    }
    const auto fail = [&](const std::string& what) {
        error = what + "：" + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    };
    struct stat existing {};
    mode_t mode;
    if (::stat(path.c_str(), &existing) == 0) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd, mode) != 0 || !writeAll(fd, contents) || ::fsync(fd) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return fail(temp);
    }
    if (::close(fd) != 0) return fail(temp);
    if (::rename(temp.c_str(), path.c_str()) != 0) return fail(path);
    // The rename itself reaches the disk with its folder.
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

int reportOpenFailure(const std::string& error) {
    std::cerr << "打开失败：" << error << "\n";
    return 2;
}

}  // namespace tapforge::cli
