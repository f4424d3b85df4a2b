// The guard: nothing lets a stopped or timed-out script run on; its replaced functions behave as Lua's own.
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
constexpr auto npos = std::string::npos;

class LuaGuardTest : public GuardedTest {
protected:
    void SetUp() override {
        GuardedTest::SetUp();
        setLuaGuardClock(clock);
        fresh();
    }
    // t.stop() requests the interrupt, t.tick() moves virtual time on by 1 ms, t.started() says a loop begins.
    void fresh() {
        runtime = LuaRuntime::create();
        ASSERT_TRUE(runtime);
        runtime->registerTable("t", {{"stop", [](LuaRuntime&) { tfg_request_interrupt(1); return 0; }},
                                     {"tick", [this](LuaRuntime&) { clock->advance(1000); return 0; }},
                                     {"started", [this](LuaRuntime&) { started = true; return 0; }}});
    }
    LuaRunOutcome run(const std::string& code) { return runtime->runString(code, "=guard"); }

    std::shared_ptr<SimClock> clock = std::make_shared<SimClock>(SimClock::Mode::virtualTime, 1'000'000);
    std::unique_ptr<LuaRuntime> runtime;
    std::atomic<bool> started{false};
};

// The point of setting the hook only on demand: ordinary code runs without one.
TEST_F(LuaGuardTest, NoHookIsSetWhileNothingIsPending) {
    if (luaGuardCarriesHook()) GTEST_SKIP() << "this build carries the hook";
    EXPECT_EQ(run("assert(debug.gethook() == nil) coroutine.wrap(function() assert(debug.gethook() == nil) end)()"),
              LuaRunOutcome::success());
}

