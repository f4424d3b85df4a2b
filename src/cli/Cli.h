// The command table of tapforge-cli. Each command lives in its own Command*.cpp and
// registers itself with a static CommandRegistration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tapforge::cli {

struct Command {
    std::string name;
    std::string usage;     // "summary FILE"
    std::string summary;   // one line for --help
    // Arguments after the command name. Returns the process exit code.
    int (*run)(const std::vector<std::string>& args);
};

std::vector<Command>& commandTable();

struct CommandRegistration {
    explicit CommandRegistration(Command command) { commandTable().push_back(std::move(command)); }
};

// Reads a whole file; false with a message in `error` when it cannot be read. With `limit`,
// reading stops one byte past it (so a device such as /dev/zero cannot fill memory) and the
// caller sees the size went over.
bool readFile(const std::string& path, std::string& contents, std::string& error, size_t limit = SIZE_MAX);

}  // namespace tapforge::cli
