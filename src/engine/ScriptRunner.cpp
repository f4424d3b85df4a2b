#include "engine/ScriptRunner.h"

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>

#include "engine/RunWorker.h"
#include "input/keymap/KeyMap.h"

namespace tapforge {

namespace {

constexpr size_t kWorkerStackBytes = 0x400000;
constexpr int64_t kWaitSliceMicros = 40'000;
// Longer waits are cut to this (about 292 000 years) so the microsecond count cannot overflow.
constexpr int64_t kMaxWaitMs = std::numeric_limits<int64_t>::max() / 1000;
// What the log may hold for the main thread before the oldest lines are dropped: well above the
// 100 lines the log panel keeps, small enough for one main-thread task.
constexpr size_t kMaxQueuedLines = 1000;
constexpr size_t kMaxQueuedBytes = size_t{1} << 20;

bool isInputKind(StepKind kind) {
    switch (kind) {
        case StepKind::mouseClick:
        case StepKind::mouseMove:
        case StepKind::mouseScroll:
        case StepKind::keyPress:
        case StepKind::typeText:
            return true;
        default:
            return false;
    }
}

Script scaledForSpeed(Script script, double speed) {
    if (speed == 1.0 || !(speed > 0)) return script;
    const auto scaled = [speed](int64_t ms) {
        return static_cast<int64_t>(std::llround(std::clamp(static_cast<double>(ms) / speed, -9e15, 9e15)));
    };
    script.stepIntervalMs = scaled(script.stepIntervalMs);
    for (Step& step : script.steps) {
        step.delayMs = scaled(step.delayMs);
        step.moveDurationMs = scaled(step.moveDurationMs);
        if (step.kind == StepKind::colorCheck || step.kind == StepKind::imageCheck) {
            step.timeoutMs = scaled(step.timeoutMs);
            step.pollMs = scaled(step.pollMs);
        }
    }
    return script;
}

bool hasLuaStep(const Script& script) {
    return std::any_of(script.steps.begin(), script.steps.end(),
                       [](const Step& s) { return s.kind == StepKind::lua; });
}

}  // namespace

void* ScriptRunner::workerMain(void* argument) {
    std::unique_ptr<Worker> worker(static_cast<Worker*>(argument));
    pthread_setname_np(pthread_self(), "TapforgeRunner");
    worker->run();
    return nullptr;
}

std::string formatFixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

// ---------------------------------------------------------------- main-thread side

ScriptRunner::ScriptRunner(ScriptRunnerServices services)
    : shared_(std::make_shared<Shared>(std::move(services))),
      player_(std::make_shared<InputPlayer>(shared_->services.desktop.events, shared_->services.desktop.clock)),
      mainThread_(std::this_thread::get_id()) {
    shared_->owner = this;
    // A long move or drag ends at the next of its paced steps once a stop is asked for.
    player_->shouldStop = [weak = std::weak_ptr<Shared>(shared_)] {
        const auto shared = weak.lock();
        return !shared || shared->stopRequested.load();
    };
}

ScriptRunner::~ScriptRunner() {
    shared_->owner = nullptr;
    if (monitor_.joinable()) {
        {
            std::lock_guard lock(shared_->monitorMutex);
            shared_->monitorQuit = true;
        }
        shared_->monitorWake.notify_all();
        monitor_.join();
    }
    if (threadStarted_) {
        shared_->stopRequested = true;
        shared_->pauseRequested = false;
        wakeWorker();
        if (shared_->services.lua) shared_->services.lua->setInterrupt(true);
        // A worker that ignores the stop for as long as a stop may take before it is reported
        // may never end: it is left to itself (it owns what it uses) so that the owner can quit.
        timespec until{};
        clock_gettime(CLOCK_REALTIME, &until);
        const int64_t waitMs = std::max<int64_t>(shared_->services.overdueStopReportMs, 0);
        until.tv_sec += static_cast<time_t>(waitMs / 1000);
        until.tv_nsec += static_cast<long>(waitMs % 1000) * 1'000'000;
        if (until.tv_nsec >= 1'000'000'000) until.tv_sec += 1, until.tv_nsec -= 1'000'000'000;
        if (pthread_timedjoin_np(thread_, nullptr, &until) != 0) pthread_detach(thread_);
    }
}

bool ScriptRunner::isRunning() const { return shared_->running; }
bool ScriptRunner::isPaused() const { return shared_->paused; }
std::optional<Uuid> ScriptRunner::currentStepID() const { return shared_->currentStep; }
int64_t ScriptRunner::cycleCount() const { return shared_->cycles; }
bool ScriptRunner::stopOverdue() const { return shared_->stopOverdue; }
std::optional<RunOutcome> ScriptRunner::lastOutcome() const { return shared_->lastOutcome; }

void ScriptRunner::start(const Script& script, std::optional<std::filesystem::path> baseDirectory, RunOptions options) {
    if (shared_->running) return;
    if (threadStarted_) {
        // The previous worker published its end as its last act; it is gone or about to be.
        pthread_join(thread_, nullptr);
        threadStarted_ = false;
    }
    shared_->stopRequested = false;
    shared_->pauseRequested = false;
    if (shared_->services.lua) shared_->services.lua->setInterrupt(false);
    {
        std::lock_guard lock(shared_->outboxMutex);
        shared_->outbox = RunOutbox{};
    }
    {
        std::lock_guard lock(shared_->monitorMutex);
        shared_->workerActive = true;
        shared_->stopAtNanos = 0;
    }
    if (!monitor_.joinable()) monitor_ = std::thread(monitorMain, shared_);

    shared_->running = true;
    shared_->paused = false;
    shared_->cycles = 0;
    shared_->stopOverdue = false;
    if (onChange) onChange();

    auto worker = std::make_unique<Worker>(shared_, player_, script, std::move(baseDirectory), options);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kWorkerStackBytes);
    const int failed = pthread_create(&thread_, &attributes, workerMain, worker.get());
    pthread_attr_destroy(&attributes);
    if (failed != 0) {
        // Without a worker there is no run: report it as ended rather than stay "running".
        {
            std::lock_guard lock(shared_->monitorMutex);
            shared_->workerActive = false;
        }
        shared_->running = false;
        if (onLog) onLog("⚠️ 无法创建执行线程");
        if (onChange) onChange();
        return;
    }
    worker.release();   // owned by the thread now
    threadStarted_ = true;
}

void ScriptRunner::wakeWorker() {
    // Taken when free, so that a worker between its check of the flags and its wait cannot miss
    // the notification. When the worker holds it (for an instant, or across a simulated slice)
    // the main thread does not wait for it: every wait of the worker is one slice at most.
    std::unique_lock lock(shared_->mutex, std::try_to_lock);
    shared_->condition.notify_all();
}

void ScriptRunner::togglePause() {
    if (!shared_->running) return;
    const bool nowPaused = !shared_->pauseRequested.load();
    shared_->pauseRequested = nowPaused;
    wakeWorker();
    shared_->paused = nowPaused;
    if (onChange) onChange();
    if (onLog) onLog(nowPaused ? "已暂停" : "继续执行");
}

void ScriptRunner::stop() {
    if (!shared_->running) return;
    shared_->stopRequested = true;
    shared_->pauseRequested = false;
    wakeWorker();
    if (shared_->services.lua) shared_->services.lua->setInterrupt(true);
    {
        std::lock_guard lock(shared_->monitorMutex);
        if (!shared_->stopAtNanos) shared_->stopAtNanos = std::chrono::steady_clock::now().time_since_epoch().count();
    }
    shared_->monitorWake.notify_all();
}

// ---------------------------------------------------------------- worker → main

void ScriptRunner::postLine(const std::shared_ptr<Shared>& shared, std::string text) {
    postState(shared, [&text](RunOutbox& box) {
        box.bytes += text.size();
        box.lines.push_back(std::move(text));
        // The newest line always stays, however long.
        while (box.lines.size() > 1 && (box.lines.size() > kMaxQueuedLines || box.bytes > kMaxQueuedBytes)) {
            box.bytes -= box.lines.front().size();
            box.lines.pop_front();
            ++box.dropped;
        }
    });
}

void ScriptRunner::postState(const std::shared_ptr<Shared>& shared, const std::function<void(RunOutbox&)>& change) {
    {
        std::lock_guard lock(shared->outboxMutex);
        change(shared->outbox);
        if (shared->outbox.taskQueued) return;
        shared->outbox.taskQueued = true;
    }
    std::weak_ptr<Shared> weak = shared;
    shared->services.postToMain([weak] {
        if (auto alive = weak.lock()) deliver(*alive);
    });
}

void ScriptRunner::deliver(Shared& shared) {
    std::deque<std::string> lines;
    size_t dropped;
    RunOutbox state;
    {
        std::lock_guard lock(shared.outboxMutex);
        RunOutbox& box = shared.outbox;
        lines.swap(box.lines);
        box.bytes = 0;
        dropped = std::exchange(box.dropped, 0);
        state.currentStep = box.currentStep;
        state.cycles = box.cycles;
        state.ended = box.ended;
        state.outcome = box.outcome;
        state.stopOverdue = box.stopOverdue;
        state.stateChanged = std::exchange(box.stateChanged, false);
        box.taskQueued = false;
    }
    auto log = [&shared](const std::string& line) {
        if (shared.owner && shared.owner->onLog) shared.owner->onLog(line);
    };
    if (dropped > 0) log("⚠️ 日志输出过快，已省略 " + std::to_string(dropped) + " 行");
    for (const std::string& line : lines) log(line);
    if (!state.stateChanged) return;
    shared.cycles = state.cycles;
    shared.currentStep = state.currentStep;
    shared.stopOverdue = state.stopOverdue;
    if (state.ended) {
        shared.lastOutcome = state.outcome;
        shared.running = false;
        shared.paused = false;
        shared.currentStep.reset();
        shared.stopOverdue = false;
    }
    if (shared.owner && shared.owner->onChange) shared.owner->onChange();
}

void ScriptRunner::monitorMain(std::shared_ptr<Shared> shared) {
    std::unique_lock lock(shared->monitorMutex);
    while (!shared->monitorQuit) {
        if (!shared->workerActive || !shared->stopAtNanos) {
            shared->monitorWake.wait(lock);
            continue;
        }
        const auto due = std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(shared->stopAtNanos.load())) +
                         std::chrono::milliseconds(shared->services.overdueStopReportMs);
        const auto now = std::chrono::steady_clock::now();
        if (now < due) {
            // Waits on the system clock in slices of at most 50 ms, re-checked against the
            // steady due time: a steady-clock wait is a clockwait call that ThreadSanitizer does
            // not see release the lock, and a change of the wall clock costs at most one slice.
            const auto slice = std::min<std::chrono::steady_clock::duration>(due - now, std::chrono::milliseconds(50));
            shared->monitorWake.wait_until(lock, std::chrono::system_clock::now() + slice);
            continue;
        }
        shared->stopAtNanos = 0;   // once per run
        lock.unlock();
        postLine(shared, "⚠️ 已请求停止，运行仍未结束（可能陷入了无法中断的代码）");
        postState(shared, [](RunOutbox& box) {
            box.stopOverdue = true;
            box.stateChanged = true;
        });
        lock.lock();
    }
}

