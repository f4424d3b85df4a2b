// The guard: interrupt flag and deadline checked by the count hook, the stack discipline of
// the shim's run functions, and that neither pcall nor coroutines let a stopped or timed-out
// script run on.
#include <lua.hpp>

#include <atomic>
#include <thread>

#include "LuaTestSupport.h"
#include "lua/LuaShim.h"
#include "platform/sim/SimClock.h"

namespace tapforge::test {
namespace {

using platform::sim::SimClock;

class LuaGuardTest : public GuardedTest {
protected:
    void SetUp() override {
        GuardedTest::SetUp();
        clock = std::make_shared<SimClock>(SimClock::Mode::virtualTime, 1'000'000);
        setLuaGuardClock(clock);
        runtime = LuaRuntime::create();
        ASSERT_TRUE(runtime);
        // t.stop() requests the interrupt; t.tick() moves virtual time on by 1 ms.
        runtime->registerTable("t", {{"stop", [](LuaRuntime&) { tfg_request_interrupt(1); return 0; }},
                                     {"tick", [this](LuaRuntime&) { clock->advance(1000); return 0; }}});
    }
    LuaRunOutcome run(const std::string& code) { return runtime->runString(code, "=guard"); }

    std::shared_ptr<SimClock> clock;
    std::unique_ptr<LuaRuntime> runtime;
};

TEST_F(LuaGuardTest, EndlessLoopStopsWithinOneCountPeriodOfTheRequest) {
    double passes = -1;
    runtime->registerTable("r", {{"note", [&](LuaRuntime& lua) { passes = *lua.argumentDouble(1); return 0; }}});
    EXPECT_EQ(run("n = 0 t.stop() while true do n = n + 1 r.note(n) end"), LuaRunOutcome::failure("脚本已被用户中断"));
    // Each pass is several instructions; the hook fired at its first count event.
    EXPECT_GT(passes, 0);
    EXPECT_LT(passes, kTfgHookInstructionCount / 4);
    // The flag stays set until its owner clears it.
    EXPECT_FALSE(run("for i = 1, 100000 do end").succeeded);
    tfg_request_interrupt(0);
    EXPECT_TRUE(run("for i = 1, 100000 do end").succeeded);
}

TEST_F(LuaGuardTest, InterruptMessageHasPositionInsideAFunction) {
    EXPECT_EQ(run("local function spin() while true do end end\nt.stop()\nspin()"),
              LuaRunOutcome::failure("guard:3: 脚本已被用户中断"));
}

TEST_F(LuaGuardTest, DeadlineEndsALoopAndIsClearedByTheHook) {
    tfg_set_deadline_ms(tfg_now_ms() + 500);
    EXPECT_EQ(run("while true do t.tick() end"), LuaRunOutcome::failure("Lua 脚本执行超时"));
    EXPECT_EQ(tfg_deadline_ms(), 0);
    EXPECT_GE(clock->nowMicros(), 1'500'000);
    // The check comes at count events only: a few ticks past, never a whole extra period.
    EXPECT_LT(clock->nowMicros(), 1'500'000 + kTfgHookInstructionCount * 1000 / 4);
}

struct Escape {
    const char* name;
    const char* code;
};

class GuardEscapeTest : public LuaGuardTest, public ::testing::WithParamInterface<Escape> {};

// A script that catches the guard error and carries on must still end.
TEST_P(GuardEscapeTest, StopIsNotSwallowed) {
    EXPECT_EQ(run(std::string("t.stop()\n") + GetParam().code).message.find("脚本已被用户中断") != std::string::npos, true);
}

TEST_P(GuardEscapeTest, TimeoutIsNotSwallowed) {
    tfg_set_deadline_ms(tfg_now_ms() + 50);
    const LuaRunOutcome outcome = run(GetParam().code);
    EXPECT_NE(outcome.message.find("Lua 脚本执行超时"), std::string::npos) << outcome.message;
    EXPECT_EQ(tfg_deadline_ms(), 0);
    // The next step sets its own deadline; the state runs normally again.
    tfg_set_deadline_ms(0);
    EXPECT_EQ(run("local s = 0 for i = 1, 100000 do s = s + i end"), LuaRunOutcome::success());
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, GuardEscapeTest,
    ::testing::Values(
        Escape{"pcall", "while true do pcall(function() while true do if t.tick then t.tick() end end end) end"},
        Escape{"xpcall", "while true do xpcall(function() while true do t.tick() end end, function(e) return e end) end"},
        Escape{"coroutine",
               "while true do local co = coroutine.create(function() while true do t.tick() end end) coroutine.resume(co) end"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LuaGuardTest, StopFromAnotherThreadEndsABusyLoop) {
    setLuaGuardClock(nullptr);
    std::atomic<bool> started{false};
    runtime->registerTable("s", {{"started", [&](LuaRuntime&) { started = true; return 0; }}});
    std::thread stopper([&] {
        while (!started) std::this_thread::yield();
        tfg_request_interrupt(1);
    });
    const LuaRunOutcome outcome = run("s.started() local x = 0 while true do x = x + 1 end");
    stopper.join();
    EXPECT_EQ(outcome, LuaRunOutcome::failure("脚本已被用户中断"));
}

// --- the shim's stack discipline, on a bare state

class ShimStackTest : public GuardedTest {
protected:
    void SetUp() override {
        GuardedTest::SetUp();
        L = luaL_newstate();
        luaL_openlibs(L);
        tfg_install_hook(L);
        lua_pushinteger(L, 99);   // something below, which must stay untouched
    }
    void TearDown() override {
        lua_close(L);
        GuardedTest::TearDown();
    }
    lua_State* L = nullptr;
};

TEST_F(ShimStackTest, SuccessLeavesAllResultsFailureExactlyOneValue) {
    ASSERT_EQ(tfg_run_string(L, "return 1, 'two', nil", "=three"), tfg_OK());
    EXPECT_EQ(tfg_gettop(L), 4);
    EXPECT_EQ(tfg_type(L, 4), tfg_TNIL());
    EXPECT_STREQ(tfg_tolstring(L, 3, nullptr), "two");
    tfg_settop(L, 1);

    EXPECT_EQ(tfg_run_string(L, "local a, b, c = 1, 2, 3 error('bad')", "=fails"), LUA_ERRRUN);
    EXPECT_EQ(tfg_gettop(L), 2);
    EXPECT_STREQ(tfg_tolstring(L, 2, nullptr), "fails:1: bad");
    tfg_settop(L, 1);

    EXPECT_EQ(tfg_run_string(L, "x = 1 +", "=syntax"), LUA_ERRSYNTAX);
    EXPECT_EQ(tfg_gettop(L), 2);
    tfg_settop(L, 1);
    EXPECT_EQ(tfg_run_file(L, "/nonexistent/file.lua"), LUA_ERRFILE);
    EXPECT_EQ(tfg_gettop(L), 2);
    EXPECT_EQ(lua_tointeger(L, 1), 99);
}

}  // namespace
}  // namespace tapforge::test
