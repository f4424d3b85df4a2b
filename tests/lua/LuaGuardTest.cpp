// The guard: interrupt flag and deadline checked by the count hook, the stack discipline of
// the shim's run functions, and that neither pcall nor coroutines let a stopped or timed-out
// script run on.
#include <lua.hpp>

#include <pthread.h>
#include <signal.h>

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

TEST_F(LuaGuardTest, StopRequestedByTheScriptEndsItBeforeItsNextPass) {
    double passes = -1;
    runtime->registerTable("r", {{"note", [&](LuaRuntime& lua) { passes = *lua.argumentDouble(1); return 0; }}});
    EXPECT_EQ(run("n = 0 t.stop() while true do n = n + 1 r.note(n) end"), LuaRunOutcome::failure("脚本已被用户中断"));
    EXPECT_EQ(passes, -1);
    // The flag stays set until its owner clears it.
    EXPECT_FALSE(run("for i = 1, 100000 do end").succeeded);
    tfg_request_interrupt(0);
    EXPECT_TRUE(run("for i = 1, 100000 do end").succeeded);
}

TEST_F(LuaGuardTest, InterruptMessageHasPositionInsideAFunction) {
    EXPECT_EQ(run("local function spin() t.stop() while true do end end\nspin()"),
              LuaRunOutcome::failure("guard:2: 脚本已被用户中断"));
}

// The simulated clock moves only in host calls; the one that carries it past the deadline is
// the last.
TEST_F(LuaGuardTest, DeadlineIsSeenRightAfterTheHostCallThatPassesItAndCleared) {
    tfg_set_deadline_ms(tfg_now_ms() + 500);
    EXPECT_EQ(run("while true do t.tick() end"), LuaRunOutcome::failure("Lua 脚本执行超时"));
    EXPECT_EQ(tfg_deadline_ms(), 0);
    EXPECT_EQ(clock->nowMicros(), 1'500'000);
}

