// The bridge: results and messages of runs, source files only, host functions and their arguments,
// errors through host code, the memory cap.
#include <stdexcept>

#include "LuaTestSupport.h"
#include "lua/LuaShim.h"

namespace tapforge::test {
namespace {

using LuaRuntimeTest = LuaTest;

TEST_F(LuaRuntimeTest, ResultsAndErrors) {
    const std::string chunk = folder / "chunk.lua";
    const std::pair<const char*, std::string> cases[] = {
        {"return true, 5, 'x', {}, nil, print, 2.5", "true|5|x|<table>|nil|<function>|2.5"},
        {"return 'ab\\0cd', 'a\\xffb'", "ab|a\xEF\xBF\xBD" "b"},   // cut at zero, repaired
        {"local a = 1\nlocal b = 2\nerror('boom')\n", "error: " + chunk + ":3: boom"},
        {"error(nil)", "error: 未知错误"}, {"error({})", "error: 未知错误"}, {"error(42)", "error: 未知错误"}};
    for (const auto& [code, expected] : cases) EXPECT_EQ(eval(code), expected) << code;
    // A syntax error runs nothing.
    EXPECT_TRUE(eval("ran = true\nlocal = 3\n").starts_with("error: " + chunk + ":2:"));
    EXPECT_EQ(run("assert(ran == nil)"), LuaRunOutcome::success());
    EXPECT_NE(show(runtime->runFile(folder / "absent.lua")).find("cannot open"), std::string::npos);
}

// Precompiled chunks are refused by the file runner and every loader in the state; a file at the size cap
// runs, one byte more is refused.
TEST_F(LuaRuntimeTest, OnlySourceTextWithinTheCapIsLoaded) {
    const std::string luac = folder / "mod_binary.lua";
    ASSERT_EQ(run("assert(io.open('" + luac + "', 'wb')):write(string.dump(function() end)):close()"),
              LuaRunOutcome::success());
    folder.write("hashbang.lua", "#!/usr/bin/lua\n\x1bLua\x54");
    for (const std::string& file : {luac, folder / "hashbang.lua"})
        EXPECT_EQ(runtime->runFile(file).first.message, file + " 是预编译的 Lua 字节码，只能运行 Lua 源文件");
    folder.write("mod_text.lua", "return {answer = 41 + 1}");
    run("package.path = '" + folder.path.string() + "/?.lua;' .. package.path");
    EXPECT_EQ(run(R"(local binary = string.dump(function() end)
        assert(load(binary) == nil and load('return 1')() == 1 and require('mod_text').answer == 42)
        local f, message = load(binary, 'x', 'b') assert(f == nil and message:find('binary chunk'), message)
        local g, m = loadfile(')" + luac + R"(') assert(g == nil and m:find('预编译'), m)
        assert(not pcall(dofile, ')" + luac + R"(')) assert(loadfile() == nil and not pcall(dofile))
        local ok, e = pcall(require, 'mod_binary') assert(not ok and e:find('预编译'), e)
        assert(loadfile(')" + folder / "mod_text.lua" + R"(', 'bt', {})().answer == 42))"),
              LuaRunOutcome::success());
    const std::string atCap = folder.write("big.lua", "return 7 --");
    std::filesystem::resize_file(atCap, kTfgMaxSourceBytes);
    EXPECT_EQ(show(runtime->runFile(atCap)), "7");
    std::filesystem::resize_file(atCap, kTfgMaxSourceBytes + 1);
    EXPECT_EQ(show(runtime->runFile(atCap)), "error: " + atCap + " 过大，Lua 文件不能超过 8 MiB");
}

// Each reader's view of one argument: number, string, integer ("-" for none).
TEST_F(LuaRuntimeTest, ArgumentReadersFollowTheConversionRules) {
    auto text = [](const auto& v) { std::ostringstream out; if (v) out << *v; return v ? out.str() : "-"; };
    runtime->registerTable("t", {{"probe", [&](LuaRuntime& lua) {
        lua.pushString(std::to_string(lua.argumentCount()) + " " + text(lua.argumentDouble(1)) + " " +
                       text(lua.argumentString(1)) + " " + text(lua.argumentInteger(1)) + " " +
                       text(lua.argumentDouble(2)));
        return 1;
    }}});
    const std::pair<const char*, const char*> cases[] = {
        {"42", "1 42 - 42 -"},       {"'42'", "1 42 42 42 -"},      {"2.5", "1 2.5 - - -"},
        {"'3.0'", "1 3 3.0 3 -"},     {"3.0", "1 3 - 3 -"},          {"' 0x10 '", "1 16  0x10  16 -"},
        {"'abc'", "1 - abc - -"},     {"true", "1 - - - -"},         {"{}", "1 - - - -"},
        {"'a\\0b'", "1 - a - -"},     {"'\\xe4\\xb8'", "1 - \xEF\xBF\xBD - -"}, {"", "0 - - - -"},
    };
    for (const auto& [argument, expected] : cases)
        EXPECT_EQ(eval(std::string("return t.probe(") + argument + ")"), expected) << argument;
    EXPECT_EQ(runtime->argumentDouble(0), std::nullopt);
}

// Results reach Lua, the stack stays balanced, raised errors unwind host locals, tables are walked in order.
TEST_F(LuaRuntimeTest, HostFunctions) {
    int destroyed = 0;
    std::string seen;
    struct Tracker { int* counter; ~Tracker() { ++*counter; } };
    auto visit = [&](const LuaTableView& v) {
        seen += std::to_string(int(v.fieldNumber("x").value_or(0))) + "/" + v.fieldString("name").value_or("-") + " ";
    };
    runtime->registerTable("t", {
        // On the coroutine's own stack when called from one.
        {"echo", [](LuaRuntime& lua) {
             const int32_t n = lua.argumentCount();
             lua.pushNumber(*lua.argumentDouble(1) * 10), lua.pushNumber(*lua.argumentDouble(2) * 10 + n);
             lua.pushString("seven"), lua.pushStringArray({"a", "b"});
             return 4;
         }},
        {"fail", [&](LuaRuntime& lua) -> int32_t {
             Tracker tracker{&destroyed};
             std::string owned(1000, 'x');
             lua.raiseError("错误文本");
         }},
        {"throws", [](LuaRuntime&) -> int32_t { throw std::runtime_error("host failed"); }},
        {"visit", [&](LuaRuntime& lua) { lua.forEachTableElement(1, visit), lua.pushInteger(lua.argumentCount()); return 1; }}});
    // A host function sees only its own arguments, however many runs came before.
    for (int i = 0; i < 50; ++i) ASSERT_EQ(eval("return 1, 2, 3"), "1|2|3");
    const std::pair<const char*, const char*> cases[] = {
        {"return t.echo(1, 2)", "10|22|seven|<table>"},
        {"local _, _, s, a = t.echo(1, 2) return s .. #a .. a[1] .. a[2]", "seven2ab"},
        {"local co = coroutine.wrap(function(a, b) local x, y = t.echo(a, b) coroutine.yield(x + y) end)\n"
         "local unrelated = {1, 2, 3} return co(1, 2)", "32"},
        {"local ok, e = pcall(t.fail) return e", "错误文本"}, {"t.fail()", "error: 错误文本"},
        {"return pcall(t.throws)", "false|host failed"},
        {"return t.visit({{x=1, name='a'}, 5, {x='2'}, {name=3}, 'text', {x=4, name='d'}})", "1"}};
    for (const auto& [code, expected] : cases) EXPECT_EQ(eval(code), expected) << code;
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(seen, "1/a 2/- 0/- 4/d ");
}

TEST_F(LuaRuntimeTest, RunawayAllocationFailsTheRunAndTheStateSurvives) {
    constexpr size_t limit = 8u << 20;
    runtime = LuaRuntime::create(limit);
    const size_t before = runtime->memoryInUse();
    for (const char* code : {"local s = 'x' while true do s = s .. s end",
                             "local big = {} for i = 1, 1e9 do big[i] = string.rep('y', 100) .. i end"})
        EXPECT_EQ(run(code), LuaRunOutcome::failure("not enough memory"));
    EXPECT_LE(runtime->memoryInUse(), limit);
    // What the failed run held is garbage now: the state is as usable as before.
    EXPECT_EQ(run("collectgarbage() local t = {} for i = 1, 1000 do t[i] = i end"), LuaRunOutcome::success());
    EXPECT_LT(runtime->memoryInUse(), before + (1u << 20));
}

}  // namespace
}  // namespace tapforge::test
