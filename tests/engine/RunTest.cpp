// The run loop on the virtual clock: passes, pacing, bounds, speed, pause and stop, how a run ends.
#include "RunnerFixture.h"

namespace tapforge::test {
namespace {

using End = RunOutcome::End;

Step moveStep(double x, double y, int64_t ms) {
    Step s = clickStep(x, y);
    return s.kind = StepKind::mouseMove, s.moveDurationMs = ms, s;
}

using RunLoop = RunnerFixture;

TEST_F(RunLoop, Plays) {
    Step lua(StepKind::lua), disabled = clickStep(9, 9), scroll = clickStep(1, 2), key(StepKind::keyPress);
    lua.luaFile = "a.lua", lua.onFailure = branchOf(BranchKind::stop), disabled.enabled = false;
    scroll.kind = StepKind::mouseScroll, scroll.scrollAmount = 3, key.keyCode = 1;
    // The interval follows mouse, key and text steps only.
    Script paced = scriptOf({clickStep(1, 1), delayStep(100), Step(StepKind::comment), Step(StepKind::goTo),
                             passing({}), Step(StepKind::lua), Step(StepKind::keyPress), key, scroll,
                             moveStep(4, 4, 0), stepOf(StepKind::typeText, [](Step& s) { s.text = "a"; }),
                             clickStep(2, 2)}, 1, 500);
    paced.steps[3].gotoStepID = paced.steps[4].id;
    const Step never = colorStep({point(5, 5, 0, 0, 0, 0)}, true, 2000, 200);
    const auto endless = [](Lines tail) {
        Lines lines{started(1, 0), "—— 第 1 轮结束，重新开始 ——", "—— 第 2 轮结束，重新开始 ——"};
        return lines.insert(lines.end(), tail.begin(), tail.end()), lines;
    };
    const auto stopAt = [&](int64_t ms) { return [&, ms] { pressAt(ms); }; };
    // Whatever ends the run, what it pressed is released in reverse order: the button, S, ⌘, ⇧.
    const auto pressing = [&](std::vector<Step> steps) {
        Step chord = key;
        chord.keyKind = KeyEventKind::down, chord.modifiers = ModifierSet::command() | ModifierSet::shift();
        steps.insert(steps.begin(), {chord, clickStep(3, 3, ClickKind::down, MouseButton::right)});
        return scriptOf(steps);
    };
    const auto reversed = [&] {
        Lines last = events();
        last.erase(last.begin(), last.end() - std::min<size_t>(last.size(), 4));
        for (std::string& e : last) e.erase(0, e.find(' ') + 1);   // untimed
        EXPECT_EQ(last, (Lines{"button right up (3,3) flags 0x120000", "key up 1 flags 0x120000",
                               "key up 55 flags 0x20000", "key up 56"}));
    };

    expectPlays({
        {.name = "three passes", .script = scriptOf({delayStep(100), delayStep(250)}, 3),
         .log = {started(2, 3), "—— 第 1 轮结束，重新开始 ——", "—— 第 2 轮结束，重新开始 ——", kDone},
         .endMs = 1050, .end = End::finished, .cycles = 3},
        {.name = "endless until stopped, during a wait", .script = scriptOf({delayStep(300)}, 0),
         .log = endless({"—— 第 3 轮结束，重新开始 ——", "⏹ 已手动停止"}),
         .endMs = 1000, .end = End::stopped, .cycles = 3, .arrange = stopAt(1000)},
        {.name = "a negative count is endless too", .script = scriptOf({delayStep(300)}, -2),
         .endMs = 1000, .cycles = 3, .arrange = stopAt(1000)},
        {.name = "empty", .script = scriptOf({}), .log = {"脚本为空，没有可执行的步骤"}, .events = Lines{},
         .end = End::empty},
        {.name = "a Lua step without a host fails", .script = scriptOf({lua, clickStep(1, 1)}),
         .log = {started(2), "⚠️ Lua 运行时不可用", kStopped}, .events = Lines{}, .end = End::scriptStopped},
        {.name = "step interval", .script = paced,
         .log = {started(12), "✔︎ 颜色判断通过 √#FFFFFF→#FFFFFF", "⚠️ Lua 运行时不可用", "⚠️ 按键步骤未设置按键，已跳过", kDone},
         // None after the comment, goto, colour check and Lua steps; one after a key step without a key.
         .events = Lines{"0ms button left down (1,1)", "20ms button left up (1,1)", "1120ms key down 1",
                         "1132ms key up 1", "1632ms move (1,2)", "1632ms scroll 3 (1,2)", "2147ms move (4,4)",
                         "2647ms key down 0", "2655ms key up 0", "3163ms button left down (2,2)",
                         "3183ms button left up (2,2)"},
         .endMs = 3683},
        {.name = "a stop during a click lets it complete",
         .script = scriptOf({clickStep(1, 1), clickStep(2, 2)}), .log = {started(2), "⏹ 已手动停止"},
         .events = Lines{"0ms button left down (1,1)", "20ms button left up (1,1)"}, .arrange = stopAt(10)},
        {.name = "a stop during a 600 s drag ends the move and releases the button where it stopped",
         .script = scriptOf({clickStep(10, 10, ClickKind::down), moveStep(700, 500, 600'000),
                             clickStep(700, 500, ClickKind::up)}),
         .log = {started(3), "⏹ 已手动停止"}, .arrange = stopAt(1000),
         .then = [&] {   // within one stop-check slice, not at the move's target
             const auto e = sim->postedEvents();
             EXPECT_TRUE(nowMs() <= 1050 && e.size() > 2 && e.back().kind == PostedEvent::Kind::button
                         && e.back().location.x < 700) << nowMs();
         }},
        {.name = "time limit ends a wait at its moment", .script = scriptOf({delayStep(1000)}, 0),
         .log = endless({"⏹ 已到运行时间上限（2500 ms）"}), .endMs = 2500, .end = End::timeLimit,
         .options = {.timeLimitMs = 2500, .stepLimit = {}}},
        {.name = "time limit ends a condition wait", .script = scriptOf({never}), .endMs = 700,
         .end = End::timeLimit, .options = {.timeLimitMs = 700, .stepLimit = {}}},
        {.name = "step limit counts executed steps only",
         .script = scriptOf({clickStep(1, 1), disabled, delayStep(100)}, 0),
         .log = {started(3, 0), "#1 鼠标点击 · 左键单击 (1, 1)", "#3 延迟 · 延迟 100 ms", "—— 第 1 轮结束，重新开始 ——",
                 "#1 鼠标点击 · 左键单击 (1, 1)", "⏹ 已执行 3 个步骤，达到步骤数上限"},
         .end = End::stepLimit, .options = {.timeLimitMs = {}, .stepLimit = 3, .logEachStep = true}},
        // Delays, the interval, condition time-outs and moves shrink, the click's 20 ms hold not: delay 250;
        // click 250 to 270; interval 100; 12 moves 16 ms apart from 370; interval 100; the check waits 500.
        {.name = "speed",
         .script = scriptOf({delayStep(1000), clickStep(1, 1), moveStep(100, 0, 768), never}, 1, 400),
         .endMs = 370 + 192 + 100 + 500, .options = {.timeLimitMs = {}, .stepLimit = {}, .speed = 4},
         .then = [&] {
             const auto e = sim->postedEvents();
             EXPECT_TRUE(e.size() == 14 && e[0].timeMs() == 250 && e[1].timeMs() == 270
                         && e[2].timeMs() == 370);
         }},
        {.name = "release at the end of the script", .script = pressing({}), .then = reversed},
        {.name = "release after a branch stop",
         .script = pressing({passing(branchOf(BranchKind::stop)), clickStep(1, 1)}), .then = reversed},
        {.name = "release after a user stop", .script = pressing({delayStep(10000)}), .arrange = stopAt(500),
         .then = reversed},
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
        ASSERT_TRUE(loop.runUntil([&] { return runner->isPaused(); }, 10s));
        // Real time passes; a worker that ignored the pause would reach the click meanwhile.
        loop.runUntil([] { return false; }, 100ms);
        EXPECT_TRUE(nowMs() == 3000 && sim->postedEvents().empty());
        resume ? runner->togglePause() : runner->stop();
        ASSERT_TRUE(ended());
        // Resumed: the click at 10000 ms, held 20 ms.
        EXPECT_TRUE(!runner->isPaused() && nowMs() == (resume ? 10020 : 3000)
                    && sim->postedEvents().size() == (resume ? 2u : 0u)) << nowMs();
        EXPECT_EQ(log, (resume ? Lines{started(2), "已暂停", "继续执行", kDone}
                               : Lines{started(2), "已暂停", "⏹ 已手动停止"}));
    }
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
