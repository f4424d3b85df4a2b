// Plays a Script on a dedicated worker thread ("TapforgeRunner", 4 MiB stack): walks the
// steps, performs them through the input player, evaluates colour and image conditions,
// follows branches and jumps, repeats the list for the loop count, and can be paused,
// resumed and stopped at any moment.
//
// Threads: construct, start, togglePause, stop and the observable getters on the main
// thread only (the thread that constructed the runner). None of them waits for the worker: the
// request flags are atomic and the getters read the main thread's own copy of the state.
// The worker reports back through the injected MainThreadPoster, but never floods it: its
// state is a latest-value mailbox and its log lines a bounded queue, delivered together by at
// most one queued task (lines in order, then the newest state), however busy the run is.
// Waits sleep in slices of at most 40 ms (Clock::waitFor, woken by stop and pause), so a stop
// takes effect within one slice, or after the input action in progress. A run still not ended
// two seconds after a stop is reported (a "⚠️" line and stopOverdue()).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <pthread.h>

#include "engine/LuaStep.h"
#include "input/InputPlayer.h"
#include "model/Script.h"
#include "model/Uuid.h"
#include "platform/Desktop.h"
#include "platform/MainThread.h"

namespace tapforge {

struct RunOutbox;

struct ScriptRunnerServices {
    // clock, events, screens and grab are used; the rest of the desktop is not.
    platform::Desktop desktop;
    platform::MainThreadPoster postToMain;
    // Runs Lua steps; absent: every Lua step logs that the runtime is unavailable.
    std::shared_ptr<LuaStepHost> lua;
    // A uniformly distributed real number in the closed range [low, high] (random points of
    // clickRegion branches). Absent: a 64-bit Mersenne Twister seeded from the system.
    // Called on the worker thread.
    std::function<double(double low, double high)> uniform;
    // Real time after a stop at which a run that has still not ended is reported as overdue.
    int64_t overdueStopReportMs = 2000;
};

// Bounds and extras of one run, beyond what the script says.
struct RunOptions {
    // Ends the run like a stop once this much time of the run's clock has passed (virtual
    // time on the simulated desktop).
    std::optional<int64_t> timeLimitMs;
    // Ends the run before the step that would exceed this many executed steps.
    std::optional<int64_t> stepLimit;
    // Logs one line per executed step: its number, title and summary.
    bool logEachStep = false;
    // Waiting runs this many times faster: delays, the step interval, condition time-outs
    // and polls, and move durations are divided by it. Clicks and keys keep their own pacing;
    // Lua steps keep their time limits, because a Lua file's own sleeps are not scaled.
    // Greater than 0.
    double speed = 1.0;
};

// How the last run ended, for callers that report it (the command line's exit status).
struct RunOutcome {
    enum class End {
        finished,        // every pass ran to the end of the list
        empty,           // the script had no steps
        scriptStopped,   // a branch or a Lua step asked to stop
        stopped,         // stop() was called
        timeLimit,       // RunOptions::timeLimitMs ran out
        stepLimit,       // RunOptions::stepLimit was reached
    };
    End end = End::finished;
    bool luaFailed = false;   // a Lua step raised an error or ran out of time
};

class ScriptRunner {
public:
    explicit ScriptRunner(ScriptRunnerServices services);
    // Stops a run in progress and waits for its worker to end; a worker that has not ended after
    // overdueStopReportMs is left to itself (detached), so that the owner can quit.
    ~ScriptRunner();
    ScriptRunner(const ScriptRunner&) = delete;
    ScriptRunner& operator=(const ScriptRunner&) = delete;

    // Starts a run of a copy of `script`; `baseDirectory` is the folder of the script's file
    // (relative Lua paths). Ignored while a run is in progress or still ending.
    void start(const Script& script, std::optional<std::filesystem::path> baseDirectory, RunOptions options = {});
    // Pauses a running run or resumes a paused one; ignored when idle.
    void togglePause();
    // Asks the run to end; ignored when idle.
    void stop();

    // Observable state, main thread only.
    bool isRunning() const;
    bool isPaused() const;
    std::optional<Uuid> currentStepID() const;
    int64_t cycleCount() const;   // completed passes over the step list in this run
    // A stop was requested more than overdueStopReportMs ago and the run has still not ended
    // (say Lua code that cannot be interrupted): the owner may offer to quit and relaunch.
    // Cleared when the run ends.
    bool stopOverdue() const;
    // How the last finished run ended; nothing before the first run has ended.
    std::optional<RunOutcome> lastOutcome() const;

    // Every run-log line, on the main thread. Set before the first run.
    std::function<void(const std::string&)> onLog;
    // Called on the main thread after any observable property changed.
    std::function<void()> onChange;

    // The runner's player; its position survives between runs. Worker thread while running.
    InputPlayer& player() { return *player_; }

private:
    struct Shared;
    class Worker;
    static void* workerMain(void* worker);
    static void monitorMain(std::shared_ptr<Shared> shared);
    // Worker → main thread: queue a log line / change the mailbox state, and make sure one
    // delivery task is queued. Any thread but the main one.
    static void postLine(const std::shared_ptr<Shared>& shared, std::string text);
    static void postState(const std::shared_ptr<Shared>& shared, const std::function<void(RunOutbox&)>& change);
    // The delivery task, on the main thread.
    static void deliver(Shared& shared);
    void wakeWorker();

    std::shared_ptr<Shared> shared_;
    std::shared_ptr<InputPlayer> player_;
    std::thread::id mainThread_;
    bool threadStarted_ = false;
    pthread_t thread_{};   // the current or last worker, joined before the next start
    std::thread monitor_;   // started with the first run
};

}  // namespace tapforge
