// Loading a script file for the commands that take one. Refuses a file too large to be a
// script before reading it into memory.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "model/Script.h"

namespace tapforge::cli {

// The decoded script, or nothing with the user-facing reason in `error`.
std::optional<Script> loadScriptFile(const std::string& path, std::string& error);

// Replaces `path` with `contents` atomically: written to a temporary file beside it, flushed
// to disk, then renamed over it, so a failure (a full disk, a signal) leaves the old file
// whole. A file it replaces keeps its permission bits. False with the reason in `error`.
bool writeFileAtomically(const std::string& path, std::string_view contents, std::string& error);

// Writes all of `contents` to `fd`; false with errno set on failure.
bool writeAll(int fd, std::string_view contents);

// Prints "打开失败：" + error to stderr and returns exit status 2.
int reportOpenFailure(const std::string& error);

}  // namespace tapforge::cli