// ---------------------------------------------------------------- worker side

ScriptRunner::Worker::Worker(std::shared_ptr<Shared> shared, std::shared_ptr<InputPlayer> player, Script script,
                             std::optional<std::filesystem::path> baseDirectory, RunOptions options)
    : shared_(std::move(shared)),
      player_(std::move(player)),
      clock_(*shared_->services.desktop.clock),
      script_(scaledForSpeed(std::move(script), options.speed)),
      baseDirectory_(std::move(baseDirectory)),
      options_(options) {}

bool ScriptRunner::Worker::timeLimitPassed() {
    if (!options_.timeLimitMs || clock_.nowMicros() < deadlineMicros_) return false;
    limitReached_ = RunOutcome::End::timeLimit;
    return true;
}

void ScriptRunner::Worker::logStep(size_t pc, const Step& step) {
    // Appends, not literal + string: GCC 12 at -O3 warns falsely on the latter (-Wrestrict).
    std::string line = "#";
    line.append(std::to_string(pc + 1)).append(" ").append(step.title());
    const std::string summary = step.summary();
    if (!summary.empty()) line.append(" · ").append(summary);
    emit(std::move(line));
}

bool ScriptRunner::Worker::interruptibleWait(int64_t ms) {
    if (ms <= 0) return !stopRequested();
    int64_t remaining = ms > kMaxWaitMs ? kMaxWaitMs * 1000 : ms * 1000;
    while (remaining > 0) {
        if (stopRequested()) return false;
        if (pauseRequested()) {
            pauseGate();
            continue;
        }
        if (timeLimitPassed()) return false;
        int64_t slice = std::min(remaining, kWaitSliceMicros);
        // The time limit ends the wait at its exact moment, not at the end of a slice.
        if (options_.timeLimitMs) slice = std::min(slice, deadlineMicros_ - clock_.nowMicros());
        const int64_t before = clock_.nowMicros();
        {
            std::unique_lock lock(shared_->mutex);
            if (!stopRequested() && !pauseRequested()) clock_.waitFor(shared_->condition, lock, slice);
        }
        // A notification (stop, pause) or a due callback may end the slice early: only the
        // time that passed counts, so a pause freezes exactly what is left.
        remaining -= std::clamp<int64_t>(clock_.nowMicros() - before, 0, slice);
    }
    return !stopRequested() && !timeLimitPassed();
}

