// Loading a script file for the commands that take one. Refuses a file too large to be a
// script before reading it into memory.
#pragma once

#include <optional>
#include <string>

#include "model/Script.h"

namespace tapforge::cli {

// The decoded script, or nothing with the user-facing reason in `error`.
std::optional<Script> loadScriptFile(const std::string& path, std::string& error);

// Prints "打开失败：" + error to stderr and returns exit status 2.
int reportOpenFailure(const std::string& error);

}  // namespace tapforge::cli
