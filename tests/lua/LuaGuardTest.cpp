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

class LuaGuardTest : public LuaTest {
protected:
    // t.started() says a loop begins.
    void SetUp() override {
        LuaTest::SetUp();
        runtime->registerTable("t", {{"started", [this](LuaRuntime&) { started = true; return 0; }}});
    }

    std::atomic<bool> started{false};
};

// The point of setting the hook only on demand: ordinary code runs without one.
TEST_F(LuaGuardTest, NoHookIsSetWhileNothingIsPending) {
    if (luaGuardCarriesHook()) GTEST_SKIP() << "this build carries the hook";
    EXPECT_EQ(eval("return debug.gethook(), coroutine.wrap(debug.gethook)()"), "nil|nil");
}

// Virtual clock: the stop comes from a host call, the deadline passes in one and is seen right after it.
TEST_F(LuaGuardTest, StopOrTimeoutFromAHostCallIsSeenAtOnce) {
    const auto clock = std::make_shared<SimClock>(SimClock::Mode::virtualTime, 1'000'000);
    setLuaGuardClock(clock);
    runtime->registerTable("h", {{"stop", [](LuaRuntime&) { tfg_request_interrupt(1); return 0; }},
                                 {"tick", [&](LuaRuntime&) { clock->advance(1000); return 0; }}});
    const std::string code = "while true do xpcall(function() while true do h.tick() end end, tostring) end";
    EXPECT_NE(run("h.stop() " + code).message.find(kStopped), npos);
    tfg_request_interrupt(0);
    tfg_set_deadline_ms(tfg_now_ms() + 50);
    EXPECT_NE(run(code).message.find(kTimedOut), npos);
    EXPECT_EQ(clock->nowMicros(), 1'050'000);
}

// Real clock, pure Lua, on a thread blocking all signals (as a command's are); the stop from another thread.
TEST_F(LuaGuardTest, StopAndDeadlineFromOutsideEndEveryShape) {
    const char* shapes[] = {
        "while true do pcall(function() while true do end end) end",
        "while true do coroutine.resume(coroutine.create(function() while true do end end)) end",
        "while true do pcall(coroutine.wrap(function() for i = 1, math.huge do end end)) end",
        "coroutine.wrap(function() local co = coroutine.create(function() while true do end end) while true "
        "do coroutine.resume(co) end end)()",
        "local f = coroutine.wrap(function() while true do coroutine.yield() end end) while true do f() end",
        "local co = coroutine.create(function() local x <close> = setmetatable({}, {__close = function() "
        "while true do end end}) coroutine.yield() end) coroutine.resume(co) coroutine.close(co)",
        // Lua runs finalizers with hooks off, and a handler inside the hook that raised the guard's error.
        "setmetatable({}, {__gc = function() t.started() while true do end end}) collectgarbage()",
        "debug.setmetatable(setmetatable({}, {}), {__gc = function() t.started() while true do end end}) "
        "collectgarbage()",
        "xpcall(function() while true do end end, function(e) while true do end end)",
        "xpcall(error, function(e) t.started() while true do end end)",
    };
    sigset_t all;
    sigfillset(&all);
    auto runBlocked = [&](const std::string& code) {
        std::string message;
        std::thread([&] { pthread_sigmask(SIG_BLOCK, &all, nullptr), message = run(code).message; }).join();
        return message;
    };
    for (const std::string code : shapes) {
        SCOPED_TRACE(code);
        started = false, runtime = LuaRuntime::create();
        SetUp();
        std::thread stopper([&] { while (!started) std::this_thread::yield(); tfg_request_interrupt(1); });
        const bool marksItsLoop = code.find("t.started()") != npos;
        EXPECT_NE(runBlocked(marksItsLoop ? code : "t.started() " + code).find(kStopped), npos);
        stopper.join();
        tfg_request_interrupt(0);
        tfg_set_deadline_ms(tfg_now_ms() + 30);
        EXPECT_NE(runBlocked(code).find(kTimedOut), npos);
        EXPECT_EQ(tfg_deadline_ms(), 0);
        tfg_set_deadline_ms(0);   // as the next step does; the state is as usable as before
        EXPECT_EQ(run("for i = 1, 100000 do end"), LuaRunOutcome::success());
    }
}

// A finalizer still pending when the state is closed runs then, at the end of the run.
TEST_F(LuaGuardTest, LoopingFinalizerRunByClosingTheStateEndsOnStop) {
    ASSERT_EQ(eval("kept = setmetatable({}, {__gc = function() t.started() while true do end end})"), "");
    std::thread closer([&] { runtime.reset(); });
    while (!started) std::this_thread::yield();
    tfg_request_interrupt(1);
    closer.join();
}