// A pause lasts in real time whatever the clock. It waits in slices because the main thread
// wakes it without waiting for the lock.
void ScriptRunner::Worker::pauseGate() {
    while (pauseRequested() && !stopRequested()) {
        std::unique_lock lock(shared_->mutex);
        if (pauseRequested() && !stopRequested())
            shared_->condition.wait_for(lock, std::chrono::microseconds(kWaitSliceMicros));
    }
}

void ScriptRunner::Worker::performStep(const Step& step, BranchTarget& branch) {
    const platform::Point point = step.hasPoint ? platform::Point{step.x, step.y} : player_->position();
    switch (step.kind) {
        case StepKind::delay:
            interruptibleWait(step.delayMs);
            break;
        case StepKind::mouseClick:
            player_->click(step.mouseButton, step.clickKind, point, step.modifiers);
            break;
        case StepKind::mouseMove:
            player_->move(point, step.moveDurationMs);
            break;
        case StepKind::mouseScroll:
            player_->scroll(step.scrollAmount, point);
            break;
        case StepKind::keyPress:
            if (!step.keyCode) {
                emit("⚠️ 按键步骤未设置按键，已跳过");
            } else {
                player_->key(*step.keyCode, step.keyKind, step.modifiers);
            }
            break;
        case StepKind::typeText:
            player_->typeText(step.text);
            break;
        case StepKind::colorCheck:
            branch = colorCheck(step) ? step.onSuccess : step.onFailure;
            break;
        case StepKind::imageCheck:
            branch = evaluateImage(step) ? step.onSuccess : step.onFailure;
            break;
        case StepKind::lua: {
            LuaStepResult result = LuaStepResult::failed();
            if (!shared_->services.lua) {
                emit("⚠️ Lua 运行时不可用");
            } else {
                result = shared_->services.lua->runStep(step);
            }
            if (result.error) luaFailed_ = true;
            switch (result.kind) {
                case LuaStepResult::Kind::jump:
                    branch = BranchTarget{};
                    branch.kind = BranchKind::jump;
                    branch.targetStepID = result.target;
                    break;
                case LuaStepResult::Kind::passed:
                    branch = step.onSuccess;
                    break;
                case LuaStepResult::Kind::failed:
                    branch = step.onFailure;
                    break;
                case LuaStepResult::Kind::stop:
                    branch = BranchTarget{};
                    branch.kind = BranchKind::stop;
                    break;
            }
            break;
        }
        case StepKind::goTo:
            branch = BranchTarget{};
            branch.kind = BranchKind::jump;
            branch.targetStepID = step.gotoStepID;
            break;
        case StepKind::comment:
            break;
    }
}

