// The seam between the script runner and the Lua interpreter. The runner knows nothing of
// Lua itself: it hands each Lua step to a LuaStepHost and turns the answer into a branch.
// Without a host (or with a host that could not set up its state) a Lua step logs
// "⚠️ Lua 运行时不可用" and fails.
//
// Threads: setUpRun, runStep and tearDownRun are called on the runner's worker thread, in
// that order, once per run (runStep once per executed Lua step). setInterrupt may be called
// from any thread (the main thread's stop() sets it while the worker may be inside Lua).
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "model/Script.h"
#include "model/Step.h"
#include "model/Uuid.h"

namespace tapforge {

class InputPlayer;

namespace platform {
class Clock;
}

// What a Lua step decided.
struct LuaStepResult {
    enum class Kind { jump, passed, failed, stop };
    Kind kind = Kind::failed;
    Uuid target;   // kind jump: the step to continue at
    bool error = false;   // kind failed: the file raised an error or ran out of time

    static LuaStepResult jump(Uuid id) { return {Kind::jump, id}; }
    static LuaStepResult passed() { return {Kind::passed, {}}; }
    static LuaStepResult failed() { return {Kind::failed, {}}; }
    static LuaStepResult stop() { return {Kind::stop, {}}; }
    static LuaStepResult errored() { return {Kind::failed, {}, true}; }
};

// What the run lends a Lua host for the length of one run. References stay valid from
// setUpRun until tearDownRun returns.
struct LuaRunContext {
    InputPlayer& player;                               // the runner's player, not owned
    const Script& script;                              // the run's own copy
    std::optional<std::filesystem::path> baseDirectory;   // folder of the script file
    std::function<void(const std::string&)> log;       // one run-log line
    const std::atomic<bool>& stopRequested;            // the runner's stop flag
    platform::Clock& clock;                            // the clock the run paces itself with
    int64_t runDeadlineMs = 0;   // the run's time limit on `clock` in ms; 0: none
};

class LuaStepHost {
public:
    virtual ~LuaStepHost() = default;

    // Once per run before the first step, only when the script holds a step of kind lua
    // (enabled or not). Creates the run's Lua state; logs its own set-up lines.
    virtual void setUpRun(const LuaRunContext& context) = 0;
    // One Lua step of the run; logs its own lines.
    virtual LuaStepResult runStep(const Step& step) = 0;
    // At the end of every run that called setUpRun: clears the deadline and drops the state.
    virtual void tearDownRun() = 0;
    // The interrupt flag of a Lua step in progress: set by stop(), cleared when a run starts
    // and when it ends. Any thread.
    virtual void setInterrupt(bool interrupt) = 0;
};

// Lua file resolution for a step's luaFile P: an absolute P as it is; otherwise the first
// existing file among baseDirectory/P, luaScriptsDirectory()/P and the current directory/P.
std::optional<std::filesystem::path> resolveLuaFile(const std::string& luaFile,
                                                    const std::optional<std::filesystem::path>& baseDirectory);

// The per-user folder of Lua files: $XDG_DATA_HOME/Tapforge/scripts, else
// ~/.local/share/Tapforge/scripts, else <temporary folder>/Tapforge/scripts. Created (with
// its parents) on every call; a failure to create it is ignored.
std::filesystem::path luaScriptsDirectory();

}  // namespace tapforge
