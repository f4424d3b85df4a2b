// The run loop: passes, loop counts, pacing, pause and stop, observable state, a Lua step without a host.
#include <algorithm>
#include <map>

#include "RunnerFixture.h"

namespace tapforge::test {
namespace {

using Lines = std::vector<std::string>;

class RunLoop : public RunnerFixture {};

TEST_F(RunLoop, ThreePassesLogEachPassEndAndCountCycles) {
    std::vector<int64_t> cycleValues;
    runner->onChange = [&] {
        if (cycleValues.empty() || cycleValues.back() != runner->cycleCount()) cycleValues.push_back(runner->cycleCount());
    };
    play(scriptOf({delayStep(100), delayStep(250)}, 3));
    EXPECT_EQ(log, (Lines{"▶︎ 开始执行「测试」，共 2 个步骤，循环 3 次", "—— 第 1 轮结束，重新开始 ——",
                          "—— 第 2 轮结束，重新开始 ——", "✔︎ 全部循环执行完毕"}));
    EXPECT_EQ(runner->cycleCount(), 3);
    // Changes between two main-thread turns arrive as one: the values only ever grow.
    EXPECT_TRUE(std::is_sorted(cycleValues.begin(), cycleValues.end()));
    EXPECT_EQ(cycleValues.back(), 3);
    EXPECT_EQ(nowMs(), 3 * 350);
    EXPECT_FALSE(runner->isRunning());
    EXPECT_FALSE(runner->currentStepID().has_value());
}

TEST_F(RunLoop, LoopCountBelowOneRepeatsUntilStopped) {
    for (int64_t loops : {int64_t{0}, int64_t{-2}}) {
        SCOPED_TRACE(loops);
        log.clear();
        const int64_t start = nowMs();
        stopAt(start + 1000);
        play(scriptOf({delayStep(300)}, loops));
        const std::string tail = loops == 0 ? "，无限循环" : "，循环 -2 次";
        EXPECT_EQ(log, (Lines{"▶︎ 开始执行「测试」，共 1 个步骤" + tail, "—— 第 1 轮结束，重新开始 ——",
                              "—— 第 2 轮结束，重新开始 ——", "—— 第 3 轮结束，重新开始 ——", "⏹ 已手动停止"}));
        EXPECT_EQ(runner->cycleCount(), 3);
        EXPECT_EQ(nowMs(), start + 1000) << "a stop during a wait ends it at once";
    }
}

TEST_F(RunLoop, EmptyScriptLogsOnlyThatItIsEmpty) {
    play(scriptOf({}));
    EXPECT_EQ(log, (Lines{"脚本为空，没有可执行的步骤"}));
    EXPECT_TRUE(events().empty());
}

TEST_F(RunLoop, WithoutALuaHostALuaStepFails) {
    Step lua(StepKind::lua);
    lua.luaFile = "a.lua";
    lua.onFailure = branchOf(BranchKind::stop);
    play(scriptOf({lua, clickStep(1, 1)}));
    EXPECT_EQ(log, (Lines{"▶︎ 开始执行「测试」，共 2 个步骤，循环 1 次", "⚠️ Lua 运行时不可用", "⏹ 脚本按要求停止"}));
}

// The interval follows mouse, key and text steps only.
TEST_F(RunLoop, StepIntervalOnlyAfterInputSteps) {
    Step comment(StepKind::comment);
    Step jumpNext(StepKind::goTo);
    Step pass = colorStep({colorPoint(10, 10, 255, 255, 255)});
    Step scroll(StepKind::mouseScroll);
    scroll.x = 1, scroll.y = 2, scroll.hasPoint = true, scroll.scrollAmount = 3;
    Step move(StepKind::mouseMove);
    move.x = 4, move.y = 4, move.hasPoint = true, move.moveDurationMs = 0;
    Step typing(StepKind::typeText);
    typing.text = "a";
    Step lua(StepKind::lua);
    Script script = scriptOf({clickStep(1, 1), delayStep(100), comment, jumpNext, pass, lua, keyStep(std::nullopt),
                              keyStep(1), scroll, move, typing, clickStep(2, 2)},
                             1, 500);
    jumpNext.gotoStepID = script.steps[4].id;
    script.steps[3] = jumpNext;
    play(script);
    EXPECT_EQ(events(), (Lines{
                            "0ms button left down (1,1) flags 0x0 click 1",
                            "20ms button left up (1,1) flags 0x0 click 1",
                            // 500 interval, 100 delay, nothing after comment, goto, colour check, Lua
                            // 500 after the key step without a key
                            "1120ms key down 1 flags 0x0",
                            "1132ms key up 1 flags 0x0",
                            "1632ms move (1,2)",
                            "1632ms scroll 3 (1,2)",
                            "2147ms move (4,4)",
                            "2647ms key down 0 flags 0x0",
                            "2655ms key up 0 flags 0x0",
                            "3163ms button left down (2,2) flags 0x0 click 1",
                            "3183ms button left up (2,2) flags 0x0 click 1",
                        }));
    EXPECT_EQ(nowMs(), 3683);
    EXPECT_NE(std::find(log.begin(), log.end(), "⚠️ 按键步骤未设置按键，已跳过"), log.end());
}

TEST_F(RunLoop, PauseFreezesTheRemainingWait) {
    sim->clock().atMs(3000, [this] { onMain([this] { runner->togglePause(); }); });
    runner->start(scriptOf({delayStep(10000), clickStep(1, 1)}), std::nullopt);
    ASSERT_TRUE(loop.runUntil([&] { return runner->isPaused(); }, std::chrono::seconds(10)));
    // Real time passes; a worker that ignored the pause would reach the click meanwhile.
    loop.runUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(nowMs(), 3000);
    EXPECT_TRUE(sim->postedEvents().empty());
    runner->togglePause();
    ASSERT_TRUE(loop.runUntil([&] { return !runner->isRunning(); }, std::chrono::seconds(10)));
    EXPECT_EQ(events(), (Lines{"10000ms button left down (1,1) flags 0x0 click 1", "10020ms button left up (1,1) flags 0x0 click 1"}));
    EXPECT_EQ(log, (Lines{"▶︎ 开始执行「测试」，共 2 个步骤，循环 1 次", "已暂停", "继续执行", "✔︎ 全部循环执行完毕"}));
    EXPECT_FALSE(runner->isPaused());
}

TEST_F(RunLoop, StopWhilePausedEndsTheRun) {
    sim->clock().atMs(50, [this] { onMain([this] { runner->togglePause(); }); });
    runner->start(scriptOf({delayStep(1000), clickStep(1, 1)}), std::nullopt);
    ASSERT_TRUE(loop.runUntil([&] { return runner->isPaused(); }, std::chrono::seconds(10)));
    runner->stop();
    ASSERT_TRUE(loop.runUntil([&] { return !runner->isRunning(); }, std::chrono::seconds(10)));
    EXPECT_EQ(log.back(), "⏹ 已手动停止");
    EXPECT_FALSE(runner->isPaused());
    EXPECT_TRUE(events().empty());
    EXPECT_EQ(nowMs(), 50);
}

TEST_F(RunLoop, StopDuringAnInputActionLetsItCompleteThenEnds) {
    // The stop arrives while the click holds the button: the click completes, nothing follows.
    sim->clock().atMs(10, [this] { onMain([this] { runner->stop(); }); });
    play(scriptOf({clickStep(1, 1), clickStep(2, 2)}));
    EXPECT_EQ(log, (Lines{"▶︎ 开始执行「测试」，共 2 个步骤，循环 1 次", "⏹ 已手动停止"}));
    EXPECT_EQ(events().size(), 2u) << "the click in progress completes";
}

TEST_F(RunLoop, StopDuringA600SecondDragEndsTheMoveAndReleasesTheButton) {
    Step move(StepKind::mouseMove);
    move.x = 700, move.y = 500, move.hasPoint = true, move.moveDurationMs = 600'000;
    const int64_t start = nowMs();
    stopAt(start + 1000);
    play(scriptOf({clickStep(10, 10, ClickKind::down), move, clickStep(700, 500, ClickKind::up)}));
    EXPECT_LE(nowMs() - start, 1050) << "the move must end within a stop-check slice";
    EXPECT_EQ(log.back(), "⏹ 已手动停止");
    const auto posted = sim->postedEvents();
    ASSERT_GE(posted.size(), 3u);
    const PostedEvent& last = posted.back();
    EXPECT_EQ(last.kind, PostedEvent::Kind::button);
    EXPECT_EQ(last.press, platform::Press::up);
    EXPECT_LT(last.location.x, 700) << "released where the cut move stopped, not at its target";
    for (size_t i = 1; i + 1 < posted.size(); ++i) EXPECT_EQ(posted[i].kind, PostedEvent::Kind::move);
}

TEST_F(RunLoop, TogglePauseAndStopAreIgnoredWhenIdle) {
    runner->togglePause();
    runner->stop();
    EXPECT_FALSE(runner->isPaused());
    EXPECT_TRUE(log.empty());
    play(scriptOf({clickStep(1, 1)}));
    EXPECT_EQ(log.back(), "✔︎ 全部循环执行完毕") << "an idle stop must not leak into the next run";
}

// Whatever ends the run, no key or button the script pressed stays down.
TEST_F(RunLoop, NothingStaysPressedAfterAnyEnd) {
    Step stopBranch = colorStep({colorPoint(10, 10, 255, 255, 255)});
    stopBranch.onSuccess = branchOf(BranchKind::stop);
    struct Case {
        const char* name;
        std::vector<Step> tail;
        int64_t stopAtMs;
    };
    const std::vector<Case> cases{
        {"end of script", {}, -1},
        {"branch stop", {stopBranch, clickStep(1, 1)}, -1},
        {"user stop", {delayStep(10000)}, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim->clearPostedEvents();
        std::vector<Step> steps{keyStep(1, KeyEventKind::down, ModifierSet::command() | ModifierSet::shift()),
                                clickStep(3, 3, ClickKind::down, MouseButton::right)};
        steps.insert(steps.end(), c.tail.begin(), c.tail.end());
        if (c.stopAtMs >= 0) stopAt(nowMs() + c.stopAtMs);
        play(scriptOf(steps));
        std::map<std::string, int> held;
        for (const PostedEvent& e : sim->postedEvents()) {
            if (e.kind != PostedEvent::Kind::key && e.kind != PostedEvent::Kind::button) continue;
            const std::string what = e.kind == PostedEvent::Kind::key ? "key " + std::to_string(e.keyCode)
                                                                      : "button " + std::to_string(int(e.button));
            held[what] += e.press == platform::Press::down ? 1 : -1;
        }
        for (const auto& [what, count] : held) EXPECT_EQ(count, 0) << what;
        // Released in reverse order of pressing: the button first, then S, then ⌘ and ⇧.
        const std::vector<std::string> all = events();
        ASSERT_GE(all.size(), 4u);
        EXPECT_NE(all[all.size() - 4].find("button right up (3,3)"), std::string::npos) << all[all.size() - 4];
        EXPECT_NE(all[all.size() - 3].find("key up 1 "), std::string::npos) << all[all.size() - 3];
    }
}

TEST_F(RunLoop, LogLinesPostedAfterTheRunnerIsGoneAreDropped) {
    runner->start(scriptOf({clickStep(1, 1)}), std::nullopt);
    runner.reset();   // stops and joins; its lines are still queued
    loop.drain();
    EXPECT_TRUE(log.empty());
}

}  // namespace
}  // namespace tapforge::test
