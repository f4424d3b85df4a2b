// The bounds and extras a caller adds to a run (time limit, step limit, speed, a line per
// step) and how each run reports its end, on the virtual clock.
#include "RunnerFixture.h"

namespace tapforge::test {
namespace {

using Lines = std::vector<std::string>;
using End = RunOutcome::End;

class RunOptionsTest : public RunnerFixture {
protected:
    void play(const Script& script, RunOptions options) {
        runner->start(script, std::nullopt, options);
        ASSERT_TRUE(loop.runUntil([&] { return !runner->isRunning(); }, std::chrono::seconds(60)));
    }
    std::vector<int64_t> eventTimes() const {
        std::vector<int64_t> out;
        for (const PostedEvent& e : sim->postedEvents()) out.push_back(e.timeMs());
        return out;
    }
};

TEST_F(RunOptionsTest, TimeLimitEndsAWaitAtItsExactMoment) {
    RunOptions options;
    options.timeLimitMs = 2500;
    const int64_t start = nowMs();
    play(scriptOf({delayStep(1000)}, 0), options);
    EXPECT_EQ(nowMs(), start + 2500);
    EXPECT_EQ(log.back(), "⏹ 已到运行时间上限（2500 ms）");
    ASSERT_TRUE(runner->lastOutcome());
    EXPECT_EQ(runner->lastOutcome()->end, End::timeLimit);
}

TEST_F(RunOptionsTest, TimeLimitStopsAConditionWaitingForever) {
    RunOptions options;
    options.timeLimitMs = 700;
    const int64_t start = nowMs();
    play(scriptOf({colorStep({colorPoint(5, 5, 0, 0, 0, 0)}, true, 60'000, 200)}), options);
    EXPECT_EQ(nowMs(), start + 700);
    EXPECT_EQ(runner->lastOutcome()->end, End::timeLimit);
}

TEST_F(RunOptionsTest, StepLimitCountsExecutedStepsOnly) {
    Step disabled = clickStep(9, 9);
    disabled.enabled = false;
    RunOptions options;
    options.stepLimit = 3;
    options.logEachStep = true;
    play(scriptOf({clickStep(1, 1), disabled, delayStep(100)}, 0), options);
    EXPECT_EQ(log, (Lines{"▶︎ 开始执行「测试」，共 3 个步骤，无限循环", "#1 鼠标点击 · 左键单击 (1, 1)",
                          "#3 延迟 · 延迟 100 ms", "—— 第 1 轮结束，重新开始 ——", "#1 鼠标点击 · 左键单击 (1, 1)",
                          "⏹ 已执行 3 个步骤，达到步骤数上限"}));
    EXPECT_EQ(runner->lastOutcome()->end, End::stepLimit);
}

// Delays, the step interval, condition time-outs and move durations shrink; the click's own
// 20 ms hold does not.
TEST_F(RunOptionsTest, SpeedDividesWaitingButNotInputPacing) {
    Step move(StepKind::mouseMove);
    move.x = 100, move.hasPoint = true, move.moveDurationMs = 768;
    RunOptions options;
    options.speed = 4;
    const int64_t start = nowMs();
    play(scriptOf({delayStep(1000), clickStep(1, 1), move, colorStep({colorPoint(5, 5, 0, 0, 0, 0)}, true, 2000, 200)},
                  1, 400),
         options);
    // delay 250; click down at 250, up at 270; interval 100; 12 move events 16 ms apart from
    // 370; interval 100; the colour check waits 500.
    const std::vector<int64_t> times = eventTimes();
    ASSERT_EQ(times.size(), 2u + 12u);
    EXPECT_EQ(times[0] - start, 250);
    EXPECT_EQ(times[1] - start, 270);
    EXPECT_EQ(times[2] - start, 370);
    EXPECT_EQ(nowMs() - start, 370 + 192 + 100 + 500);
}

TEST_F(RunOptionsTest, EachWayToEndIsReported) {
    struct Case {
        const char* name;
        Script script;
        std::optional<int64_t> stopAtMs;
        End end;
    };
    Step failing = colorStep({colorPoint(5, 5, 0, 0, 0, 0)});
    failing.onFailure = branchOf(BranchKind::stop);
    const Case cases[] = {
        {"finished", scriptOf({delayStep(10)}, 2), std::nullopt, End::finished},
        {"empty", scriptOf({}), std::nullopt, End::empty},
        {"branch stop", scriptOf({failing, delayStep(10)}), std::nullopt, End::scriptStopped},
        {"stop()", scriptOf({delayStep(10'000)}), 100, End::stopped},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.stopAtMs) stopAt(nowMs() + *c.stopAtMs);
        play(c.script, RunOptions{});
        ASSERT_TRUE(runner->lastOutcome());
        EXPECT_EQ(runner->lastOutcome()->end, c.end);
        EXPECT_FALSE(runner->lastOutcome()->luaFailed);
    }
}

}  // namespace
}  // namespace tapforge::test
