// Internal to the engine: the state shared between the runner (main thread) and its worker,
// and the worker's side of one run. Not for use outside src/engine.
#pragma once

#include <atomic>
#include <condition_variable>
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

struct ScriptRunner::Shared {
    explicit Shared(ScriptRunnerServices s) : services(std::move(s)), capture(services.desktop) {}

    const ScriptRunnerServices services;
    // Kept across runs so that polls reuse its grab buffer. Worker thread.
    vision::ScreenCapture capture;

    // The two request flags. Written under `mutex` (so a waiting worker cannot miss the
    // broadcast) and read without it between wait slices.
    std::mutex mutex;
    std::condition_variable condition;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> pauseRequested{false};

    // Main thread only: the observable state and the owner (cleared when the runner goes, so
    // tasks still queued for the main thread find nobody to tell).
    ScriptRunner* owner = nullptr;
    bool running = false;
    bool paused = false;
    std::optional<Uuid> currentStep;
    int64_t cycles = 0;
    std::optional<RunOutcome> lastOutcome;
};

class ScriptRunner::Worker {
public:
    Worker(std::shared_ptr<Shared> shared, std::shared_ptr<InputPlayer> player, Script script,
           std::optional<std::filesystem::path> baseDirectory, RunOptions options);

    // The whole run, end-of-run clean-up included. Worker thread.
    void run();

private:
    void emit(std::string text);
    // Runs `change` on the main thread against the shared state, then tells the owner.
    void publish(std::function<void(Shared&)> change);

    // A stop was asked for, or a limit of the run's options was reached.
    bool stopRequested() const { return shared_->stopRequested.load() || limitReached_.has_value(); }
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
