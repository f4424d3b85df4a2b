// The run loop on the virtual clock: passes, pacing, bounds, speed, pause and stop, how a run ends.
#include "RunnerFixture.h"

namespace tapforge::test {
namespace {

using End = RunOutcome::End;

class RunLoop : public RunnerFixture {};

TEST_F(RunLoop, Plays) {
    Step comment(StepKind::comment), jumpNext(StepKind::goTo), lua(StepKind::lua), disabled = clickStep(9, 9);
    disabled.enabled = false;
    // The interval follows mouse, key and text steps only.
    Script paced = scriptOf({clickStep(1, 1), delayStep(100), comment, jumpNext, colorStep({colorPoint(10, 10, 255, 255, 255)}), lua,
                             keyStep(std::nullopt), keyStep(1),
                             stepOf(StepKind::mouseScroll, [](Step& s) { s.x = 1, s.y = 2, s.hasPoint = true, s.scrollAmount = 3; }),
                             stepOf(StepKind::mouseMove, [](Step& s) { s.x = 4, s.y = 4, s.hasPoint = true, s.moveDurationMs = 0; }),
                             stepOf(StepKind::typeText, [](Step& s) { s.text = "a"; }), clickStep(2, 2)},
                            1, 500);
    paced.steps[3].gotoStepID = paced.steps[4].id;
    lua.luaFile = "a.lua", lua.onFailure = branchOf(BranchKind::stop);
    const Step never = colorStep({colorPoint(5, 5, 0, 0, 0, 0)}, true, 2000, 200);
    const Step slowMove = stepOf(StepKind::mouseMove, [](Step& s) { s.x = 100, s.hasPoint = true, s.moveDurationMs = 768; });
    const Step drag = stepOf(StepKind::mouseMove, [](Step& s) { s.x = 700, s.y = 500, s.hasPoint = true, s.moveDurationMs = 600'000; });
    const auto endless = [](Lines tail) {
        Lines lines{"▶︎ 开始执行「测试」，共 1 个步骤，无限循环", "—— 第 1 轮结束，重新开始 ——", "—— 第 2 轮结束，重新开始 ——"};
        return lines.insert(lines.end(), tail.begin(), tail.end()), lines;
    };

    expectPlays({
        {.name = "three passes",
         .script = scriptOf({delayStep(100), delayStep(250)}, 3),
         .log = {"▶︎ 开始执行「测试」，共 2 个步骤，循环 3 次", "—— 第 1 轮结束，重新开始 ——", "—— 第 2 轮结束，重新开始 ——", kDone},
         .endMs = 1050, .end = End::finished, .cycles = 3},
        {.name = "endless until stopped, during a wait",
         .script = scriptOf({delayStep(300)}, 0), .log = endless({"—— 第 3 轮结束，重新开始 ——", "⏹ 已手动停止"}),
         .endMs = 1000, .end = End::stopped, .cycles = 3, .arrange = [&] { pressAt(1000); }},
        {.name = "a negative count is endless too",
         .script = scriptOf({delayStep(300)}, -2), .endMs = 1000, .cycles = 3, .arrange = [&] { pressAt(1000); }},
        {.name = "empty", .script = scriptOf({}), .log = {"脚本为空，没有可执行的步骤"}, .events = Lines{}, .end = End::empty},
        {.name = "a Lua step without a host fails",
         .script = scriptOf({lua, clickStep(1, 1)}), .log = {kStart2, "⚠️ Lua 运行时不可用", "⏹ 脚本按要求停止"},
         .events = Lines{}, .end = End::scriptStopped},
        {.name = "step interval",
         .script = paced,
         .log = {"▶︎ 开始执行「测试」，共 12 个步骤，循环 1 次", "✔︎ 颜色判断通过 √#FFFFFF→#FFFFFF", "⚠️ Lua 运行时不可用",
                 "⚠️ 按键步骤未设置按键，已跳过", kDone},
         // 500 interval, 100 delay, nothing after comment, goto, colour check, Lua; 500 after the
         // key step without a key
         .events = Lines{"0ms button left down (1,1) flags 0x0 click 1", "20ms button left up (1,1) flags 0x0 click 1",
                         "1120ms key down 1 flags 0x0", "1132ms key up 1 flags 0x0", "1632ms move (1,2)", "1632ms scroll 3 (1,2)",
                         "2147ms move (4,4)", "2647ms key down 0 flags 0x0", "2655ms key up 0 flags 0x0",
                         "3163ms button left down (2,2) flags 0x0 click 1", "3183ms button left up (2,2) flags 0x0 click 1"},
         .endMs = 3683},
        {.name = "a stop during a click lets it complete",
         .script = scriptOf({clickStep(1, 1), clickStep(2, 2)}), .log = {kStart2, "⏹ 已手动停止"},
         .events = Lines{"0ms button left down (1,1) flags 0x0 click 1", "20ms button left up (1,1) flags 0x0 click 1"},
         .arrange = [&] { pressAt(10); }},
        {.name = "a stop during a 600 s drag ends the move and releases the button where it stopped",
         .script = scriptOf({clickStep(10, 10, ClickKind::down), drag, clickStep(700, 500, ClickKind::up)}),
         .log = {"▶︎ 开始执行「测试」，共 3 个步骤，循环 1 次", "⏹ 已手动停止"},
         .arrange = [&] { pressAt(1000); },
         .then = [&] {
             EXPECT_LE(nowMs(), 1050) << "the move must end within a stop-check slice";
             const auto posted = sim->postedEvents();
             ASSERT_GE(posted.size(), 3u);
             EXPECT_TRUE(posted.back().kind == PostedEvent::Kind::button && posted.back().press == platform::Press::up);
             EXPECT_LT(posted.back().location.x, 700) << "released where the cut move stopped, not at its target";
             for (size_t i = 1; i + 1 < posted.size(); ++i) EXPECT_EQ(posted[i].kind, PostedEvent::Kind::move);
         }},
        {.name = "time limit ends a wait at its moment",
         .script = scriptOf({delayStep(1000)}, 0), .log = endless({"⏹ 已到运行时间上限（2500 ms）"}),
         .endMs = 2500, .end = End::timeLimit, .options = {.timeLimitMs = 2500, .stepLimit = {}}},
        {.name = "time limit ends a condition wait",
         .script = scriptOf({never}), .endMs = 700, .end = End::timeLimit, .options = {.timeLimitMs = 700, .stepLimit = {}}},
        {.name = "step limit counts executed steps only",
         .script = scriptOf({clickStep(1, 1), disabled, delayStep(100)}, 0),
         .log = {"▶︎ 开始执行「测试」，共 3 个步骤，无限循环", "#1 鼠标点击 · 左键单击 (1, 1)", "#3 延迟 · 延迟 100 ms",
                 "—— 第 1 轮结束，重新开始 ——", "#1 鼠标点击 · 左键单击 (1, 1)", "⏹ 已执行 3 个步骤，达到步骤数上限"},
         .end = End::stepLimit, .options = {.timeLimitMs = {}, .stepLimit = 3, .logEachStep = true}},
        // Delays, the step interval, condition time-outs and move durations shrink; the click's
        // own 20 ms hold does not: delay 250; click down at 250, up at 270; interval 100; 12 move
        // events 16 ms apart from 370; interval 100; the colour check waits 500.
        {.name = "speed",
         .script = scriptOf({delayStep(1000), clickStep(1, 1), slowMove, never}, 1, 400), .endMs = 370 + 192 + 100 + 500,
         .options = {.timeLimitMs = {}, .stepLimit = {}, .speed = 4},
         .then = [&] {
             const auto posted = sim->postedEvents();
             ASSERT_EQ(posted.size(), 2u + 12u);
             EXPECT_TRUE(posted[0].timeMs() == 250 && posted[1].timeMs() == 270 && posted[2].timeMs() == 370);
         }},
    });
}

// An idle pause or stop is ignored and must not leak into the next run.
TEST_F(RunLoop, PauseFreezesTheRemainingWaitAndAStopWhilePausedEndsTheRun) {
    for (bool resume : {true, false}) {
        SCOPED_TRACE(resume);
        fresh();
        runner->togglePause(), runner->stop(), pressAt(3000, true);
        EXPECT_FALSE(runner->isPaused());
        runner->start(scriptOf({delayStep(10000), clickStep(1, 1)}), std::nullopt);
        ASSERT_TRUE(loop.runUntil([&] { return runner->isPaused(); }, std::chrono::seconds(10)));
        // Real time passes; a worker that ignored the pause would reach the click meanwhile.
        loop.runUntil([] { return false; }, std::chrono::milliseconds(100));
        EXPECT_TRUE(nowMs() == 3000 && sim->postedEvents().empty());
        resume ? runner->togglePause() : runner->stop();
        ASSERT_TRUE(loop.runUntil([&] { return !runner->isRunning(); }, std::chrono::seconds(10)));
        EXPECT_FALSE(runner->isPaused());
        EXPECT_EQ(nowMs(), resume ? 10020 : 3000);
        EXPECT_EQ(events(), (resume ? Lines{"10000ms button left down (1,1) flags 0x0 click 1", "10020ms button left up (1,1) flags 0x0 click 1"}
                                    : Lines{}));
        EXPECT_EQ(log, (resume ? Lines{kStart2, "已暂停", "继续执行", kDone} : Lines{kStart2, "已暂停", "⏹ 已手动停止"}));
    }
}

// Whatever ends the run, what it pressed is released in reverse order: the button, S, ⌘, ⇧.
TEST_F(RunLoop, PressedKeysAndButtonsAreReleasedInReverseOrderAfterAnyEnd) {
    const Step stopBranch = withBranches(colorStep({colorPoint(10, 10, 255, 255, 255)}), branchOf(BranchKind::stop), {});
    const auto pressing = [](std::vector<Step> steps) {
        steps.insert(steps.begin(), {keyStep(1, KeyEventKind::down, ModifierSet::command() | ModifierSet::shift()),
                                     clickStep(3, 3, ClickKind::down, MouseButton::right)});
        return scriptOf(steps);
    };
    const auto reversed = [&] {
        Lines untimed = events();
        ASSERT_GE(untimed.size(), 4u);
        for (std::string& e : untimed) e.erase(0, e.find(' ') + 1);
        EXPECT_EQ(Lines(untimed.end() - 4, untimed.end()), (Lines{"button right up (3,3) flags 0x120000 click 1", "key up 1 flags 0x120000",
                                                                "key up 55 flags 0x20000", "key up 56 flags 0x0"}));
    };
    expectPlays({
        {.name = "end of script", .script = pressing({}), .then = reversed},
        {.name = "branch stop", .script = pressing({stopBranch, clickStep(1, 1)}), .then = reversed},
        {.name = "user stop", .script = pressing({delayStep(10000)}), .arrange = [&] { pressAt(500); }, .then = reversed},
    });
}

TEST_F(RunLoop, LatePostsAreDroppedOnceTheRunnerOrTheLoopIsGone) {
    runner->start(scriptOf({clickStep(1, 1)}), std::nullopt);
    runner.reset();   // stops and joins; its lines are still queued
    loop.drain();
    EXPECT_TRUE(log.empty());
    const auto post = MainLoop().poster();   // a worker left behind may post after the owner quit
    post([] { ADD_FAILURE() << "a task ran on a loop that is gone"; });
}

}  // namespace
}  // namespace tapforge::test
