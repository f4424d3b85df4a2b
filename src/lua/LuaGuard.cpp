// The guard of every Lua run: the interrupt flag, the deadline, the hook that enforces them,
// and how that hook reaches a running state.
//
// Any count hook sends Lua 5.4's interpreter down its per-instruction trap path, whatever the
// count, which makes a tight loop two and a half times slower. So the hook is not carried all
// the time: it is set, at a count of 1, only when there is something to enforce. The thread
// that requests a stop, and a watchdog thread once a deadline has passed, send a signal to the
// thread running Lua; its handler sets the hook on every Lua thread of that run which is
// executing (the one that started the chunk and each coroutine resumed from there). Lua allows
// lua_sethook in a signal handler: the interpreter re-reads its trap at every jump, loop and
// call. Host calls check the guard on entry as well, which is how a deadline on the simulated
// clock (which a pure Lua loop never moves) is seen.
//
// ThreadSanitizer delivers asynchronous signals only at intercepted calls, which a pure Lua loop
// never makes. Under it, and whenever the signal cannot be installed, the hook is carried
// permanently, every 20 000 instructions; the signals are still sent and do no harm.
#include "lua/LuaGuard.h"

#include <lua.hpp>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "lua/LuaShim.h"
#include "platform/Clock.h"

#if defined(__SANITIZE_THREAD__)
#define TAPFORGE_GUARD_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TAPFORGE_GUARD_UNDER_TSAN 1
#endif
#endif

