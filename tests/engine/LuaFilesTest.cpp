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
    const fs::path root = pattern, base = root / "base", scripts = root / "data" / "Tapforge" / "scripts", cwd = root / "cwd";
    const fs::path previous = fs::current_path();
    const char* oldXdg = std::getenv("XDG_DATA_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    const auto touch = [](const fs::path& path) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "return true\n";
    };
    fs::create_directories(cwd);
    fs::current_path(cwd);

    touch(cwd / "x.lua");
    EXPECT_EQ(resolveLuaFile("x.lua", base), cwd / "x.lua");
    touch(scripts / "x.lua");
    EXPECT_EQ(resolveLuaFile("x.lua", base), scripts / "x.lua");
    touch(base / "x.lua");
    EXPECT_EQ(resolveLuaFile("x.lua", base), base / "x.lua");
    EXPECT_EQ(resolveLuaFile("x.lua", std::nullopt), scripts / "x.lua") << "no base folder: skip it";
    touch(base / "lib" / "y.lua");
    EXPECT_EQ(resolveLuaFile("lib/y.lua", base), base / "lib" / "y.lua");
    EXPECT_EQ(resolveLuaFile("missing.lua", base), std::nullopt);
    fs::create_directories(base / "dir.lua");
    EXPECT_EQ(resolveLuaFile("dir.lua", base), std::nullopt) << "a folder is not a Lua file";

    fs::current_path(previous);
    fs::remove_all(root);
    oldXdg ? setenv("XDG_DATA_HOME", savedXdg.c_str(), 1) : unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace tapforge::test