// Virtual clock: the stop comes from a host call, the deadline passes in one and is seen right after it.
TEST_F(LuaGuardTest, StopOrTimeoutFromAHostCallIsSeenAtOnce) {
    const std::string code = "while true do xpcall(function() while true do t.tick() end end, function(e) return e end) end";
    EXPECT_NE(run("t.stop() " + code).message.find(kStopped), npos);
    tfg_request_interrupt(0);
    const int64_t start = clock->nowMicros();
    tfg_set_deadline_ms(tfg_now_ms() + 50);
    EXPECT_NE(run(code).message.find(kTimedOut), npos);
    EXPECT_EQ(clock->nowMicros() - start, 50'000);
    tfg_set_deadline_ms(0);   // as the next step does; the state runs normally again
    EXPECT_EQ(run("local s = 0 for i = 1, 100000 do s = s + i end"), LuaRunOutcome::success());
}

// Real clock, pure Lua, on a thread blocking every signal (as a command's threads do); the stop comes from another thread.
TEST_F(LuaGuardTest, StopAndDeadlineFromOutsideEndEveryShape) {
    const char* shapes[] = {
        "while true do pcall(function() while true do end end) end",
        "while true do coroutine.resume(coroutine.create(function() while true do end end)) end",
        "while true do pcall(coroutine.wrap(function() for i = 1, math.huge do end end)) end",
        "coroutine.wrap(function() local co = coroutine.create(function() while true do end end) "
        "while true do coroutine.resume(co) end end)()",
        "local co = coroutine.wrap(function() while true do coroutine.yield() end end) while true do co() end",
        "local co = coroutine.create(function() local x <close> = setmetatable({}, {__close = function() while true do end end}) "
        "coroutine.yield() end) coroutine.resume(co) coroutine.close(co)",
        // Lua runs finalizers with hooks off, and a handler inside the hook that raised the guard's error.
        "setmetatable({}, {__gc = function() t.started() while true do end end}) collectgarbage()",
        "debug.setmetatable(setmetatable({}, {}), {__gc = function() t.started() while true do end end}) collectgarbage()",
        "xpcall(function() while true do end end, function(e) while true do end end)",
        "xpcall(error, function(e) t.started() while true do end end)",
    };
    auto runBlocked = [&](const std::string& code) {
        LuaRunOutcome outcome;
        std::thread([&] { sigset_t all; sigfillset(&all), pthread_sigmask(SIG_BLOCK, &all, nullptr), outcome = run(code); }).join();
        return outcome.message;
    };
    for (const std::string code : shapes) {
        SCOPED_TRACE(code);
        resetGuard(), fresh(), started = false;
        std::thread stopper([&] { while (!started) std::this_thread::yield(); tfg_request_interrupt(1); });
        EXPECT_NE(runBlocked(code.find("t.started()") == npos ? "t.started() " + code : code).find(kStopped), npos);
        stopper.join();
        tfg_request_interrupt(0);
        tfg_set_deadline_ms(tfg_now_ms() + 30);
        EXPECT_NE(runBlocked(code).find(kTimedOut), npos);
        EXPECT_EQ(tfg_deadline_ms(), 0);
    }
}

// A finalizer still pending when the state is closed runs then, at the end of the run.
TEST_F(LuaGuardTest, LoopingFinalizerRunByClosingTheStateEndsOnStop) {
    setLuaGuardClock(nullptr);
    ASSERT_EQ(run("kept = setmetatable({}, {__gc = function() t.started() while true do end end})"), LuaRunOutcome::success());
    std::thread closer([&] { runtime.reset(); });
    while (!started) std::this_thread::yield();
    tfg_request_interrupt(1);
    closer.join();
}

// Coroutine functions, xpcall and both setmetatable are replaced: scripts must see no difference.
TEST(GuardedCoroutinesTest, BehaveAsLuasOwn) {
    const char* cases[] = {
        "local co = coroutine.create(function(a, b) local c = coroutine.yield(a + b) return c * 2, 'end' end) local r = "
        "{coroutine.resume(co, 1, 2)} r[#r + 1] = coroutine.status(co) for _, v in ipairs({coroutine.resume(co, 5)}) do r[#r + 1] = v "
        "end for _, v in ipairs({coroutine.resume(co)}) do r[#r + 1] = v end return r",
        "return {pcall(coroutine.resume, 1)}", "return {pcall(coroutine.resume)}", "return {pcall(coroutine.wrap, 1)}",
        "local f = coroutine.wrap(function() error('boom') end) return {pcall(f)}",
        "local f = coroutine.wrap(function() error({}) end) local ok, e = pcall(f) return {ok, type(e)}",
        "local f = coroutine.wrap(function() return 1 end) f() return {pcall(f)}",
        "local f = coroutine.wrap(function(...) local n = select('#', ...) coroutine.yield(n, ...) return 'done' end) local r = {f(1, "
        "nil, 3)} r[#r + 1] = f() return r",
        "local closed = 'no' local f = coroutine.wrap(function() local x <close> = setmetatable({}, {__close = function() closed = "
        "'yes' end}) error('x') end) local ok, e = pcall(f) return {ok, e, closed}",
        "local co = coroutine.running() return {coroutine.resume(co)}",
        "return {coroutine.isyieldable(), select(2, coroutine.running())}",
        "local log = {} local co = coroutine.create(function() local x <close> = setmetatable({}, {__close = function() log[#log + 1] "
        "= 'closed' end}) coroutine.yield() end) coroutine.resume(co) local r = {coroutine.close(co)} r[#r + 1] = log[1] r[#r + 1] = "
        "coroutine.status(co) return r",
        "local co = coroutine.create(function() local x <close> = setmetatable({}, {__close = function() error('in close') end}) "
        "coroutine.yield() end) coroutine.resume(co) return {coroutine.close(co)}",
        "local co co = coroutine.create(function() return pcall(coroutine.close, co) end) return {coroutine.resume(co)}",
        "local outer = coroutine.running() local co = coroutine.create(function() return pcall(coroutine.close, outer) end) return "
        "{coroutine.resume(co)}",
        "local co = coroutine.create(function() error('x') end) coroutine.resume(co) return {coroutine.close(co)}",
        "return {pcall(coroutine.close, 5)}",
        "return {xpcall(function(a, b) return a + b, 'x' end, function(e) return 'h' .. e end, 1, 2)}",
        "return {xpcall(function() error('boom') end, function(e) return 'handled: ' .. e end)}",
        "return {xpcall(function() error({}) end, function(e) return type(e) end)}", "return {xpcall(error, tostring, 'c handler')}",
        "return {pcall(xpcall, print)}", "return {pcall(xpcall)}",
        "local f = coroutine.wrap(function() return xpcall(function() coroutine.yield(1) return 2 end, print) end) return {f(), f()}",
        "local t = setmetatable({}, {__index = function(_, k) return k .. '!' end}) return {t.a, getmetatable(t) ~= nil}",
        "local t = setmetatable({}, {__metatable = 'locked'}) return {pcall(setmetatable, t, {})}",
        "return {pcall(setmetatable, 1, {})}", "return {pcall(setmetatable, {}, 1)}",
        "local t = setmetatable({}, {}) return {setmetatable(t, nil) == t, getmetatable(t)}",
        "local log = {} do setmetatable({}, {__gc = function(o) log[#log + 1] = type(o) end}) end collectgarbage() collectgarbage() "
        "return {log[1], #log}",
        "local log = {} do debug.setmetatable(setmetatable({}, {}), {__gc = function() log[1] = 'dgc' end}) end collectgarbage() "
        "return {log[1]}",
        "do setmetatable({}, {__gc = function() error('in gc') end}) end collectgarbage() return {'survived'}",
        "return {debug.setmetatable(5, nil) == 5, pcall(debug.setmetatable, {}, 1)}",
    };
    auto evaluate = [](bool guarded, const char* code) {
        lua_State* L = luaL_newstate();
        luaL_openlibs(L);
        if (guarded) tfg_install_hook(L);
        const std::string chunk = std::string("local r = (function() ") + code +
                                  " end)() local out = {} for i = 1, 8 do out[i] = tostring(r[i]) end return table.concat(out, '|')";
        std::string result = tfg_run_string(L, chunk.c_str(), "=co") == LUA_OK ? "" : "error: ";
        result += lua_tostring(L, -1);
        lua_close(L);
        return result;
    };
    for (const char* code : cases) EXPECT_EQ(evaluate(true, code), evaluate(false, code)) << code;
}

// Success leaves all results, failure exactly one value; what lay below stays untouched.
TEST(ShimStackTest, RunsLeaveAllResultsOrOneMessage) {
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    tfg_install_hook(L);
    lua_pushinteger(L, 99);
    ASSERT_EQ(tfg_run_string(L, "return 1, 'two', nil", "=three"), tfg_OK());
    EXPECT_EQ(tfg_gettop(L), 4);
    EXPECT_EQ(tfg_type(L, 4), tfg_TNIL());
    EXPECT_STREQ(tfg_tolstring(L, 3, nullptr), "two");
    auto oneMessage = [&](int status, int expected, const std::string& message) {
        EXPECT_EQ(status, expected);
        EXPECT_EQ(tfg_gettop(L), 2);
        EXPECT_TRUE(std::string(tfg_tolstring(L, 2, nullptr)).starts_with(message)) << message;
        tfg_settop(L, 1);
    };
    tfg_settop(L, 1);
    oneMessage(tfg_run_string(L, "local a, b, c = 1, 2, 3 error('bad')", "=fails"), LUA_ERRRUN, "fails:1: bad");
    oneMessage(tfg_run_string(L, "x = 1 +", "=syntax"), LUA_ERRSYNTAX, "syntax:1:");
    oneMessage(tfg_run_file(L, "/nonexistent/file.lua"), LUA_ERRFILE, "cannot open");
    EXPECT_EQ(lua_tointeger(L, 1), 99);
    lua_close(L);
}

}  // namespace
}  // namespace tapforge::test
