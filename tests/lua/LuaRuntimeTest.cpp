// The bridge: results and messages of runs, host functions and their arguments, errors through host code, the memory cap.
#include <stdexcept>

#include "LuaTestSupport.h"

namespace tapforge::test {
namespace {

class LuaRuntimeTest : public GuardedTest {
protected:
    void SetUp() override {
        GuardedTest::SetUp();
        runtime = LuaRuntime::create();
        ASSERT_TRUE(runtime);
    }
    std::string eval(const std::string& text) { return show(runtime->runFile(folder.write("chunk.lua", text))); }

    ScratchFolder folder;
    std::unique_ptr<LuaRuntime> runtime;
};

TEST_F(LuaRuntimeTest, ResultsAndErrors) {
    const std::string chunk = folder / "chunk.lua";
    EXPECT_EQ(runtime->runFile(folder.write("chunk.lua", "return true, 5, 'x', {}, nil, print, 2.5")).second,
              (std::vector{LuaValue::makeBool(true), LuaValue::makeNumber(5), LuaValue::makeString("x"), LuaValue::makeOther("table"),
                           LuaValue::makeNil(), LuaValue::makeOther("function"), LuaValue::makeNumber(2.5)}));
    const std::pair<const char*, std::string> cases[] = {
        {"return 'ab\\0cd', 'a\\xffb'", "ab|a\xEF\xBF\xBD" "b"},   // cut at zero, repaired
        {"local a = 1\nlocal b = 2\nerror('boom')\n", "error: " + chunk + ":3: boom"},
        {"error(nil)", "error: 未知错误"}, {"error({})", "error: 未知错误"}, {"error(42)", "error: 未知错误"}};
    for (const auto& [code, expected] : cases) EXPECT_EQ(eval(code), expected) << code;
    // A syntax error runs nothing; a missing file fails with the loader's message.
    EXPECT_TRUE(eval("ran = true\nlocal = 3\n").starts_with("error: " + chunk + ":2:"));
    EXPECT_EQ(runtime->runString("assert(ran == nil)", "=check"), LuaRunOutcome::success());
    EXPECT_NE(show(runtime->runFile(folder / "absent.lua")).find("cannot open"), std::string::npos);
}

// Each reader's view of one argument: number, string, integer ("-" for none).
TEST_F(LuaRuntimeTest, ArgumentReadersFollowTheConversionRules) {
    std::string seen;
    auto text = [](const auto& v) { std::ostringstream out; if (v) out << *v; return v ? out.str() : "-"; };
    runtime->registerTable("t", {{"probe", [&](LuaRuntime& lua) {
                                      seen = std::to_string(lua.argumentCount()) + " " + text(lua.argumentDouble(1)) + " " +
                                             text(lua.argumentString(1)) + " " + text(lua.argumentInteger(1)) + " " +
                                             text(lua.argumentDouble(2));
                                      return 0;
                                  }}});
    const std::pair<const char*, const char*> cases[] = {
        {"42", "1 42 - 42 -"},       {"'42'", "1 42 42 42 -"},      {"2.5", "1 2.5 - - -"},
        {"'3.0'", "1 3 3.0 3 -"},     {"3.0", "1 3 - 3 -"},          {"' 0x10 '", "1 16  0x10  16 -"},
        {"'abc'", "1 - abc - -"},     {"true", "1 - - - -"},         {"{}", "1 - - - -"},
        {"'a\\0b'", "1 - a - -"},     {"'\\xe4\\xb8'", "1 - \xEF\xBF\xBD - -"}, {"", "0 - - - -"},
    };
    for (const auto& [argument, expected] : cases) {
        ASSERT_EQ(runtime->runString(std::string("t.probe(") + argument + ")", "=probe"), LuaRunOutcome::success());
        EXPECT_EQ(seen, expected) << argument;
    }
    EXPECT_EQ(runtime->argumentDouble(0), std::nullopt);
}

TEST_F(LuaRuntimeTest, HostResultsReachLuaAndTheStackStaysBalanced) {
    runtime->registerTable(
        "t", {{"three", [](LuaRuntime& lua) { lua.pushInteger(7), lua.pushString("seven"), lua.pushStringArray({"a", "b"}); return 3; }},
              {"count", [](LuaRuntime& lua) { lua.pushInteger(lua.argumentCount()); return 1; }},
              // On the coroutine's own stack when called from one.
              {"echo", [](LuaRuntime& lua) { const int32_t n = lua.argumentCount();
                   lua.pushNumber(*lua.argumentDouble(1) * 10), lua.pushNumber(*lua.argumentDouble(2) * 10 + n); return 2; }}});
    EXPECT_EQ(eval("local n, s, a = t.three() return n .. s .. #a .. a[1] .. a[2]"), "7seven2ab");
    // A host function sees only its own arguments, however many runs came before.
    for (int i = 0; i < 50; ++i) ASSERT_EQ(eval("return 1, 2, 3"), "1|2|3");
    EXPECT_EQ(eval("return t.count(1, 2)"), "2");
    EXPECT_EQ(eval("local co = coroutine.wrap(function(a, b) local x, y = t.echo(a, b) coroutine.yield(x + y) end)\n"
                   "local unrelated = {1, 2, 3} return co(1, 2)"),
              "32");
}

TEST_F(LuaRuntimeTest, RaisedErrorsHaveNoPositionAndUnwindHostLocals) {
    int destroyed = 0;
    struct Tracker { int* counter; ~Tracker() { ++*counter; } };
    runtime->registerTable("t", {{"fail", [&](LuaRuntime& lua) -> int32_t {
                                      Tracker tracker{&destroyed};
                                      std::string owned(1000, 'x');
                                      lua.raiseError("错误文本");
                                  }},
                                 {"throws", [](LuaRuntime&) -> int32_t { throw std::runtime_error("host failed"); }}});
    EXPECT_EQ(eval("local ok, e = pcall(t.fail) return e") + eval("t.fail()"), "错误文本error: 错误文本");
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(eval("return pcall(t.throws)"), "false|host failed");
}

TEST_F(LuaRuntimeTest, TableElementsAreVisitedInArrayOrderSkippingNonTables) {
    std::string seen;
    runtime->registerTable("t", {{"visit", [&](LuaRuntime& lua) {
                                      lua.forEachTableElement(1, [&](const LuaTableView& v) {
                                          seen += std::to_string(int(v.fieldNumber("x").value_or(0))) + "/" + v.fieldString("name").value_or("-") + " ";
                                      });
                                      lua.pushInteger(lua.argumentCount());   // the stack as before
                                      return 1;
                                  }}});
    EXPECT_EQ(eval("return t.visit({{x=1, name='a'}, 5, {x='2'}, {name=3}, 'text', {x=4, name='d'}})"), "1");
    EXPECT_EQ(seen, "1/a 2/- 0/- 4/d ");
}

TEST(LuaMemoryCap, RunawayAllocationFailsTheRunAndTheStateSurvives) {
    constexpr size_t limit = 8u << 20;
    auto runtime = LuaRuntime::create(limit);
    ASSERT_TRUE(runtime);
    const size_t before = runtime->memoryInUse();
    for (const char* code : {"local s = 'x' while true do s = s .. s end",
                             "local big = {} for i = 1, 1e9 do big[i] = string.rep('y', 100) .. i end"})
        EXPECT_EQ(runtime->runString(code, "=grow"), LuaRunOutcome::failure("not enough memory"));
    EXPECT_LE(runtime->memoryInUse(), limit);
    // What the failed run held is garbage now: the state is as usable as before.
    EXPECT_EQ(runtime->runString("collectgarbage() local t = {} for i = 1, 1000 do t[i] = i end", "=after"),
              LuaRunOutcome::success());
    EXPECT_LT(runtime->memoryInUse(), before + (1u << 20));
}

}  // namespace
}  // namespace tapforge::test
