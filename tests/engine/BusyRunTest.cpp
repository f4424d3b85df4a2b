// Runs that never wait: the main thread keeps its turns, the log stays bounded, stops are prompt or reported.
#include <atomic>
#include <regex>
#include <thread>

#include "RunnerFixture.h"

namespace tapforge::test {
namespace {

using SteadyClock = std::chrono::steady_clock;
enum class ClockKind { system, dryRun };

using Ms = std::chrono::duration<double, std::milli>;
double msSince(SteadyClock::time_point t) { return Ms(SteadyClock::now() - t).count(); }

// Parameters: the step a goto loops over (a comment, a key step logging a warning, a 1 ms delay), the clock.
class BusyRun : public RunnerFixture, public ::testing::WithParamInterface<std::tuple<StepKind, ClockKind>> {
protected:
    // A runner on `kind` of clock; its tasks queued on the main loop and not yet run are counted.
    void useClock(ClockKind kind) {
        platform::Desktop desktop = sim->desktop();
        if (kind == ClockKind::system) desktop.clock = std::make_shared<platform::SystemClock>();
        else desktop.clock = std::make_shared<SimClock>(SimClock::Mode::dryRun);
        const auto counting = [this, inner = loop.poster()](std::function<void()> task) {
            const int now = ++pending;
            for (int seen = mostPending; now > seen && !mostPending.compare_exchange_weak(seen, now);) {}
            inner([this, task = std::move(task)] { --pending, task(); });
        };
        useServices({desktop, counting, nullptr, {}});
    }
    void TearDown() override { runner.reset(); }   // it may post while going, into the counters
    std::atomic<int> pending{0}, mostPending{0};
};

TEST_P(BusyRun, MainThreadKeepsItsTurnsAndStopEndsTheRun) {
    const auto [kind, clock] = GetParam();
    useClock(clock);
    Step first(kind), back(StepKind::goTo);
    first.delayMs = 1, back.gotoStepID = first.id;
    // A timer of the main thread: a task posted every millisecond, timed from post to run.
    int fired = 0;
    double worstMs = 0;
    std::jthread timer([&, post = loop.poster()](std::stop_token stop) {
        for (; !stop.stop_requested(); std::this_thread::sleep_for(1ms))
            post([&, posted = SteadyClock::now()] { ++fired, worstMs = std::max(worstMs, msSince(posted)); });
    });
    runner->start(scriptOf({first, back}, 0), std::nullopt);
    loop.runUntil([] { return false; }, 150ms);
    const int firedWhileBusy = fired;
    const auto stopped = SteadyClock::now();
    runner->stop();
    ASSERT_TRUE(ended(5s));
    const double stopMs = msSince(stopped);
    loop.drain();
    EXPECT_LE(mostPending.load(), 1) << "the worker queued more than one task at a time";
    EXPECT_GT(firedWhileBusy, 10) << "the main thread's timer starved";
    // Loose bounds (shared machines, sanitizers); the 50 ms target is the benchmark's (bench_engine busyRun).
    EXPECT_TRUE(worstMs < 1000 && stopMs < 1000) << worstMs << " " << stopMs;
    EXPECT_EQ(log.back(), "⏹ 已手动停止");
}

INSTANTIATE_TEST_SUITE_P(Loops, BusyRun, ::testing::Combine(
    ::testing::Values(StepKind::comment, StepKind::keyPress, StepKind::delay),
    ::testing::Values(ClockKind::system, ClockKind::dryRun)));

// The oldest undelivered lines go and one line counts them: the numbered passes account for every gap.
TEST_F(BusyRun, LogQueueStaysBoundedAndCountsWhatItDrops) {
    useClock(ClockKind::dryRun);
    runner->start(scriptOf({Step(StepKind::comment)}, 0), std::nullopt);
    std::this_thread::sleep_for(200ms);   // the main thread is busy elsewhere
    ASSERT_TRUE(loop.runUntil([&] { return !log.empty(); }, 5s));
    EXPECT_LE(log.size(), 1001u) << "one delivery: the bound and the line saying what was dropped";
    loop.runUntil([] { return false; }, 30ms);
    runner->stop();
    ASSERT_TRUE(ended(5s));
    loop.drain();
    const std::regex passLine("—— 第 (\\d+) 轮结束，重新开始 ——"), dropLine("⚠️ 日志输出过快，已省略 (\\d+) 行");
    int64_t expected = 0;   // the start line, dropped first, is number 0
    for (size_t i = 0; i + 1 < log.size(); ++i) {
        std::smatch m;
        if (std::regex_match(log[i], m, dropLine)) expected += std::stoll(m[1]);
        else if (std::regex_match(log[i], m, passLine)) ASSERT_EQ(std::stoll(m[1]), expected++) << i;
        else FAIL() << log[i];
    }
    EXPECT_EQ(log.back(), "⏹ 已手动停止");
}

// A Lua host that ignores the interrupt until the test lets it go.
struct StuckHost final : LuaStepHost {
    void setUpRun(const LuaRunContext&) override {}
    void tearDownRun() override {}
    void setInterrupt(bool) override {}
    LuaStepResult runStep(const Step&) override {
        return entered.set_value(), release.get_future().wait(), LuaStepResult::passed();
    }
    std::promise<void> entered, release;
};

// Reported while it lasts; then the owner quits without waiting, or the worker returns and it clears.
TEST_F(BusyRun, RunThatIgnoresAStopIsReported) {
    bool overdueSeen = false;
    for (bool leaveBehind : {false, true}) {
        SCOPED_TRACE(leaveBehind);
        overdueSeen = false;
        auto host = std::make_shared<StuckHost>();
        useServices({sim->desktop(), loop.poster(), host, {}, /*overdueStopReportMs*/ 100});
        runner->onChange = [&] { overdueSeen = overdueSeen || runner->stopOverdue(); };
        runner->start(scriptOf({Step(StepKind::lua)}), std::nullopt);
        host->entered.get_future().wait();
        runner->stop();
        ASSERT_TRUE(loop.runUntil([&] { return overdueSeen; }, 10s));
        EXPECT_EQ(log.back(), "⚠️ 已请求停止，运行仍未结束（可能陷入了无法中断的代码）");
        EXPECT_TRUE(runner->isRunning());
        if (leaveBehind) runner.reset();
        host->release.set_value();
        if (leaveBehind) continue;
        ASSERT_TRUE(ended());
        EXPECT_FALSE(runner->stopOverdue());
        EXPECT_EQ(log.back(), "⏹ 已手动停止");
    }
}

}  // namespace
}  // namespace tapforge::test
