// Where Lua files are looked for: the base folder, the per-user scripts folder, the current one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "engine/LuaStep.h"

namespace tapforge::test {
namespace {

namespace fs = std::filesystem;

TEST(LuaFiles, ResolutionOrderIsBaseThenScriptsFolderThenCurrentDirectory) {
    char pattern[] = "/tmp/tapforge-luafiles-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path root = pattern, base = root / "base", cwd = root / "cwd", previous = fs::current_path();
    const fs::path scripts = root / "data/Tapforge/scripts";
    const char* oldXdg = std::getenv("XDG_DATA_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    fs::create_directories(cwd);
    fs::current_path(cwd);
    const struct {
        fs::path added, name;   // each row adds a file, then resolves a name
        std::optional<fs::path> base, expected;
    } rows[] = {{cwd / "x.lua", "x.lua", base, cwd / "x.lua"},
                {scripts / "x.lua", "x.lua", base, scripts / "x.lua"},
                {base / "x.lua", "x.lua", base, base / "x.lua"},
                {{}, "x.lua", std::nullopt, scripts / "x.lua"},   // no base folder: skip it
                {base / "lib/y.lua", "lib/y.lua", base, base / "lib/y.lua"},
                {{}, "missing.lua", base, std::nullopt},
                {base / "dir.lua/z.lua", "dir.lua", base, std::nullopt}};   // a folder is not a Lua file
    for (const auto& row : rows) {
        if (!row.added.empty()) fs::create_directories(row.added.parent_path()), std::ofstream{row.added};
        EXPECT_EQ(resolveLuaFile(row.name, row.base), row.expected) << row.name;
    }
    fs::current_path(previous);
    fs::remove_all(root);
    oldXdg ? setenv("XDG_DATA_HOME", savedXdg.c_str(), 1) : unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace tapforge::test
