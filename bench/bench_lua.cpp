// The guard's price and its promptness.
//  - LoopWithoutHook / LoopWithHook (and Work…): the same CPU-bound chunk on a bare state and on
//    a LuaRuntime under the guard with a deadline set; the ratio is the guard's cost.
//    LoopWithEmptyHook shows what carrying any count hook would cost instead.
//  - StopBusyLoop / StopSleep / StopBusyCoroutine: real time from tfg_request_interrupt(1), set
//    by another thread, until the protected run returns.
//  - DeadlineBusyLoop: real time from a deadline to the end of a pure Lua loop (watchdog).
#include "BenchMain.h"
#include <benchmark/benchmark.h>

#include <lua.hpp>

#include <atomic>
#include <chrono>
#include <thread>

#include "lua/LuaGuard.h"
#include "lua/LuaMacroAPI.h"
#include "lua/LuaRuntime.h"
#include "lua/LuaShim.h"
#include "platform/Clock.h"

namespace {

using namespace tapforge;
using Steady = std::chrono::steady_clock;

constexpr const char* kLoop = "local s = 0 for i = 1, 5000000 do s = s + i % 7 end return s";

void LoopWithoutHook(benchmark::State& state) {
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    for (auto _ : state) {
        if (tfg_run_string(L, kLoop, "=loop") != LUA_OK) state.SkipWithError("loop failed");
        lua_settop(L, 0);
    }
    lua_close(L);
    state.SetItemsProcessed(state.iterations() * 5000000);
}
BENCHMARK(LoopWithoutHook)->Unit(benchmark::kMillisecond);

// Any count hook sends Lua 5.4's interpreter through its per-instruction trap path; this one
// does nothing, so it shows what the guard costs beyond what Lua itself charges.
void LoopWithEmptyHook(benchmark::State& state) {
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    lua_sethook(L, [](lua_State*, lua_Debug*) {}, LUA_MASKCOUNT, kTfgHookInstructionCount);
    for (auto _ : state) {
        if (tfg_run_string(L, kLoop, "=loop") != LUA_OK) state.SkipWithError("loop failed");
        lua_settop(L, 0);
    }
    lua_close(L);
    state.SetItemsProcessed(state.iterations() * 5000000);
}
BENCHMARK(LoopWithEmptyHook)->Unit(benchmark::kMillisecond);

// A loop that does string and table work, closer to what a macro file does between host calls.
constexpr const char* kWork =
    "local t = {} for i = 1, 200000 do t[#t + 1] = string.format('%d:%s', i, tostring(i * 3)) end return #t";

void WorkWithoutHook(benchmark::State& state) {
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    for (auto _ : state) {
        if (tfg_run_string(L, kWork, "=work") != LUA_OK) state.SkipWithError("work failed");
        lua_settop(L, 0);
    }
    lua_close(L);
}
BENCHMARK(WorkWithoutHook)->Unit(benchmark::kMillisecond);

void WorkWithHook(benchmark::State& state) {
    auto runtime = LuaRuntime::create();
    tfg_set_deadline_ms(tfg_now_ms() + 3'600'000);
    for (auto _ : state)
        if (!runtime->runString(kWork, "=work").succeeded) state.SkipWithError("work failed");
    tfg_set_deadline_ms(0);
}
BENCHMARK(WorkWithHook)->Unit(benchmark::kMillisecond);

void LoopWithHook(benchmark::State& state) {
    auto runtime = LuaRuntime::create();
    tfg_set_deadline_ms(tfg_now_ms() + 3'600'000);   // the hook also reads the clock
    for (auto _ : state)
        if (!runtime->runString(kLoop, "=loop").succeeded) state.SkipWithError("loop failed");
    tfg_set_deadline_ms(0);
    state.SetItemsProcessed(state.iterations() * 5000000);
}
BENCHMARK(LoopWithHook)->Unit(benchmark::kMillisecond);

// Runs `code` (which calls s.started()) and stops it from another thread 5 ms after it started.
template <class Install>
void measureStop(benchmark::State& state, const char* code, Install install) {
    for (auto _ : state) {
        tfg_request_interrupt(0);
        auto runtime = LuaRuntime::create();
        std::atomic<bool> started{false};
        runtime->registerTable("s", {{"started", [&](LuaRuntime&) { started = true; return 0; }}});
        [[maybe_unused]] auto keep = install(*runtime);
        Steady::time_point requested;
        std::thread stopper([&] {
            while (!started) std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            requested = Steady::now();
            tfg_request_interrupt(1);
        });
        const LuaRunOutcome outcome = runtime->runString(code, "=stop");
        const Steady::time_point ended = Steady::now();
        stopper.join();
        runtime.reset();   // before the library its functions call
        if (outcome.succeeded) state.SkipWithError("the run was not stopped");
        state.SetIterationTime(std::chrono::duration<double>(ended - requested).count());
    }
    tfg_request_interrupt(0);
}

void StopBusyLoop(benchmark::State& state) {
    measureStop(state, "s.started() local x = 0 while true do x = x + 1 end", [](LuaRuntime&) { return 0; });
}
BENCHMARK(StopBusyLoop)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(50);

void StopBusyCoroutine(benchmark::State& state) {
    measureStop(state, "s.started() coroutine.wrap(function() local x = 0 while true do x = x + 1 end end)()",
                [](LuaRuntime&) { return 0; });
}
BENCHMARK(StopBusyCoroutine)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(50);

void DeadlineBusyLoop(benchmark::State& state) {
    // The guard clock is the steady clock in whole milliseconds; time the lateness in microseconds.
    platform::SystemClock clock;
    auto runtime = LuaRuntime::create();
    for (auto _ : state) {
        const int64_t deadline = tfg_now_ms() + 5;
        tfg_set_deadline_ms(deadline);
        const LuaRunOutcome outcome = runtime->runString("local x = 0 while true do x = x + 1 end", "=deadline");
        const int64_t lateMicros = clock.nowMicros() - deadline * 1000;
        if (outcome.succeeded) state.SkipWithError("the deadline did not end the run");
        state.SetIterationTime(static_cast<double>(lateMicros) / 1e6);
    }
    tfg_set_deadline_ms(0);
}
BENCHMARK(DeadlineBusyLoop)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(50);

void StopSleep(benchmark::State& state) {
    static platform::SystemClock clock;
    measureStop(state, "s.started() sleep(600000)", [](LuaRuntime& runtime) {
        LuaMacroAPI::Context context;
        context.clock = &clock;
        auto api = std::make_shared<LuaMacroAPI>(std::move(context));
        api->install(runtime);
        return api;
    });
}
BENCHMARK(StopSleep)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(50);

}  // namespace

int main(int argc, char** argv) { return runBenchmarks(argc, argv); }
