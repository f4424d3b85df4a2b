// Runs that never wait: the main thread keeps its turns (at most one runner task queued, a timer
// keeps firing), the log queue stays bounded without losing order, stop ends them at once, and a
// run that ignores a stop is reported.
#include <atomic>
#include <future>
#include <regex>
#include <thread>

#include "RunnerFixture.h"

namespace tapforge::test {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Counts the runner's tasks queued on the main loop and not yet run.
struct CountingPoster {
    std::shared_ptr<std::atomic<int>> pending = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::atomic<int>> mostPending = std::make_shared<std::atomic<int>>(0);

    platform::MainThreadPoster wrap(platform::MainThreadPoster inner) const {
        return [pending = pending, most = mostPending, inner](std::function<void()> task) {
            const int now = ++*pending;
            int seen = most->load();
            while (now > seen && !most->compare_exchange_weak(seen, now)) {}
            inner([pending, task = std::move(task)] {
                --*pending;
                task();
            });
        };
    }
};

enum class Loop { gotoOnly, logging, shortDelay };
enum class ClockKind { system, dryRun };

Script busyScript(Loop kind) {
    Step first(kind == Loop::gotoOnly ? StepKind::comment : kind == Loop::logging ? StepKind::keyPress : StepKind::delay);
    first.delayMs = 1;
    Step back(StepKind::goTo);
    back.gotoStepID = first.id;
    return scriptOf({first, back}, 0);
}

class BusyRun : public RunnerFixture, public ::testing::WithParamInterface<std::tuple<Loop, ClockKind>> {
protected:
    void useClock(ClockKind kind) {
        platform::Desktop desktop = sim->desktop();
        if (kind == ClockKind::system) {
            desktop.clock = std::make_shared<platform::SystemClock>();
        } else {
            desktop.clock = std::make_shared<SimClock>(SimClock::Mode::dryRun);
        }
        runner = std::make_unique<ScriptRunner>(ScriptRunnerServices{desktop, counter.wrap(loop.poster()), nullptr, {}});
        runner->onLog = [this](const std::string& line) { log.push_back(line); };
    }

