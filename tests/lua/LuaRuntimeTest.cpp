// The bridge: state set-up, results and messages of protected runs, host functions and their
// argument readers, coroutines, errors unwinding through host code, the memory cap.
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

    std::pair<LuaRunOutcome, std::vector<LuaValue>> runFile(const std::string& text) {
        return runtime->runFile(folder.write("chunk.lua", text));
    }
    // Runs `text` as a file and returns its single result (a failure shows as a string).
    LuaValue eval(const std::string& text) {
        auto [outcome, values] = runFile(text);
        if (!outcome.succeeded) return LuaValue::makeString("FAILED: " + outcome.message);
        return values.empty() ? LuaValue::makeNil() : values.front();
    }

    ScratchFolder folder;
    std::unique_ptr<LuaRuntime> runtime;
};

TEST_F(LuaRuntimeTest, ResultsAreConvertedInOrder) {
    auto [outcome, values] = runFile("return true, 5, 'x', {}, nil, print, 2.5");
    ASSERT_TRUE(outcome.succeeded) << outcome.message;
    EXPECT_EQ(values, (std::vector<LuaValue>{LuaValue::makeBool(true), LuaValue::makeNumber(5), LuaValue::makeString("x"),
                                             LuaValue::makeOther("table"), LuaValue::makeNil(),
                                             LuaValue::makeOther("function"), LuaValue::makeNumber(2.5)}));
}

TEST_F(LuaRuntimeTest, RuntimeErrorCarriesChunkNameAndLine) {
    const std::string path = folder.write("boom.lua", "local a = 1\nlocal b = 2\nerror('boom')\n");
    auto [outcome, values] = runtime->runFile(path);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.message, path + ":3: boom");
    EXPECT_TRUE(values.empty());
}

class NonStringErrorTest : public LuaRuntimeTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(NonStringErrorTest, GivesUnknownError) {
    auto [outcome, values] = runFile(std::string("error(") + GetParam() + ")");
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.message, "未知错误");
}

INSTANTIATE_TEST_SUITE_P(Objects, NonStringErrorTest, ::testing::Values("nil", "{}", "42"));

TEST_F(LuaRuntimeTest, SyntaxErrorRunsNothing) {
    auto [outcome, values] = runFile("ran = true\nlocal = 3\n");
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_NE(outcome.message.find("chunk.lua:2:"), std::string::npos) << outcome.message;
    EXPECT_EQ(runtime->runString("assert(ran == nil)", "=check"), LuaRunOutcome::success());
}

TEST_F(LuaRuntimeTest, MissingFileIsAFailureWithTheLoaderMessage) {
    auto [outcome, values] = runtime->runFile((folder.path() / "absent.lua").string());
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_NE(outcome.message.find("cannot open"), std::string::npos) << outcome.message;
}

TEST_F(LuaRuntimeTest, ResultStringsAreCutAtZeroAndRepaired) {
    EXPECT_EQ(eval("return 'ab\\0cd'"), LuaValue::makeString("ab"));
    EXPECT_EQ(eval("return 'a\\xffb'"), LuaValue::makeString("a\xEF\xBF\xBD" "b"));
}

// --- host functions

struct Probe {
    int32_t count = -1;
    std::optional<double> number1, number2;
    std::optional<std::string> string1;
    std::optional<int64_t> integer1;
};

