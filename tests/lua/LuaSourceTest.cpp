// Source text only, regular files only, a size cap: for the step's file and for the loaders inside the state.
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
        ASSERT_EQ(run("local f = assert(io.open('" + folder / "chunk.luac" + "', 'wb')) f:write(string.dump(function() end)) f:close()"),
                  LuaRunOutcome::success());
        std::filesystem::copy_file(folder / "chunk.luac", folder / "chunk.lua");
    }
    LuaRunOutcome run(const std::string& code) { return runtime->runString(code, "=test"); }

    ScratchFolder folder;
    std::unique_ptr<LuaRuntime> runtime;
};

TEST_F(LuaSourceTest, OnlyRegularSourceFilesAreRead) {
    folder.write("hashbang.lua", "#!/usr/bin/lua\n" + std::string("\x1bLua\x54", 5));
    std::filesystem::create_directory(folder / "folder.lua");
    const std::pair<const char*, const char*> cases[] = {
        {"chunk.luac", " 是预编译的 Lua 字节码，只能运行 Lua 源文件"}, {"chunk.lua", " 是预编译的 Lua 字节码，只能运行 Lua 源文件"},
        {"hashbang.lua", " 是预编译的 Lua 字节码，只能运行 Lua 源文件"}, {"folder.lua", " 不是普通文件，不能作为 Lua 脚本读取"}};
    for (const auto& [name, message] : cases) EXPECT_EQ(runtime->runFile(folder / name).first.message, folder / name + message);
    EXPECT_FALSE(runtime->runFile("/dev/zero").first.succeeded);
}

TEST_F(LuaSourceTest, SizeCapAcceptsAFileAtTheCapAndRefusesOneByteMore) {
    const std::string atCap = folder.write("big.lua", "return 7 --");
    std::filesystem::resize_file(atCap, kTfgMaxSourceBytes);
    EXPECT_EQ(show(runtime->runFile(atCap)), "7");
    std::filesystem::resize_file(atCap, kTfgMaxSourceBytes + 1);
    EXPECT_EQ(show(runtime->runFile(atCap)), "error: " + atCap + " 过大，Lua 文件不能超过 8 MiB");
}

TEST_F(LuaSourceTest, LoadersInsideTheStateTakeSourceOnly) {
    folder.write("mod_text.lua", "return {answer = 41 + 1}");
    std::filesystem::copy_file(folder / "chunk.luac", folder / "mod_binary.lua");
    run("package.path = '" + folder.path.string() + "/?.lua;' .. package.path");
    const std::string luac = folder / "chunk.luac";
    EXPECT_EQ(run(R"(local binary = string.dump(function() end) assert(load(binary) == nil) local f, message = load(binary, 'x', 'b')
                    assert(f == nil and message:find('binary chunk'), message) assert(load('return 1')() == 1)
                    local g, m = loadfile(')" + luac + R"(') assert(g == nil and m:find('预编译'), m)
                    assert(not pcall(dofile, ')" + luac + R"(')) assert(loadfile() == nil and not pcall(dofile))
                    assert(require('mod_text').answer == 42) local ok, e = pcall(require, 'mod_binary')
                    assert(not ok and e:find('预编译'), e) assert(loadfile(')" + folder / "mod_text.lua" + R"(', 'bt', {})().answer == 42))"),
              LuaRunOutcome::success());
}

}  // namespace
}  // namespace tapforge::test