// Coroutine functions, xpcall and both setmetatable are replaced: scripts must see no difference.
TEST(GuardedCoroutinesTest, BehaveAsLuasOwn) {
    const char* cases[] = {
        "local co = coroutine.create(function(a, b) local c = coroutine.yield(a + b) return c * 2, 'e' end) "
        "local a, b = coroutine.resume(co, 1, 2) local s = coroutine.status(co) local c, d, e = "
        "coroutine.resume(co, 5) return a, b, s, c, d, e, coroutine.resume(co)",
        "return pcall(coroutine.resume, 1)", "return pcall(coroutine.resume)",
        "return pcall(coroutine.wrap, 1)",
        "local f = coroutine.wrap(function() error('boom') end) return pcall(f)",
        "local f = coroutine.wrap(function() error({}) end) local ok, e = pcall(f) return ok, type(e)",
        "local f = coroutine.wrap(function() return 1 end) f() return pcall(f)",
        "local f = coroutine.wrap(function(...) coroutine.yield(select('#', ...), ...) return 'done' end) "
        "local a, b, c, d = f(1, nil, 3) return a, b, c, d, f()",
        "local closed = 'no' local f = coroutine.wrap(function() local x <close> = setmetatable({}, {__close "
        "= function() closed = 'yes' end}) error('x') end) local ok, e = pcall(f) return ok, e, closed",
        "return coroutine.resume(coroutine.running())",
        "return coroutine.isyieldable(), select(2, coroutine.running())",
        "local log = {} local co = coroutine.create(function() local x <close> = setmetatable({}, {__close = "
        "function() log[1] = 'closed' end}) coroutine.yield() end) coroutine.resume(co) local ok, e = "
        "coroutine.close(co) return ok, e, log[1], coroutine.status(co)",
        "local co = coroutine.create(function() local x <close> = setmetatable({}, {__close = function() "
        "error('in close') end}) coroutine.yield() end) coroutine.resume(co) return coroutine.close(co)",
        "local co co = coroutine.create(function() return pcall(coroutine.close, co) end) return "
        "coroutine.resume(co)",
        "local outer = coroutine.running() return coroutine.resume(coroutine.create(function() return "
        "pcall(coroutine.close, outer) end))",
        "local co = coroutine.create(error) coroutine.resume(co, 'x') return coroutine.close(co)",
        "return pcall(coroutine.close, 5)",
        "return xpcall(function(a, b) return a + b, 'x' end, function(e) return 'h' .. e end, 1, 2)",
        "return xpcall(function() error('boom') end, function(e) return 'handled: ' .. e end)",
        "return xpcall(function() error({}) end, function(e) return type(e) end)",
        "return xpcall(error, tostring, 'c handler')", "return pcall(xpcall, print)", "return pcall(xpcall)",
        "local f = coroutine.wrap(function() return xpcall(function() coroutine.yield(1) return 2 end, "
        "print) end) return f(), f()",
        "local t = setmetatable({}, {__index = function(_, k) return k .. '!' end}) return t.a, "
        "getmetatable(t) ~= nil",
        "return pcall(setmetatable, setmetatable({}, {__metatable = 'locked'}), {})",
        "return pcall(setmetatable, 1, {})", "return pcall(setmetatable, {}, 1)",
        "local t = setmetatable({}, {}) return setmetatable(t, nil) == t, getmetatable(t)",
        "local log = {} do setmetatable({}, {__gc = function(o) log[#log + 1] = type(o) end}) end "
        "collectgarbage() collectgarbage() return log[1], #log",
        "local log = {} do debug.setmetatable(setmetatable({}, {}), {__gc = function() log[1] = 'dgc' end}) "
        "end collectgarbage() return log[1]",
        "do setmetatable({}, {__gc = function() error('in gc') end}) end collectgarbage() return 'survived'",
        "return debug.setmetatable(5, nil) == 5, pcall(debug.setmetatable, {}, 1)",
    };
    auto evaluate = [](bool guarded, const char* code) {
        lua_State* L = luaL_newstate();
        luaL_openlibs(L);
        if (guarded) tfg_install_hook(L);
        const std::string chunk = "local r = table.pack((function() " + std::string(code) +
            " end)()) for i = 1, r.n do r[i] = tostring(r[i]) end return table.concat(r, '|', 1, r.n)";
        std::string result = tfg_run_string(L, chunk.c_str(), "=co") == LUA_OK ? "" : "error: ";
        result += lua_tostring(L, -1);
        lua_close(L);
        return result;
    };
    for (const char* code : cases) EXPECT_EQ(evaluate(true, code), evaluate(false, code)) << code;
}

}  // namespace
}  // namespace tapforge::test
