// Internal to the engine: the state shared between the runner (main thread) and its worker,
// and the worker's side of one run. Not for use outside src/engine.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>

#include "engine/ScriptRunner.h"
#include "model/BranchTarget.h"
#include "model/Script.h"
#include "platform/Geometry.h"
#include "vision/ScreenCapture.h"

namespace tapforge {

// What the worker has told the main thread that the main thread has not yet taken: a mailbox.
// State is latest-value (many changes between two main-thread turns are one change there); log
// lines queue in order up to a bound, beyond which the oldest are dropped and counted. At most one
// delivery task is queued on the main thread at any time.
struct RunOutbox {
    std::deque<std::string> lines;
    size_t bytes = 0;     // text held in `lines`
    size_t dropped = 0;   // lines dropped since the last delivery
    std::optional<Uuid> currentStep;
    int64_t cycles = 0;
    bool ended = false;         // the worker has finished the run
    bool stopOverdue = false;   // a stop has gone unanswered for too long
    std::optional<RunOutcome> outcome;   // how the run ended, with `ended`
    bool stateChanged = false;
    bool taskQueued = false;
};

struct ScriptRunner::Shared {
    explicit Shared(ScriptRunnerServices s) : services(std::move(s)), capture(services.desktop) {}

    const ScriptRunnerServices services;
    // Kept across runs so that polls reuse its grab buffer. Worker thread.
    vision::ScreenCapture capture;

    // The two request flags, atomic: the main thread sets them without taking any lock the
    // worker may hold. `mutex` only pairs the worker's waits with the main thread's wake-up.
    std::mutex mutex;
    std::condition_variable condition;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> pauseRequested{false};

    // Worker (and monitor) → main. `outboxMutex` is held only to move a line or a few fields.
    std::mutex outboxMutex;
    RunOutbox outbox;

    // The stop monitor: reports a run that has not ended long after a stop. Its mutex is held
    // only to read or change these fields.
    std::mutex monitorMutex;
    std::condition_variable monitorWake;
    // Atomic as well as written under monitorMutex: the monitor reads them around its waits.
    std::atomic<bool> workerActive = false;   // from start until the worker's clean-up is done
    std::atomic<int64_t> stopAtNanos = 0;     // steady clock of the first stop of this run; 0: none
    std::atomic<bool> monitorQuit = false;   // written under monitorMutex; atomic for the wake-up check

    // Main thread only: the observable state and the owner (cleared when the runner goes, so
    // tasks still queued for the main thread find nobody to tell).
    ScriptRunner* owner = nullptr;
    bool running = false;
    bool paused = false;
    std::optional<Uuid> currentStep;
    int64_t cycles = 0;
    bool stopOverdue = false;
    std::optional<RunOutcome> lastOutcome;
};

class ScriptRunner::Worker {
public:
    Worker(std::shared_ptr<Shared> shared, std::shared_ptr<InputPlayer> player, Script script,
           std::optional<std::filesystem::path> baseDirectory, RunOptions options);

    // The whole run, end-of-run clean-up included. Worker thread.
    void run();

private:
    void emit(std::string text) { postLine(shared_, std::move(text)); }

    // A stop was asked for, or a limit of the run's options was reached.
    bool stopRequested() const { return shared_->stopRequested.load() || limitReached_.has_value(); }
    bool pauseRequested() const { return shared_->pauseRequested.load(); }
    // Waits `ms` milliseconds in slices of at most 40 ms; a pause freezes the remaining time.
    // False when a stop or the time limit ended it.
    bool interruptibleWait(int64_t ms);
    void pauseGate();
    void performStep(const Step& step, BranchTarget& branch);
    void cleanUp(bool luaSetUp, RunOutcome outcome);
    // Notes the time limit when it has passed; true then.
    bool timeLimitPassed();
    void logStep(size_t pc, const Step& step);

    // Conditions and branches (Conditions.cpp).
    bool colorCheck(const Step& step);
    bool evaluateImage(const Step& step);
    // The next pc after `branch`, or nothing when the script is to stop.
    std::optional<size_t> resolve(const BranchTarget& branch, size_t pc);
    size_t jumpIndex(const std::optional<Uuid>& target, size_t pc);
    void branchClick(const BranchTarget& branch, platform::Point at);
    double uniform(double low, double high);

    std::shared_ptr<Shared> shared_;
    std::shared_ptr<InputPlayer> player_;
    platform::Clock& clock_;
    const Script script_;
    const std::optional<std::filesystem::path> baseDirectory_;
    const RunOptions options_;
    int64_t deadlineMicros_ = 0;   // of the time limit, on clock_
    std::optional<RunOutcome::End> limitReached_;
    bool luaFailed_ = false;
    std::optional<platform::Rect> lastImageMatchRect_;
    std::mt19937_64 random_;
    bool randomSeeded_ = false;
};

// Log text of a number as "%.0f" / "%.1f" write it.
std::string formatFixed(double value, int decimals);

}  // namespace tapforge
