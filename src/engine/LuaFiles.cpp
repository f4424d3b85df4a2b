// Where Lua steps find their files.
#include <cstdlib>
#include <system_error>

#include <pwd.h>
#include <unistd.h>

#include "engine/LuaStep.h"

namespace tapforge {

namespace fs = std::filesystem;

namespace {

bool isExistingFile(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error) && !fs::is_directory(path, error);
}

// The per-user data folder of the XDG base-directory rules; empty when there is none.
fs::path userDataDirectory() {
    // Relative values are invalid by those rules and are ignored.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') return fs::path(xdg);
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir && entry->pw_dir[0] == '/')
            home = entry->pw_dir;
        else
            home = nullptr;
    }
    if (!home) return {};
    return fs::path(home) / ".local" / "share";
}

}  // namespace

fs::path luaScriptsDirectory() {
    fs::path base = userDataDirectory();
    if (base.empty()) {
        std::error_code error;
        base = fs::temp_directory_path(error);
        if (error) base = "/tmp";
    }
    fs::path directory = base / "Tapforge" / "scripts";
    std::error_code ignored;
    fs::create_directories(directory, ignored);
    return directory;
}

std::optional<fs::path> resolveLuaFile(const std::string& luaFile, const std::optional<fs::path>& baseDirectory) {
    if (luaFile.empty()) return std::nullopt;
    if (luaFile.front() == '/') {
        if (isExistingFile(luaFile)) return fs::path(luaFile);
        return std::nullopt;
    }
    if (baseDirectory) {
        if (fs::path candidate = *baseDirectory / luaFile; isExistingFile(candidate)) return candidate;
    }
    if (fs::path candidate = luaScriptsDirectory() / luaFile; isExistingFile(candidate)) return candidate;
    std::error_code error;
    const fs::path current = fs::current_path(error);
    if (!error) {
        if (fs::path candidate = current / luaFile; isExistingFile(candidate)) return candidate;
    }
    return std::nullopt;
}

}  // namespace tapforge