TEST_F(LuaRuntimeTest, ArgumentReadersFollowTheConversionRules) {
    Probe probe;
    runtime->registerTable("t", {{"probe", [&](LuaRuntime& lua) {
                                      probe = {lua.argumentCount(), lua.argumentDouble(1), lua.argumentDouble(2),
                                               lua.argumentString(1), lua.argumentInteger(1)};
                                      return 0;
                                  }}});
    struct Case {
        const char* call;
        std::optional<double> number1;
        std::optional<std::string> string1;
        std::optional<int64_t> integer1;
    };
    const Case cases[] = {
        {"t.probe(42)", 42.0, std::nullopt, 42},
        {"t.probe('42')", 42.0, "42", 42},
        {"t.probe(2.5)", 2.5, std::nullopt, std::nullopt},
        {"t.probe('3.0')", 3.0, "3.0", 3},
        {"t.probe(3.0)", 3.0, std::nullopt, 3},
        {"t.probe(' 0x10 ')", 16.0, " 0x10 ", 16},
        {"t.probe('abc')", std::nullopt, "abc", std::nullopt},
        {"t.probe(true)", std::nullopt, std::nullopt, std::nullopt},
        {"t.probe({})", std::nullopt, std::nullopt, std::nullopt},
        {"t.probe('a\\0b')", std::nullopt, "a", std::nullopt},
        {"t.probe('\\xe4\\xb8')", std::nullopt, "\xEF\xBF\xBD", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        probe = {};
        ASSERT_EQ(runtime->runString(c.call, "=probe"), LuaRunOutcome::success());
        EXPECT_EQ(probe.count, 1);
        EXPECT_EQ(probe.number1, c.number1);
        EXPECT_EQ(probe.string1, c.string1);
        EXPECT_EQ(probe.integer1, c.integer1);
        EXPECT_EQ(probe.number2, std::nullopt);
    }
    probe = {};
    ASSERT_EQ(runtime->runString("t.probe()", "=probe"), LuaRunOutcome::success());
    EXPECT_EQ(probe.count, 0);
    EXPECT_EQ(probe.number1, std::nullopt);
    EXPECT_EQ(runtime->argumentDouble(0), std::nullopt);
}

TEST_F(LuaRuntimeTest, HostResultsReachLuaAndTheStackStaysBalanced) {
    runtime->registerTable("t", {{"three", [](LuaRuntime& lua) {
                                      lua.pushInteger(7);
                                      lua.pushString("seven");
                                      lua.pushStringArray({"a", "b"});
                                      return 3;
                                  }},
                                 {"count", [](LuaRuntime& lua) {
                                      lua.pushInteger(lua.argumentCount());
                                      return 1;
                                  }}});
    EXPECT_EQ(eval("local n, s, a = t.three() return n .. s .. #a .. a[1] .. a[2]"), LuaValue::makeString("7seven2ab"));
    // A host function sees only its own arguments, however many runs came before.
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(runFile("return 1, 2, 3").first.succeeded);
    EXPECT_EQ(eval("return t.count(1, 2)"), LuaValue::makeNumber(2));
}

TEST_F(LuaRuntimeTest, HostFunctionInACoroutineWorksOnTheCoroutineStack) {
    int32_t seen = -1;
    runtime->registerTable("t", {{"echo", [&](LuaRuntime& lua) {
                                      seen = lua.argumentCount();
                                      lua.pushNumber(*lua.argumentDouble(1) * 10);
                                      lua.pushNumber(*lua.argumentDouble(2) * 10);
                                      return 2;
                                  }}});
    EXPECT_EQ(eval("local co = coroutine.wrap(function(a, b)\n"
                   "  local x, y = t.echo(a, b)\n"
                   "  coroutine.yield(x + y)\n"
                   "end)\n"
                   "local unrelated = {1, 2, 3}\n"
                   "return co(1, 2)"),
              LuaValue::makeNumber(30));
    EXPECT_EQ(seen, 2);
}

TEST_F(LuaRuntimeTest, RaisedErrorHasNoPositionAndUnwindsHostLocals) {
    int destroyed = 0;
    struct Tracker {
        int* counter;
        ~Tracker() { ++*counter; }
    };
    runtime->registerTable("t", {{"fail", [&](LuaRuntime& lua) -> int32_t {
                                      Tracker tracker{&destroyed};
                                      std::string owned(1000, 'x');
                                      lua.raiseError("错误文本");
                                  }}});
    EXPECT_EQ(eval("local ok, e = pcall(t.fail) return e"), LuaValue::makeString("错误文本"));
    EXPECT_EQ(destroyed, 1);
    auto [outcome, values] = runFile("t.fail()");
    EXPECT_EQ(outcome, LuaRunOutcome::failure("错误文本"));
    EXPECT_EQ(destroyed, 2);
}

TEST_F(LuaRuntimeTest, CppExceptionInHostFunctionBecomesALuaError) {
    runtime->registerTable("t", {{"throws", [](LuaRuntime&) -> int32_t { throw std::runtime_error("host failed"); }}});
    EXPECT_EQ(eval("local ok, e = pcall(t.throws) return tostring(ok) .. ' ' .. e"), LuaValue::makeString("false host failed"));
}

TEST_F(LuaRuntimeTest, TableElementsAreVisitedInArrayOrderSkippingNonTables) {
    std::vector<std::string> seen;
    runtime->registerTable("t", {{"visit", [&](LuaRuntime& lua) {
                                      lua.forEachTableElement(1, [&](const LuaTableView& view) {
                                          const auto x = view.fieldNumber("x");
                                          const auto name = view.fieldString("name");
                                          seen.push_back((x ? std::to_string(static_cast<int>(*x)) : "-") + "/" +
                                                         name.value_or("-"));
                                      });
                                      lua.pushInteger(lua.argumentCount());
                                      return 1;
                                  }}});
    EXPECT_EQ(eval("return t.visit({{x=1, name='a'}, 5, {x='2'}, {name=3}, 'text', {x=4, name='d'}})"),
              LuaValue::makeNumber(1));
    EXPECT_EQ(seen, (std::vector<std::string>{"1/a", "2/-", "-/-", "4/d"}));
}

// --- memory cap

TEST(LuaMemoryCap, RunawayAllocationFailsTheRunAndTheStateSurvives) {
    constexpr size_t limit = 8u << 20;
    auto runtime = LuaRuntime::create(limit);
    ASSERT_TRUE(runtime);
    const size_t before = runtime->memoryInUse();
    EXPECT_GT(before, 0u);
    EXPECT_EQ(runtime->runString("local s = 'x' while true do s = s .. s end", "=grow"),
              LuaRunOutcome::failure("not enough memory"));
    EXPECT_EQ(runtime->runString("local big = {} for i = 1, 1e9 do big[i] = string.rep('y', 100) .. i end", "=fill"),
              LuaRunOutcome::failure("not enough memory"));
    EXPECT_LE(runtime->memoryInUse(), limit);
    // What the failed run held is garbage now: the state is as usable as before.
    EXPECT_EQ(runtime->runString("collectgarbage() local t = {} for i = 1, 1000 do t[i] = i end", "=after"),
              LuaRunOutcome::success());
    EXPECT_LT(runtime->memoryInUse(), before + (1u << 20));
}

}  // namespace
}  // namespace tapforge::test