namespace {

// Relaxed is enough: each value is a single word that is only ever replaced whole, and no
// other memory is published through it. Atomics make the cross-thread stop defined.
std::atomic<int32_t> interruptFlag{0};
// The same request as a flag for host computations that poll one (an image search).
std::atomic<bool> interruptStop{false};
std::atomic<int64_t> deadlineMs{0};
// Set when the time-out was raised, cleared by the next tfg_set_deadline_ms. It keeps a
// script that catches the time-out with pcall from running on past its limit.
std::atomic<bool> deadlineFired{false};

std::mutex clockMutex;
std::shared_ptr<tapforge::platform::Clock> guardClock;

// Woken by a stop request, for the host calls that wait.
std::mutex interruptWaitMutex;
std::condition_variable interruptWake;

tapforge::platform::SystemClock& systemClock() {
    static tapforge::platform::SystemClock clock;
    return clock;
}

int64_t guardNowMicros() {
    std::shared_ptr<tapforge::platform::Clock> clock;
    {
        std::lock_guard lock(clockMutex);
        clock = guardClock;
    }
    return clock ? clock->nowMicros() : systemClock().nowMicros();
}

// --- The Lua threads this OS thread is executing, innermost last. Written by the thread itself,
// read by its signal handler, hence the signal fences and a fixed array.

constexpr int kTrackedThreads = 256;   // Lua's C-stack limit keeps resumes nested far less deep

struct RunningThreads {
    lua_State* threads[kTrackedThreads];
    std::atomic<int> depth;
    int untracked;   // pushed beyond the array: those carry the hook permanently
};
constinit thread_local RunningThreads running{{}, 0, 0};

void setHookOnRunningThreads() {
    const int depth = running.depth.load(std::memory_order_relaxed);
    std::atomic_signal_fence(std::memory_order_acquire);
    for (int i = 0; i < depth; ++i) lua_sethook(running.threads[i], tfg_hook, LUA_MASKCOUNT, 1);
}

void pushRunning(lua_State* L) {
    const int depth = running.depth.load(std::memory_order_relaxed);
    if (depth == kTrackedThreads) {
        ++running.untracked;
        lua_sethook(L, tfg_hook, LUA_MASKCOUNT, kTfgHookInstructionCount);
        return;
    }
    running.threads[depth] = L;
    std::atomic_signal_fence(std::memory_order_release);
    running.depth.store(depth + 1, std::memory_order_relaxed);
}

void popRunning() {
    if (running.untracked > 0) {
        --running.untracked;
        return;
    }
    running.depth.store(running.depth.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
}

class RunningScope {
public:
    explicit RunningScope(lua_State* L) { pushRunning(L); }
    ~RunningScope() { popRunning(); }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;
};

// --- The signal

bool carriesHook = false;
int guardSignal = 0;
std::once_flag signalOnce;

void onGuardSignal(int) {
    const int savedErrno = errno;
    setHookOnRunningThreads();
    errno = savedErrno;
}

void installSignal() {
    std::call_once(signalOnce, [] {
#if defined(TAPFORGE_GUARD_UNDER_TSAN)
        carriesHook = true;
#endif
        // A real-time signal nothing else in the process uses; refuse to take one that is.
        guardSignal = SIGRTMIN + 6;
        struct sigaction old {};
        struct sigaction action {};
        action.sa_handler = onGuardSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        if (guardSignal > SIGRTMAX || sigaction(guardSignal, nullptr, &old) != 0 || old.sa_handler != SIG_DFL ||
            sigaction(guardSignal, &action, nullptr) != 0) {
            guardSignal = 0;
            carriesHook = true;
        }
    });
}

// --- Who runs Lua now, and the watchdog that signals it when its deadline passes

constexpr auto kResignalInterval = std::chrono::milliseconds(50);

struct Watch {
    std::mutex mutex;
    std::condition_variable wake;
    // The threads inside a guarded run. The flag and the deadline are process-wide and runs are
    // not meant to overlap, but if two threads ever run Lua at once a stop reaches both.
    std::vector<pthread_t> workers;
    bool watchdogStarted = false;

    Watch() { workers.reserve(4); }
};

// Never destroyed: the detached watchdog may still use it while the process exits.
Watch& watch() {
    static Watch* instance = new Watch;
    return *instance;
}

// With the watch's mutex held, so that the worker cannot end its run and exit meanwhile.
void signalWorkerLocked(Watch& w) {
    for (const pthread_t worker : w.workers) {
        if (pthread_equal(worker, pthread_self())) {
            setHookOnRunningThreads();
        } else if (guardSignal != 0) {
            pthread_kill(worker, guardSignal);
        }
    }
}

// Sleeps while no run is in progress. While one is, it wakes at least every 50 ms: the guard clock
// may be simulated (a deadline passes without notice), and a stop requested while another thread
// held the mutex was not signalled by the requester (see tfg_request_interrupt). While a stop or a
// passed deadline is pending it repeats the signal every 50 ms in case the first one came too early.
[[noreturn]] void watchdogLoop(Watch& w) {
    std::unique_lock lock(w.mutex);
    while (true) {
        if (w.workers.empty()) {
            w.wake.wait(lock);
            continue;
        }
        if (interruptFlag.load(std::memory_order_relaxed) != 0) {
            signalWorkerLocked(w);
            w.wake.wait_for(lock, kResignalInterval);
            continue;
        }
        const int64_t deadline = deadlineMs.load(std::memory_order_relaxed);
        if (deadline < 1) {
            w.wake.wait_for(lock, kResignalInterval);
            continue;
        }
        const int64_t remainingMicros = deadline * 1000 - guardNowMicros();
        if (remainingMicros <= 0) {
            signalWorkerLocked(w);
            w.wake.wait_for(lock, kResignalInterval);
        } else {
            w.wake.wait_for(lock, std::min<std::chrono::microseconds>(std::chrono::microseconds(remainingMicros), kResignalInterval));
        }
    }
}

void notifyWatch() {
    Watch& w = watch();
    std::lock_guard lock(w.mutex);
    w.wake.notify_all();
}

bool guardTripped() {
    return interruptFlag.load(std::memory_order_relaxed) != 0 || deadlineFired.load(std::memory_order_relaxed) ||
           tfg_deadline_reached();
}

// After a guard error the hook fires before every instruction of every running thread, so the
// error is raised again as soon as a pcall that caught it hands control back: a finite nest of
// pcalls cannot keep a stopped or timed-out script alive. Coroutines created from now on
// inherit the hook from their creator.
void escalate(lua_State* L) {
    setHookOnRunningThreads();
    lua_sethook(L, tfg_hook, LUA_MASKCOUNT, 1);
}

// --- The coroutine library, tracking the running thread. Same behaviour as Lua's own resume,
// wrap and close, including their messages.

// Moves `narg` arguments to `co` and resumes it. Returns the number of results moved back, or
// -1 with the error value on top of L.
int resumeTracked(lua_State* L, lua_State* co, int narg) {
    if (!lua_checkstack(co, narg)) {
        lua_pushliteral(L, "too many arguments to resume");
        return -1;
    }
    lua_xmove(L, co, narg);
    int results = 0;
    int status;
    {
        RunningScope scope(co);
        status = lua_resume(co, L, narg, &results);
    }
    if (status != LUA_OK && status != LUA_YIELD) {
        lua_xmove(co, L, 1);
        return -1;
    }
    if (!lua_checkstack(L, results + 1)) {
        lua_pop(co, results);
        lua_pushliteral(L, "too many results to resume");
        return -1;
    }
    lua_xmove(co, L, results);
    return results;
}

int coroutineResume(lua_State* L) {
    lua_State* co = lua_tothread(L, 1);
    luaL_argexpected(L, co, 1, "thread");
    const int results = resumeTracked(L, co, lua_gettop(L) - 1);
    lua_pushboolean(L, results >= 0);
    if (results < 0) {
        lua_insert(L, -2);
        return 2;
    }
    lua_insert(L, -(results + 1));
    return results + 1;
}

// Runs the pending to-be-closed variables of `co`, on it, leaving its status (and on failure the
// error value on co's stack).
int closeTracked(lua_State* L, lua_State* co) {
    RunningScope scope(co);
#if LUA_VERSION_RELEASE_NUM >= 50406
    return lua_closethread(co, L);
#else
    (void)L;
    return lua_resetthread(co);
#endif
}

int coroutineWrapped(lua_State* L) {
    lua_State* co = lua_tothread(L, lua_upvalueindex(1));
    const int results = resumeTracked(L, co, lua_gettop(L));
    if (results >= 0) return results;
    int status = lua_status(co);
    if (status != LUA_OK && status != LUA_YIELD) {
        // The coroutine died: run its pending to-be-closed variables.
        status = closeTracked(L, co);
        lua_xmove(co, L, 1);
    }
    if (status != LUA_ERRMEM && lua_type(L, -1) == LUA_TSTRING) {
        luaL_where(L, 1);
        lua_insert(L, -2);
        lua_concat(L, 2);
    }
    return lua_error(L);
}

int coroutineWrap(lua_State* L) {
    luaL_checktype(L, 1, LUA_TFUNCTION);
    lua_State* co = lua_newthread(L);
    lua_pushvalue(L, 1);
    lua_xmove(L, co, 1);
    lua_pushcclosure(L, coroutineWrapped, 1);
    return 1;
}

// Lua's names for what a coroutine is doing, as coroutine.status reports them.
const char* coroutineState(lua_State* L, lua_State* co) {
    if (L == co) return "running";
    switch (lua_status(co)) {
        case LUA_YIELD: return "suspended";
        case LUA_OK: {
            lua_Debug ar;
            if (lua_getstack(co, 0, &ar)) return "normal";
            return lua_gettop(co) == 0 ? "dead" : "suspended";
        }
        default: return "dead";
    }
}

// Closing runs the coroutine's pending __close handlers, on it: tracked like a resume.
int coroutineClose(lua_State* L) {
    lua_State* co = lua_tothread(L, 1);
    luaL_argexpected(L, co, 1, "thread");
    const char* state = coroutineState(L, co);
    if (std::strcmp(state, "dead") != 0 && std::strcmp(state, "suspended") != 0)
        return luaL_error(L, "cannot close a %s coroutine", state);
    const int status = closeTracked(L, co);
    if (status == LUA_OK) {
        lua_pushboolean(L, 1);
        return 1;
    }
    lua_pushboolean(L, 0);
    lua_xmove(co, L, 1);
    return 2;
}

// --- Finalizers and message handlers, which Lua runs with hooks off
//
// Lua runs a __gc metamethod with hooks disabled, and xpcall's message handler inside the hook
// when the error it handles is the guard's own: a loop in either would be out of the guard's
// reach. So:
//  - setmetatable and debug.setmetatable replace a metatable's __gc function by a C closure that
//    runs it on a fresh Lua thread (hooks enabled there, and tracked like a resume), and not at
//    all once the guard has tripped, so a stopped run, and closing its state, run no more of it;
//  - xpcall calls a Lua message handler through a C closure that passes the error through
//    unchanged, without calling the handler, once the guard has tripped; before that the handler
//    runs with hooks enabled and a stop reaches it like any code.
// Limits: a __gc stored into a metatable after setmetatable (or with rawset) is not wrapped, and
// getmetatable(x).__gc shows the closure; a traceback taken inside a wrapped handler shows one
// more C frame; a hook the script sets itself with debug.sethook runs with hooks off. What
// escapes is left to the runner, which reports a run that does not end after a stop.

int runFinalizer(lua_State* L) {
    if (guardTripped()) return 0;
    lua_State* co = lua_newthread(L);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_pushvalue(L, 1);
    lua_xmove(L, co, 2);
    int results = 0;
    int status;
    {
        RunningScope scope(co);
        status = lua_resume(co, L, 1, &results);
    }
    if (status == LUA_OK) return 0;
    if (status == LUA_YIELD) return luaL_error(L, "attempt to yield across a C-call boundary");
    lua_xmove(co, L, 1);
    return lua_error(L);
}

// Wraps the raw __gc field of the metatable at `mt` (absolute index) when it is a function.
void guardFinalizer(lua_State* L, int mt) {
    lua_pushliteral(L, "__gc");
    lua_rawget(L, mt);
    if (lua_type(L, -1) != LUA_TFUNCTION || lua_tocfunction(L, -1) == runFinalizer) {
        lua_pop(L, 1);
        return;
    }
    lua_pushcclosure(L, runFinalizer, 1);
    lua_pushliteral(L, "__gc");
    lua_insert(L, -2);
    lua_rawset(L, mt);
}

// Lua's setmetatable, with the finalizer guarded.
int guardedSetmetatable(lua_State* L) {
    const int t = lua_type(L, 2);
    luaL_checktype(L, 1, LUA_TTABLE);
    luaL_argexpected(L, t == LUA_TNIL || t == LUA_TTABLE, 2, "nil or table");
    if (luaL_getmetafield(L, 1, "__metatable") != LUA_TNIL) return luaL_error(L, "cannot change a protected metatable");
    lua_settop(L, 2);
    if (t == LUA_TTABLE) guardFinalizer(L, 2);
    lua_setmetatable(L, 1);
    return 1;
}

// Lua's debug.setmetatable, with the finalizer guarded.
int guardedDebugSetmetatable(lua_State* L) {
    const int t = lua_type(L, 2);
    luaL_argexpected(L, t == LUA_TNIL || t == LUA_TTABLE, 2, "nil or table");
    lua_settop(L, 2);
    if (t == LUA_TTABLE) guardFinalizer(L, 2);
    lua_setmetatable(L, 1);
    return 1;
}

int guardedMessageHandler(lua_State* L) {
    if (guardTripped()) {
        lua_settop(L, 1);
        return 1;
    }
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, 1);
    return 1;
}

int finishXpcall(lua_State* L, int status, lua_KContext extra) {
    if (status != LUA_OK && status != LUA_YIELD) {
        lua_pushboolean(L, 0);
        lua_pushvalue(L, -2);
        return 2;
    }
    return lua_gettop(L) - static_cast<int>(extra);
}

// Lua's xpcall, with a Lua message handler guarded (a C handler such as debug.traceback cannot
// loop, and keeps its view of the stack).
int guardedXpcall(lua_State* L) {
    const int n = lua_gettop(L);
    luaL_checktype(L, 2, LUA_TFUNCTION);
    if (!lua_iscfunction(L, 2)) {
        lua_pushvalue(L, 2);
        lua_pushcclosure(L, guardedMessageHandler, 1);
        lua_replace(L, 2);
    }
    lua_pushboolean(L, 1);
    lua_pushvalue(L, 1);
    lua_rotate(L, 3, 2);
    const int status = lua_pcallk(L, n - 2, LUA_MULTRET, 2, 2, finishXpcall);
    return finishXpcall(L, status, 2);
}

void guardHandlersAndFinalizers(lua_State* L) {
    lua_pushglobaltable(L);
    lua_pushcfunction(L, guardedXpcall);
    lua_setfield(L, -2, "xpcall");
    lua_pushcfunction(L, guardedSetmetatable);
    lua_setfield(L, -2, "setmetatable");
    lua_pop(L, 1);
    luaL_getsubtable(L, LUA_REGISTRYINDEX, LUA_LOADED_TABLE);
    if (lua_getfield(L, -1, LUA_DBLIBNAME) == LUA_TTABLE) {
        lua_pushcfunction(L, guardedDebugSetmetatable);
        lua_setfield(L, -2, "setmetatable");
    }
    lua_pop(L, 2);
}

void trackCoroutines(lua_State* L) {
    luaL_getsubtable(L, LUA_REGISTRYINDEX, LUA_LOADED_TABLE);
    if (lua_getfield(L, -1, LUA_COLIBNAME) == LUA_TTABLE) {
        lua_pushcfunction(L, coroutineResume);
        lua_setfield(L, -2, "resume");
        lua_pushcfunction(L, coroutineWrap);
        lua_setfield(L, -2, "wrap");
        lua_pushcfunction(L, coroutineClose);
        lua_setfield(L, -2, "close");
    }
    lua_pop(L, 2);
}

}  // namespace

