// Branch resolution: every kind, after-actions, jump lookup and clickRegion.
#include <algorithm>

#include "TemplateImages.h"

namespace tapforge::test {
namespace {

using Lines = std::vector<std::string>;

// A colour check that always passes on the white screen, taking `branch`.
Step passing(BranchTarget branch) {
    Step s = colorStep({colorPoint(10, 10, 255, 255, 255)});
    s.onSuccess = std::move(branch);
    return s;
}

Step marker(double x) { return clickStep(x, 0); }

// The x of every button-down event, in order: which marker steps ran.
std::vector<double> downXs(const std::vector<PostedEvent>& events) {
    std::vector<double> xs;
    for (const PostedEvent& e : events)
        if (e.kind == PostedEvent::Kind::button && e.press == platform::Press::down) xs.push_back(e.location.x);
    return xs;
}

class Branches : public RunnerFixture {};

TEST_F(Branches, JumpsGoToTheTargetOrWarnAndContinue) {
    Script script = scriptOf({marker(1), passing({}), marker(2), marker(3)});
    const Uuid target = script.steps[3].id;

    struct Case {
        const char* name;
        std::optional<Uuid> target;
        std::vector<double> clicks;
        std::optional<std::string> warning;
    };
    const std::vector<Case> cases{
        {"to a later step", target, {1, 3}, std::nullopt},
        {"unset", std::nullopt, {1, 2, 3}, "⚠️ 未选择跳转目标步骤，继续执行下一步"},
        {"deleted", Uuid::random(), {1, 2, 3}, "⚠️ 跳转目标步骤已被删除，继续执行下一步"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim->clearPostedEvents();
        log.clear();
        BranchTarget jump = branchOf(BranchKind::jump);
        jump.targetStepID = c.target;
        script.steps[1].onSuccess = jump;
        play(script);
        EXPECT_EQ(downXs(sim->postedEvents()), c.clicks);
        if (c.warning) {
            EXPECT_EQ(std::count(log.begin(), log.end(), *c.warning), 1);
        }
        EXPECT_EQ(log.back(), "✔︎ 全部循环执行完毕");
    }
}

TEST_F(Branches, GotoStepsJumpAndADisabledTargetIsSkipped) {
    Script script = scriptOf({Step(StepKind::goTo), marker(1), marker(2), marker(3), Step(StepKind::goTo), marker(4)});
    script.steps[0].gotoStepID = script.steps[2].id;
    script.steps[2].enabled = false;   // the run loop skips it and goes on after it
    play(script);
    EXPECT_EQ(downXs(sim->postedEvents()), (std::vector<double>{3, 4}));
    EXPECT_EQ(std::count(log.begin(), log.end(), "⚠️ 未选择跳转目标步骤，继续执行下一步"), 1);
}

TEST_F(Branches, RestartGoesBackWithoutCountingAPass) {
    // The screen turns black at 100 ms; until then the check restarts the script.
    sim->clock().atMs(100, [this] { sim->fill({0, 0, 800, 600}, {0, 0, 0, 255}); });
    play(scriptOf({marker(1), passing(branchOf(BranchKind::restart))}, 2));
    EXPECT_EQ(downXs(sim->postedEvents()).size(), 6u);   // four restarts, then the second pass
    EXPECT_EQ(log, (Lines{"▶︎ 开始执行「测试」，共 2 个步骤，循环 2 次", "✔︎ 颜色判断通过 √#FFFFFF→#FFFFFF",
                          "✔︎ 颜色判断通过 √#FFFFFF→#FFFFFF", "✔︎ 颜色判断通过 √#FFFFFF→#FFFFFF",
                          "✔︎ 颜色判断通过 √#FFFFFF→#FFFFFF", "✘ 颜色判断未通过 ×#FFFFFF→#000000", "—— 第 1 轮结束，重新开始 ——",
                          "✘ 颜色判断未通过 ×#FFFFFF→#000000", "✔︎ 全部循环执行完毕"}));
    EXPECT_EQ(runner->cycleCount(), 2);
}

TEST_F(Branches, ClickCountsAndTheirWords) {
    struct Case {
        int64_t count;
        const char* line;
        Lines events;
    };
    const std::vector<Case> cases{
        {0, "🖱 分支动作：右键单击 (50, 60)",
         {"0ms button right down (50,60) flags 0x0 click 1", "20ms button right up (50,60) flags 0x0 click 1"}},
        {3, "🖱 分支动作：右键双击 (50, 60)",
         {"0ms button right down (50,60) flags 0x0 click 1", "20ms button right up (50,60) flags 0x0 click 1",
          "80ms button right down (50,60) flags 0x0 click 2", "100ms button right up (50,60) flags 0x0 click 2",
          "100ms button right down (50,60) flags 0x0 click 1", "120ms button right up (50,60) flags 0x0 click 1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        log.clear();
        sim->clearPostedEvents();
        BranchTarget click = branchOf(BranchKind::click);
        click.clickX = 50.4;
        click.clickY = 59.6;
        click.clickButton = MouseButton::right;
        click.clickCount = c.count;
        click.afterAction = AfterAction::stop;
        const int64_t start = nowMs();
        play(scriptOf({passing(click), marker(1)}));
        EXPECT_EQ(log[2], c.line);
        EXPECT_EQ(log.back(), "⏹ 脚本按要求停止");
        std::vector<PostedEvent> posted = sim->postedEvents();
        for (PostedEvent& e : posted) e.timeMicros -= start * 1000, e.location = {std::round(e.location.x), std::round(e.location.y)};
        std::vector<std::string> got;
        for (const PostedEvent& e : posted) got.push_back(platform::sim::describe(e));
        EXPECT_EQ(got, c.events);
    }
}

TEST_F(Branches, KeyBranchPressesWithModifiersOrWarns) {
    BranchTarget key = branchOf(BranchKind::key);
    key.keyCode = 1;
    key.keyModifiers = ModifierSet::command() | ModifierSet::shift();
    key.afterAction = AfterAction::jump;   // unset after-step: warns and continues
    play(scriptOf({passing(key)}));
    EXPECT_EQ(log[2], "⌨️ 分支动作：按键 ⇧⌘S");
    EXPECT_EQ(log[3], "⚠️ 未选择跳转目标步骤，继续执行下一步");
    EXPECT_EQ(events(), (Lines{"0ms key down 56 flags 0x20000", "8ms key down 55 flags 0x120000",
                               "16ms key down 1 flags 0x120000", "28ms key up 1 flags 0x120000",
                               "28ms key up 55 flags 0x20000", "36ms key up 56 flags 0x0"}));

    log.clear();
    sim->clearPostedEvents();
    key.keyCode.reset();   // no key: only the after-action runs
    Script script = scriptOf({passing(key), marker(2), marker(3)});
    key.afterStepID = script.steps[2].id;
    script.steps[0] = passing(key);
    play(script);
    EXPECT_EQ(log[2], "⚠️ 分支动作没有设置按键，按后续去向继续");
    EXPECT_EQ(downXs(sim->postedEvents()), (std::vector<double>{3}));
}

using ClickRegion = ImageFixture;

BranchTarget region() {
    BranchTarget b = branchOf(BranchKind::clickRegion);
    b.afterAction = AfterAction::next;
    return b;
}

TEST_F(ClickRegion, RandomPointCoversTheClosedRectangle) {
    for (bool high : {false, true}) {
        SCOPED_TRACE(high);
        makeRunner({}, [high](double low, double upper) { return high ? upper : low; });
        log.clear();
        sim->clearPostedEvents();
        BranchTarget b = region();
        b.clickCount = 2;
        play(scriptOf({imageStep(b)}));
        const std::string where = high ? "(240, 180)" : "(200, 150)";
        EXPECT_EQ(log[2], "🖱 分支动作：左键双击 识别范围随机点 " + where + "，区域 (200, 150) 40×30");
        const std::vector<PostedEvent> posted = sim->postedEvents();
        ASSERT_EQ(posted.size(), 4u);
        EXPECT_EQ(posted[0].location, (high ? platform::Point{240, 180} : platform::Point{200, 150}));
        EXPECT_EQ(posted[2].clickState, 2);
    }
}

TEST_F(ClickRegion, AColourCheckUsesTheLastImageMatch) {
    play(scriptOf({imageStep(), passing(region()), marker(1)}));
    EXPECT_EQ(log[3].rfind("🖱 分支动作：左键单击 识别范围随机点 (", 0), 0u) << log[3];
    EXPECT_EQ(downXs(sim->postedEvents()).size(), 2u) << "the region click, then the next step";

    log.clear();
    play(scriptOf({passing(region())}));   // a new run starts without a rectangle
    EXPECT_EQ(log[2], "⚠️ 分支动作：本次图像判断没有匹配到区域，按后续去向继续");
}

}  // namespace
}  // namespace tapforge::test
