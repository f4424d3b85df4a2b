// Where Lua files are looked for: the base folder, the per-user scripts folder, the current one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include <unistd.h>

#include "engine/LuaStep.h"

namespace tapforge::test {
namespace {

namespace fs = std::filesystem;

class LuaFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tapforge-luafiles-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        previous = fs::current_path();
        if (const char* old = std::getenv("XDG_DATA_HOME")) oldXdg = old;
        setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    }
    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(root);
        if (oldXdg) setenv("XDG_DATA_HOME", oldXdg->c_str(), 1);
        else unsetenv("XDG_DATA_HOME");
    }
    static void touch(const fs::path& path) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "return true\n";
    }
    fs::path root, previous;
    std::optional<std::string> oldXdg;
};

TEST_F(LuaFiles, ResolutionOrderIsBaseThenScriptsFolderThenCurrentDirectory) {
    const fs::path base = root / "base", scripts = root / "data" / "Tapforge" / "scripts", cwd = root / "cwd";
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
}

}  // namespace
}  // namespace tapforge::test
