// Where Lua files are looked for, and the per-user scripts folder.
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

// Sets (or unsets) an environment variable for the length of a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_) setenv(name_, old_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class LuaFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tapforge-luafiles-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        previous = fs::current_path();
    }
    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(root);
    }
    static void touch(const fs::path& path) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "return true\n";
    }
    fs::path root, previous;
};

TEST_F(LuaFiles, ScriptsFolderFollowsXdgThenHomeAndIsCreated) {
    {
        ScopedEnv xdg("XDG_DATA_HOME", (root / "xdg").c_str());
        const fs::path dir = luaScriptsDirectory();
        EXPECT_EQ(dir, root / "xdg" / "Tapforge" / "scripts");
        EXPECT_TRUE(fs::is_directory(dir));
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", "relative/is/ignored");
        ScopedEnv home("HOME", (root / "home").c_str());
        EXPECT_EQ(luaScriptsDirectory(), root / "home" / ".local" / "share" / "Tapforge" / "scripts");
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", nullptr);
        ScopedEnv home("HOME", (root / "home2").c_str());
        EXPECT_EQ(luaScriptsDirectory(), root / "home2" / ".local" / "share" / "Tapforge" / "scripts");
    }
}

TEST_F(LuaFiles, ResolutionOrderIsBaseThenScriptsFolderThenCurrentDirectory) {
    ScopedEnv xdg("XDG_DATA_HOME", (root / "data").c_str());
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

TEST_F(LuaFiles, AbsolutePathsAreTakenAsTheyAre) {
    touch(root / "abs.lua");
    EXPECT_EQ(resolveLuaFile((root / "abs.lua").string(), root / "elsewhere"), root / "abs.lua");
    fs::current_path(root);
    EXPECT_EQ(resolveLuaFile((root / "nope.lua").string(), root), std::nullopt);
    EXPECT_EQ(resolveLuaFile("", root), std::nullopt);
}

}  // namespace
}  // namespace tapforge::test