namespace tapforge {

void setLuaGuardClock(std::shared_ptr<platform::Clock> clock) {
    std::lock_guard lock(clockMutex);
    guardClock = std::move(clock);
}

std::shared_ptr<platform::Clock> luaGuardClock() {
    std::lock_guard lock(clockMutex);
    return guardClock;
}

const std::atomic<bool>& luaInterruptFlag() { return interruptStop; }

bool waitUnlessLuaInterrupted(platform::Clock& clock, int64_t micros) {
    std::unique_lock lock(interruptWaitMutex);
    const int64_t end = clock.nowMicros() + micros;
    while (interruptFlag.load(std::memory_order_relaxed) == 0) {
        const int64_t left = end - clock.nowMicros();
        if (left <= 0) return true;
        clock.waitFor(interruptWake, lock, left);
    }
    return false;
}

bool luaGuardCarriesHook() {
    installSignal();
    return carriesHook;
}

GuardedLuaRun::GuardedLuaRun(lua_State* L) : pushed_(L != nullptr) {
    installSignal();
    if (pushed_) pushRunning(L);
    // Nested in a run of this thread?
    if (running.depth.load(std::memory_order_relaxed) + running.untracked > (pushed_ ? 1 : 0)) return;
    if (guardSignal != 0) {
        // The thread may have inherited a mask that blocks it (a command that waits for signals).
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, guardSignal);
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
    Watch& w = watch();
    {
        std::lock_guard lock(w.mutex);
        try {
            w.workers.push_back(pthread_self());
        } catch (...) {
            if (pushed_) popRunning();
            throw;
        }
        if (!w.watchdogStarted) {
            try {
                std::thread([&w] { watchdogLoop(w); }).detach();
                w.watchdogStarted = true;
            } catch (const std::system_error&) {
                // Without the watchdog a deadline is still seen at host calls; stops still arrive.
            }
        }
        w.wake.notify_all();
    }
    // A stop requested before this run was registered sent no signal.
    if (guardTripped()) setHookOnRunningThreads();
}

GuardedLuaRun::~GuardedLuaRun() {
    const bool outermost = running.depth.load(std::memory_order_relaxed) + running.untracked == (pushed_ ? 1 : 0);
    if (pushed_) popRunning();
    if (!outermost) return;
    Watch& w = watch();
    std::lock_guard lock(w.mutex);
    for (auto it = w.workers.begin(); it != w.workers.end(); ++it) {
        if (pthread_equal(*it, pthread_self())) {
            w.workers.erase(it);
            break;
        }
    }
}

}  // namespace tapforge