    CountingPoster counter;
};

TEST_P(BusyRun, MainThreadKeepsItsTurnsAndStopEndsTheRun) {
    const auto [loopKind, clockKind] = GetParam();
    useClock(clockKind);

    // A timer of the main thread: a task posted every millisecond, timed from post to run.
    std::atomic<bool> ticking{true};
    int fired = 0;
    double worstMs = 0;
    std::thread timer([&, post = loop.poster()] {
        while (ticking) {
            const auto posted = SteadyClock::now();
            post([&, posted] {
                ++fired;
                worstMs = std::max(worstMs, std::chrono::duration<double, std::milli>(SteadyClock::now() - posted).count());
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    runner->start(busyScript(loopKind), std::nullopt);
    loop.runUntil([] { return false; }, std::chrono::milliseconds(150));
    const int firedWhileBusy = fired;
    const auto stopped = SteadyClock::now();
    runner->stop();
    const bool ended = loop.runUntil([&] { return !runner->isRunning(); }, std::chrono::seconds(5), {}, std::chrono::milliseconds(1));
    const double stopMs = std::chrono::duration<double, std::milli>(SteadyClock::now() - stopped).count();
    ticking = false;
    timer.join();
    loop.drain();

    ASSERT_TRUE(ended) << "the run ignored the stop";
    EXPECT_LE(counter.mostPending->load(), 1) << "the worker queued more than one task at a time";
    EXPECT_GT(firedWhileBusy, 10) << "the main thread's timer starved";
    // Loose bounds (shared machines, sanitizers); the 50 ms target is the benchmark's (bench_engine busyRun).
    EXPECT_LT(worstMs, 1000);
    EXPECT_LT(stopMs, 1000);
    EXPECT_EQ(log.back(), "⏹ 已手动停止");
}

INSTANTIATE_TEST_SUITE_P(Loops, BusyRun,
                         ::testing::Combine(::testing::Values(Loop::gotoOnly, Loop::logging, Loop::shortDelay),
                                            ::testing::Values(ClockKind::system, ClockKind::dryRun)));

// A worker that outruns the main thread: the oldest undelivered lines go, one line says how many,
// and what remains arrives in order. Pass lines are numbered, so every gap is accounted for.
TEST_F(BusyRun, LogQueueStaysBoundedAndCountsWhatItDrops) {
    useClock(ClockKind::dryRun);
    runner->start(scriptOf({Step(StepKind::comment)}, 0), std::nullopt);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));   // the main thread is busy elsewhere
    ASSERT_TRUE(loop.runUntil([&] { return !log.empty(); }, std::chrono::seconds(5)));
    EXPECT_LE(log.size(), 1001u) << "one delivery: the bound and the line saying what was dropped";
    EXPECT_EQ(log[0].rfind("⚠️ 日志输出过快", 0), 0u) << log[0];
    loop.runUntil([] { return false; }, std::chrono::milliseconds(30));
    runner->stop();
    ASSERT_TRUE(loop.runUntil([&] { return !runner->isRunning(); }, std::chrono::seconds(5)));
    loop.drain();

    const std::regex passLine("—— 第 (\\d+) 轮结束，重新开始 ——");
    const std::regex dropLine("⚠️ 日志输出过快，已省略 (\\d+) 行");
    int64_t expected = 0;   // the start line, dropped first, counts as number 0
    ASSERT_GE(log.size(), 2u);
    for (size_t i = 0; i + 1 < log.size(); ++i) {
        std::smatch m;
        if (std::regex_match(log[i], m, dropLine)) {
            expected += std::stoll(m[1]);
        } else if (std::regex_match(log[i], m, passLine)) {
            ASSERT_EQ(std::stoll(m[1]), expected) << "line " << i;
            ++expected;
        } else {
            FAIL() << log[i];
        }
    }
    EXPECT_EQ(log.back(), "⏹ 已手动停止");
}

// A Lua host that ignores the interrupt until the test lets it go.
class StuckHost final : public LuaStepHost {
public:
    void setUpRun(const LuaRunContext&) override {}
    LuaStepResult runStep(const Step&) override {
        entered.set_value();
        release.get_future().wait();
        return LuaStepResult::passed();
    }
    void tearDownRun() override {}
    void setInterrupt(bool) override {}

    std::promise<void> entered, release;
};

TEST_F(BusyRun, RunThatIgnoresAStopIsReportedAndCanBeLeftBehind) {
    auto host = std::make_shared<StuckHost>();
    ScriptRunnerServices services{sim->desktop(), loop.poster(), host, {}};
    services.overdueStopReportMs = 100;
    runner = std::make_unique<ScriptRunner>(std::move(services));
    runner->onLog = [this](const std::string& line) { log.push_back(line); };
    bool overdueSeen = false;
    runner->onChange = [&] { overdueSeen = overdueSeen || runner->stopOverdue(); };

    runner->start(scriptOf({Step(StepKind::lua)}), std::nullopt);
    host->entered.get_future().wait();
    runner->stop();
    ASSERT_TRUE(loop.runUntil([&] { return overdueSeen; }, std::chrono::seconds(10)));
    EXPECT_EQ(log.back(), "⚠️ 已请求停止，运行仍未结束（可能陷入了无法中断的代码）");
    EXPECT_TRUE(runner->isRunning());

    // The owner quits: destroying the runner does not wait for the stuck worker for ever.
    runner.reset();
    host->release.set_value();
}

TEST_F(BusyRun, OverdueFlagClearsWhenTheRunEnds) {
    auto host = std::make_shared<StuckHost>();
    ScriptRunnerServices services{sim->desktop(), loop.poster(), host, {}};
    services.overdueStopReportMs = 50;
    runner = std::make_unique<ScriptRunner>(std::move(services));
    runner->onLog = [this](const std::string& line) { log.push_back(line); };
    runner->start(scriptOf({Step(StepKind::lua)}), std::nullopt);
    host->entered.get_future().wait();
    runner->stop();
    ASSERT_TRUE(loop.runUntil([&] { return runner->stopOverdue(); }, std::chrono::seconds(10)));
    host->release.set_value();
    ASSERT_TRUE(loop.runUntil([&] { return !runner->isRunning(); }, std::chrono::seconds(10)));
    EXPECT_FALSE(runner->stopOverdue());
    EXPECT_EQ(log.back(), "⏹ 已手动停止");
}

}  // namespace
}  // namespace tapforge::test
