// Colour and image checks as the runner performs them: attempts, polling, time-outs, stops,
// their log lines and the branch they choose.
#include <algorithm>

#include "TemplateImages.h"

namespace tapforge::test {
namespace {

using Lines = std::vector<std::string>;

// onFailure stops the script, so the log tells which branch was taken.
Step failureStops(Step step) {
    step.onFailure = branchOf(BranchKind::stop);
    return step;
}

bool tookFailure(const Lines& log) { return std::find(log.begin(), log.end(), "⏹ 脚本按要求停止") != log.end(); }

class ColorCheck : public RunnerFixture {};

TEST_F(ColorCheck, PassingPointLogsDetailsAndTakesSuccess) {
    sim->fill({20, 20, 1, 1}, {0x12, 0xAB, 0x00, 255});
    Step step = colorStep({colorPoint(20, 20, 0x10, 0xAA, 0x05), colorPoint(10, 10, 250, 250, 250)});
    play(scriptOf({failureStops(step)}));
    // The 3 x 3 average around (20, 20) mixes the dot with white: only the second point passes in
    // mode any; mode all fails on the first.
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].rfind("✘ 颜色判断未通过 ×#10AA05→#", 0), 0u) << log[1];
    EXPECT_NE(log[1].find(" √#FAFAFA→#FFFFFF"), std::string::npos) << log[1];
    EXPECT_TRUE(tookFailure(log));

    log.clear();
    step.colorMode = MatchMode::any;
    play(scriptOf({failureStops(step)}));
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].rfind("✔︎ 颜色判断通过 ×#10AA05→#", 0), 0u) << log[1];
    EXPECT_FALSE(tookFailure(log));
}

TEST_F(ColorCheck, SingleAttemptWithoutWaitingOrWithZeroTimeout) {
    struct Case {
        bool wait;
        int64_t timeoutMs;
    };
    for (Case c : {Case{false, 5000}, Case{true, 0}, Case{true, -10}}) {
        SCOPED_TRACE(std::to_string(c.wait) + " " + std::to_string(c.timeoutMs));
        log.clear();
        const int grabsBefore = sim->grabCount();
        const int64_t start = nowMs();
        play(scriptOf({failureStops(colorStep({colorPoint(10, 10, 255, 0, 0)}, c.wait, c.timeoutMs))}));
        EXPECT_EQ(sim->grabCount() - grabsBefore, 1);
        EXPECT_EQ(nowMs(), start);
        EXPECT_EQ(log[1], "✘ 颜色判断未通过 ×#FF0000→#FFFFFF");
        EXPECT_TRUE(tookFailure(log));
    }
}

TEST_F(ColorCheck, PollIntervalIsAtLeastThirtyMilliseconds) {
    play(scriptOf({colorStep({colorPoint(10, 10, 255, 0, 0)}, true, 100, 10)}));
    // Attempts at 0, 30, 60, 90 and 120 ms: the last one starts before the deadline check fails.
    EXPECT_EQ(sim->grabCount(), 5);
    EXPECT_EQ(nowMs(), 120);
}

TEST_F(ColorCheck, WaitsUntilTheColourAppears) {
    sim->clock().atMs(500, [this] { sim->fill({0, 0, 50, 50}, {255, 0, 0, 255}); });
    play(scriptOf({failureStops(colorStep({colorPoint(10, 10, 255, 0, 0)}, true, 5000, 200))}));
    EXPECT_EQ(nowMs(), 600);
    EXPECT_EQ(log[1], "✔︎ 颜色判断通过 √#FF0000→#FF0000");
    EXPECT_EQ(sim->grabCount(), 4);
}

TEST_F(ColorCheck, DisabledPointsOnlyWarnsWithoutGrabbing) {
    ColorPoint off = colorPoint(10, 10, 255, 255, 255);
    off.enabled = false;
    play(scriptOf({failureStops(colorStep({off, off}, true, 5000))}));
    EXPECT_EQ(log[1], "⚠️ 颜色判断没有可用的颜色点");
    EXPECT_TRUE(tookFailure(log));
    EXPECT_EQ(sim->grabCount(), 0);
}

TEST_F(ColorCheck, FailedGrabsCountAsFailedAttemptsWithNoDetails) {
    sim->setGrabFails(true);
    play(scriptOf({failureStops(colorStep({colorPoint(10, 10, 255, 255, 255)}, true, 100, 50))}));
    EXPECT_EQ(log[1], "✘ 颜色判断未通过 ");
    EXPECT_EQ(nowMs(), 100);
}

TEST_F(ColorCheck, StopDuringPollingLogsTheLastDetailsThenTheStop) {
    stopAt(350);
    play(scriptOf({colorStep({colorPoint(10, 10, 255, 0, 0)}, true, 5000, 200), clickStep(1, 1)}));
    EXPECT_EQ(log, (Lines{"▶︎ 开始执行「测试」，共 2 个步骤，循环 1 次", "✘ 颜色判断未通过 ×#FF0000→#FFFFFF",
                          "⏹ 已手动停止"}));
    EXPECT_EQ(nowMs(), 350);
    EXPECT_EQ(sim->grabCount(), 2);
    EXPECT_TRUE(events().empty()) << "the failure branch is not taken after a stop";
}

using ImageCheck = ImageFixture;

TEST_F(ImageCheck, MatchWithClickOnMatchLogsThenClicksTheCentre) {
    Step step = imageStep();
    step.clickOnMatch = true;
    play(scriptOf({failureStops(step)}));
    EXPECT_EQ(log, (Lines{"▶︎ 开始执行「测试」，共 1 个步骤，循环 1 次", "✔︎ 图像比对成功，相似度 100.0%",
                          "   点击匹配位置 (220, 165)", "✔︎ 全部循环执行完毕"}));
    EXPECT_EQ(events(), (Lines{"0ms button left down (220,165) flags 0x0 click 1", "20ms button left up (220,165) flags 0x0 click 1"}));
}

TEST_F(ImageCheck, NotFoundLogsTheLastScore) {
    Step step = imageStep();
    step.imageTemplate = templateOf(noise(40, 30, 99), 200, 150);
    play(scriptOf({failureStops(step)}));
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].rfind("✘ 图像比对失败，最高相似度 ", 0), 0u) << log[1];
    EXPECT_EQ(log[1].back(), '%');
    EXPECT_TRUE(tookFailure(log));
    EXPECT_EQ(sim->grabCount(), 1);
}

}  // namespace
}  // namespace tapforge::test