extern "C" {

int64_t tfg_now_ms(void) { return guardNowMicros() / 1000; }

void tfg_request_interrupt(int32_t flag) {
    interruptFlag.store(flag, std::memory_order_relaxed);
    interruptStop.store(flag != 0, std::memory_order_relaxed);
    if (flag == 0) return;
    // The stop button calls this on the main thread, which must never wait for the worker: both
    // locks are only tried. When the watch's is busy, the watchdog, which polls while a run is
    // registered, sends the signal within 50 ms; when the waiters' is busy, a waiter that missed
    // the notification wakes at the end of its slice (host calls wait in short slices).
    {
        Watch& w = watch();
        std::unique_lock lock(w.mutex, std::try_to_lock);
        if (lock.owns_lock()) signalWorkerLocked(w);
        w.wake.notify_all();
    }
    {
        std::unique_lock lock(interruptWaitMutex, std::try_to_lock);
        interruptWake.notify_all();
    }
}

int32_t tfg_interrupt_requested(void) { return interruptFlag.load(std::memory_order_relaxed); }

void tfg_set_deadline_ms(int64_t ms) {
    deadlineFired.store(false, std::memory_order_relaxed);
    deadlineMs.store(ms, std::memory_order_relaxed);
    notifyWatch();
}

int64_t tfg_deadline_ms(void) { return deadlineMs.load(std::memory_order_relaxed); }

bool tfg_deadline_reached(void) {
    const int64_t deadline = deadlineMs.load(std::memory_order_relaxed);
    if (deadline < 1) return false;
    return tfg_now_ms() >= deadline;
}

void tfg_install_hook(lua_State* L) {
    trackCoroutines(L);
    guardHandlersAndFinalizers(L);
    if (tapforge::luaGuardCarriesHook()) lua_sethook(L, tfg_hook, LUA_MASKCOUNT, kTfgHookInstructionCount);
}

void tfg_check_guard(lua_State* L) {
    if (interruptFlag.load(std::memory_order_relaxed) != 0) {
        escalate(L);
        luaL_error(L, "%s", kTfgInterruptedMessage);
    }
    if (deadlineFired.load(std::memory_order_relaxed)) {
        escalate(L);
        luaL_error(L, "%s", kTfgTimeoutMessage);
    }
    const int64_t deadline = deadlineMs.load(std::memory_order_relaxed);
    if (deadline >= 1 && tfg_now_ms() >= deadline) {
        // Cleared before raising so that nothing after this step sees a stale deadline.
        deadlineMs.store(0, std::memory_order_relaxed);
        deadlineFired.store(true, std::memory_order_relaxed);
        escalate(L);
        luaL_error(L, "%s", kTfgTimeoutMessage);
    }
}

void tfg_arm_guard_if_due(void) {
    if (guardTripped()) setHookOnRunningThreads();
}

void tfg_hook(lua_State* L, lua_Debug*) {
    tfg_check_guard(L);
    // Nothing to enforce (a late signal, or an escalation whose cause the owner has cleared):
    // back to no hook, or to the carried rate (which threads nested too deep to track rely on).
    if (carriesHook || running.untracked > 0) {
        if (lua_gethookcount(L) != kTfgHookInstructionCount) lua_sethook(L, tfg_hook, LUA_MASKCOUNT, kTfgHookInstructionCount);
    } else {
        lua_sethook(L, nullptr, 0, 0);
    }
}

}  // extern "C"