void ScriptRunner::Worker::run() {
    bool luaSetUp = false;
    // Steps, branches and Lua all press keys through the player; none is skipped unsaid.
    player_->onKeyUnavailable = [this](uint16_t keyCode) {
        std::string line = "⚠️ 按键 ";
        line.append(KeyMap::name(keyCode)).append(" 在此桌面上无法发送，已跳过");
        emit(std::move(line));
    };
    if (script_.steps.empty()) {
        emit("脚本为空，没有可执行的步骤");
        cleanUp(luaSetUp, RunOutcome{RunOutcome::End::empty});
        return;
    }

    if (options_.timeLimitMs) {
        const int64_t now = clock_.nowMicros();
        deadlineMicros_ = *options_.timeLimitMs > (kMaxWaitMs - now / 1000) ? std::numeric_limits<int64_t>::max()
                                                                          : now + *options_.timeLimitMs * 1000;
    }
    if (shared_->services.lua && hasLuaStep(script_)) {
        LuaRunContext context{
            *player_, script_, baseDirectory_, [this](const std::string& line) { emit(line); },
            shared_->stopRequested, clock_, options_.timeLimitMs ? std::max<int64_t>(1, deadlineMicros_ / 1000) : 0,
        };
        shared_->services.lua->setUpRun(context);
        luaSetUp = true;
    }

    const std::string tail = script_.loopCount == 0 ? "，无限循环" : "，循环 " + std::to_string(script_.loopCount) + " 次";
    emit("▶︎ 开始执行「" + script_.name + "」，共 " + std::to_string(script_.steps.size()) + " 个步骤" + tail);

    RunOutcome::End end = RunOutcome::End::finished;
    int64_t executed = 0;
    int64_t cycle = 0;
    size_t pc = 0;
    const size_t count = script_.steps.size();
    while (!stopRequested()) {
        pauseGate();
        if (stopRequested() || timeLimitPassed()) break;

        if (pc >= count) {
            cycle += 1;
            postState(shared_, [cycle](RunOutbox& box) {
                box.cycles = cycle;
                box.stateChanged = true;
            });
            if (script_.loopCount < 1 || cycle < script_.loopCount) {
                emit("—— 第 " + std::to_string(cycle) + " 轮结束，重新开始 ——");
                pc = 0;
                continue;
            }
            emit("✔︎ 全部循环执行完毕");
            break;
        }

        const Step& step = script_.steps[pc];
        if (!step.enabled) {
            pc += 1;
            continue;
        }
        if (options_.stepLimit && executed >= *options_.stepLimit) {
            limitReached_ = RunOutcome::End::stepLimit;
            break;
        }
        executed += 1;
        postState(shared_, [&step](RunOutbox& box) {
            box.currentStep = step.id;
            box.stateChanged = true;
        });
        if (options_.logEachStep) logStep(pc, step);
        BranchTarget branch;

        performStep(step, branch);
        if (stopRequested()) break;

        if (isInputKind(step.kind) && script_.stepIntervalMs > 0) {
            if (!interruptibleWait(script_.stepIntervalMs)) break;
        }

        const std::optional<size_t> next = resolve(branch, pc);
        if (!next) {
            emit("⏹ 脚本按要求停止");
            end = RunOutcome::End::scriptStopped;
            break;
        }
        pc = *next;
    }

    if (shared_->stopRequested) {
        emit("⏹ 已手动停止");
        end = RunOutcome::End::stopped;
    } else if (limitReached_ == RunOutcome::End::timeLimit) {
        emit("⏹ 已到运行时间上限（" + std::to_string(*options_.timeLimitMs) + " ms）");
        end = *limitReached_;
    } else if (limitReached_ == RunOutcome::End::stepLimit) {
        emit("⏹ 已执行 " + std::to_string(*options_.stepLimit) + " 个步骤，达到步骤数上限");
        end = *limitReached_;
    }
    cleanUp(luaSetUp, RunOutcome{end, luaFailed_});
}

void ScriptRunner::Worker::cleanUp(bool luaSetUp, RunOutcome outcome) {
    if (auto& lua = shared_->services.lua) {
        // Closing the state runs its pending finalizers: none after a stop, and a stop that
        // comes while they run ends them; the flag is cleared after.
        if (luaSetUp) lua->tearDownRun();
        lua->setInterrupt(false);
    }
    // A run may end between a `down` and its `up` (a step, a branch or Lua): leave nothing
    // pressed on the user's keyboard or mouse.
    player_->releaseHeld();
    player_->onKeyUnavailable = nullptr;
    {
        std::lock_guard lock(shared_->monitorMutex);
        shared_->workerActive = false;
    }
    postState(shared_, [outcome](RunOutbox& box) {
        box.ended = true;
        box.outcome = outcome;
        box.stateChanged = true;
    });
}

}  // namespace tapforge