// The point of setting the hook only on demand: ordinary code runs without one.
TEST_F(LuaGuardTest, NoHookIsSetWhileNothingIsPending) {
    if (luaGuardCarriesHook()) GTEST_SKIP() << "this build carries the hook";
    EXPECT_EQ(run("assert(debug.gethook() == nil) "
                  "coroutine.wrap(function() assert(debug.gethook() == nil) end)()"),
              LuaRunOutcome::success());
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

// Real clock: the stop comes from another thread, the deadline from the watchdog, while the
// script runs pure Lua code with no host call to notice them.
class GuardFromOutsideTest : public LuaGuardTest, public ::testing::WithParamInterface<Escape> {
protected:
    void SetUp() override {
        LuaGuardTest::SetUp();
        setLuaGuardClock(nullptr);
        runtime->registerTable("s", {{"started", [this](LuaRuntime&) { started = true; return 0; }}});
    }
    std::atomic<bool> started{false};
};

TEST_P(GuardFromOutsideTest, StopFromAnotherThreadEndsIt) {
    std::thread stopper([&] {
        while (!started) std::this_thread::yield();
        tfg_request_interrupt(1);
    });
    // A stop that comes before the finalizer or handler loops would find nothing left to stop:
    // those cases say themselves when their loop begins.
    const std::string code = GetParam().code;
    const LuaRunOutcome outcome = run(code.find("s.started()") == std::string::npos ? "s.started() " + code : code);
    stopper.join();
    EXPECT_NE(outcome.message.find("脚本已被用户中断"), std::string::npos) << outcome.message;
}

TEST_P(GuardFromOutsideTest, DeadlineEndsIt) {
    tfg_set_deadline_ms(tfg_now_ms() + 30);
    const LuaRunOutcome outcome = run(GetParam().code);
    EXPECT_NE(outcome.message.find("Lua 脚本执行超时"), std::string::npos) << outcome.message;
    EXPECT_EQ(tfg_deadline_ms(), 0);
}

// A command that waits for its signals blocks them all in the threads it starts.
TEST_F(LuaGuardTest, StopReachesAThreadThatBlocksSignals) {
    setLuaGuardClock(nullptr);
    std::atomic<bool> started{false};
    runtime->registerTable("s", {{"started", [&](LuaRuntime&) { started = true; return 0; }}});
    LuaRunOutcome outcome;
    std::thread worker([&] {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        outcome = run("s.started() while true do end");
    });
    while (!started) std::this_thread::yield();
    tfg_request_interrupt(1);
    worker.join();
    EXPECT_EQ(outcome, LuaRunOutcome::failure("脚本已被用户中断"));
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, GuardFromOutsideTest,
    ::testing::Values(
        Escape{"loop", "local x = 0 while true do x = x + 1 end"},
        Escape{"pcall", "while true do pcall(function() while true do end end) end"},
        Escape{"resume", "while true do coroutine.resume(coroutine.create(function() while true do end end)) end"},
        Escape{"wrap", "while true do pcall(coroutine.wrap(function() for i = 1, math.huge do end end)) end"},
        Escape{"nested", "coroutine.wrap(function() local co = coroutine.create(function() while true do end end) "
                         "while true do coroutine.resume(co) end end)()"},
        Escape{"yielding", "local co = coroutine.wrap(function() while true do coroutine.yield() end end) "
                           "while true do co() end"},
        Escape{"closing", "local co = coroutine.create(function() local x <close> = setmetatable({}, "
                          "{__close = function() while true do end end}) coroutine.yield() end) "
                          "coroutine.resume(co) coroutine.close(co)"},
        // Lua runs finalizers with hooks off, and a message handler inside the hook that raised the guard's error.
        Escape{"finalizer", "setmetatable({}, {__gc = function() s.started() while true do end end}) collectgarbage()"},
        Escape{"debugFinalizer", "debug.setmetatable(setmetatable({}, {}), {__gc = function() s.started() while true do end end}) "
                                 "collectgarbage()"},
        Escape{"messageHandler", "xpcall(function() while true do end end, function(e) while true do end end)"},
        Escape{"handlerOfOwnError", "xpcall(error, function(e) s.started() while true do end end)"}),
    [](const auto& info) { return std::string(info.param.name); });

// A finalizer still pending when the state is closed runs then, at the end of the run.
TEST_F(LuaGuardTest, LoopingFinalizerRunByClosingTheStateEndsOnStop) {
    setLuaGuardClock(nullptr);
    std::atomic<bool> finalizing{false};
    runtime->registerTable("s", {{"finalizing", [&](LuaRuntime&) { finalizing = true; return 0; }}});
    ASSERT_EQ(run("kept = setmetatable({}, {__gc = function() s.finalizing() while true do end end})"),
              LuaRunOutcome::success());
    std::thread closer([&] { runtime.reset(); });
    while (!finalizing) std::this_thread::yield();
    tfg_request_interrupt(1);
    closer.join();
}

// The state's coroutine functions, xpcall and the two setmetatable are replaced to track or
// guard the code they run; scripts must not see a difference from Lua's own.
TEST(GuardedCoroutinesTest, BehaveAsLuasOwn) {
    const char* cases[] = {
        "local co = coroutine.create(function(a, b) local c = coroutine.yield(a + b) return c * 2, 'end' end) "
        "local r = {coroutine.resume(co, 1, 2)} r[#r + 1] = coroutine.status(co) "
        "for _, v in ipairs({coroutine.resume(co, 5)}) do r[#r + 1] = v end "
        "for _, v in ipairs({coroutine.resume(co)}) do r[#r + 1] = v end return r",
        "return {pcall(coroutine.resume, 1)}",
        "return {pcall(coroutine.resume)}",
        "return {pcall(coroutine.wrap, 1)}",
        "local f = coroutine.wrap(function() error('boom') end) return {pcall(f)}",
        "local f = coroutine.wrap(function() error({}) end) local ok, e = pcall(f) return {ok, type(e)}",
        "local f = coroutine.wrap(function() return 1 end) f() return {pcall(f)}",
        "local f = coroutine.wrap(function(...) local n = select('#', ...) coroutine.yield(n, ...) return 'done' end) "
        "local r = {f(1, nil, 3)} r[#r + 1] = f() return r",
        "local closed = 'no' local f = coroutine.wrap(function() local x <close> = setmetatable({}, "
        "{__close = function() closed = 'yes' end}) error('x') end) local ok, e = pcall(f) return {ok, e, closed}",
        "local co = coroutine.running() return {coroutine.resume(co)}",
        "return {coroutine.isyieldable(), select(2, coroutine.running())}",
        "local log = {} local co = coroutine.create(function() local x <close> = setmetatable({}, "
        "{__close = function() log[#log + 1] = 'closed' end}) coroutine.yield() end) coroutine.resume(co) "
        "local r = {coroutine.close(co)} r[#r + 1] = log[1] r[#r + 1] = coroutine.status(co) return r",
        "local co = coroutine.create(function() local x <close> = setmetatable({}, {__close = function() error('in close') end}) "
        "coroutine.yield() end) coroutine.resume(co) return {coroutine.close(co)}",
        "local co co = coroutine.create(function() return pcall(coroutine.close, co) end) return {coroutine.resume(co)}",
        "local outer = coroutine.running() local co = coroutine.create(function() return pcall(coroutine.close, outer) end) "
        "return {coroutine.resume(co)}",
        "local co = coroutine.create(function() error('x') end) coroutine.resume(co) return {coroutine.close(co)}",
        "return {pcall(coroutine.close, 5)}",
        "return {xpcall(function(a, b) return a + b, 'x' end, function(e) return 'h' .. e end, 1, 2)}",
        "return {xpcall(function() error('boom') end, function(e) return 'handled: ' .. e end)}",
        "return {xpcall(function() error({}) end, function(e) return type(e) end)}",
        "return {xpcall(error, tostring, 'c handler')}",
        "return {pcall(xpcall, print)}",
        "return {pcall(xpcall)}",
        "local f = coroutine.wrap(function() return xpcall(function() coroutine.yield(1) return 2 end, print) end) "
        "return {f(), f()}",
        "local t = setmetatable({}, {__index = function(_, k) return k .. '!' end}) return {t.a, getmetatable(t) ~= nil}",
        "local t = setmetatable({}, {__metatable = 'locked'}) return {pcall(setmetatable, t, {})}",
        "return {pcall(setmetatable, 1, {})}",
        "return {pcall(setmetatable, {}, 1)}",
        "local t = setmetatable({}, {}) return {setmetatable(t, nil) == t, getmetatable(t)}",
        "local log = {} do setmetatable({}, {__gc = function(o) log[#log + 1] = type(o) end}) end "
        "collectgarbage() collectgarbage() return {log[1], #log}",
        "local log = {} do debug.setmetatable(setmetatable({}, {}), {__gc = function() log[1] = 'dgc' end}) end "
        "collectgarbage() return {log[1]}",
        "do setmetatable({}, {__gc = function() error('in gc') end}) end collectgarbage() return {'survived'}",
        "return {debug.setmetatable(5, nil) == 5, pcall(debug.setmetatable, {}, 1)}",
    };
    auto evaluate = [](bool guarded, const char* code) {
        lua_State* L = luaL_newstate();
        luaL_openlibs(L);
        if (guarded) tfg_install_hook(L);
        const std::string chunk = std::string("local r = (function() ") + code +
                                  " end)() local out = {} for i = 1, 8 do out[i] = tostring(r[i]) end "
                                  "return table.concat(out, '|')";
        std::string result = tfg_run_string(L, chunk.c_str(), "=co") == LUA_OK ? "" : "error: ";
        result += lua_tostring(L, -1);
        lua_close(L);
        return result;
    };
    for (const char* code : cases) EXPECT_EQ(evaluate(true, code), evaluate(false, code)) << code;
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
