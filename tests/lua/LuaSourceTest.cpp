// Loading Lua code from shared files: source text only, regular files only, a size cap; the
// same rules for the step's file and for load, loadfile, dofile and require inside the state.
#include <sys/stat.h>

#include <filesystem>

#include "LuaTestSupport.h"
#include "lua/LuaShim.h"

namespace tapforge::test {
namespace {

class LuaSourceTest : public GuardedTest {
protected:
    void SetUp() override {
        GuardedTest::SetUp();
        runtime = LuaRuntime::create();
        ASSERT_TRUE(runtime);
        // A real precompiled chunk, as luac writes it, under both names.
        ASSERT_EQ(runtime->runString("local f = assert(io.open('" + (folder.path() / "chunk.luac").string() +
                                         "', 'wb')) f:write(string.dump(function() return 42 end)) f:close()",
                                     "=dump"),
                  LuaRunOutcome::success());
        std::filesystem::copy_file(folder.path() / "chunk.luac", folder.path() / "chunk.lua");
    }
    std::string path(const std::string& name) const { return (folder.path() / name).string(); }
    LuaRunOutcome run(const std::string& code) { return runtime->runString(code, "=test"); }

    ScratchFolder folder;
    std::unique_ptr<LuaRuntime> runtime;
};

TEST_F(LuaSourceTest, PrecompiledChunksAreRefusedNamingTheFile) {
    folder.write("hashbang.lua", "#!/usr/bin/lua\n" + std::string("\x1bLua\x54", 5));
    for (const char* name : {"chunk.luac", "chunk.lua", "hashbang.lua"}) {
        const auto [outcome, values] = runtime->runFile(path(name));
        EXPECT_FALSE(outcome.succeeded) << name;
        EXPECT_EQ(outcome.message, path(name) + " 是预编译的 Lua 字节码，只能运行 Lua 源文件");
    }
}

TEST_F(LuaSourceTest, OnlyRegularFilesAreRead) {
    ASSERT_EQ(::mkfifo(path("pipe.lua").c_str(), 0600), 0);
    std::filesystem::create_directory(path("folder.lua"));
    for (const char* file : {"pipe.lua", "folder.lua"}) {
        const auto [outcome, values] = runtime->runFile(path(file));
        EXPECT_EQ(outcome, LuaRunOutcome::failure(path(file) + " 不是普通文件，不能作为 Lua 脚本读取"));
    }
    const auto [outcome, values] = runtime->runFile("/dev/zero");
    EXPECT_FALSE(outcome.succeeded);
}

TEST_F(LuaSourceTest, SizeCapAcceptsAFileAtTheCapAndRefusesOneByteMore) {
    // Source followed by NUL bytes inside a comment: valid Lua of exactly the cap.
    const std::string atCap = folder.write("big.lua", "return 7 --");
    std::filesystem::resize_file(atCap, kTfgMaxSourceBytes);
    const auto [ok, values] = runtime->runFile(atCap);
    ASSERT_EQ(ok, LuaRunOutcome::success());
    EXPECT_EQ(values, std::vector<LuaValue>{LuaValue::makeNumber(7)});
    std::filesystem::resize_file(atCap, kTfgMaxSourceBytes + 1);
    EXPECT_EQ(runtime->runFile(atCap).first, LuaRunOutcome::failure(atCap + " 过大，Lua 文件不能超过 8 MiB"));
}

TEST_F(LuaSourceTest, LoadersInsideTheStateTakeSourceOnly) {
    folder.write("mod_text.lua", "return {answer = 41 + 1}");
    std::filesystem::copy_file(path("chunk.luac"), path("mod_binary.lua"));
    run("package.path = '" + folder.path().string() + "/?.lua;' .. package.path");
    const std::string luac = path("chunk.luac");
    EXPECT_EQ(run("local binary = string.dump(function() end)\n"
                  "assert(load(binary) == nil)\n"
                  "local f, message = load(binary, 'x', 'b')\n"
                  "assert(f == nil and message:find('binary chunk'), message)\n"
                  "assert(load('return 1')() == 1)\n"
                  "local g, m = loadfile('" + luac + "')\n"
                  "assert(g == nil and m:find('预编译'), m)\n"
                  "assert(not pcall(dofile, '" + luac + "'))\n"
                  "assert(loadfile() == nil and not pcall(dofile))\n"
                  "assert(require('mod_text').answer == 42)\n"
                  "local ok, e = pcall(require, 'mod_binary')\n"
                  "assert(not ok and e:find('预编译'), e)\n"
                  "local h = loadfile('" + path("mod_text.lua") + "', 'bt', {})\n"
                  "assert(h().answer == 42)"),
              LuaRunOutcome::success());
}

}  // namespace
}  // namespace tapforge::test
