// The prelude, the mouse, keyboard and script tables, and the interruptible sleep, on the
// simulated desktop with virtual time.
#include "MacroFixture.h"

namespace tapforge::test {
namespace {

using Strings = std::vector<std::string>;

TEST_F(MacroTest, LogJoinsEveryArgumentWithTabs) {
    ASSERT_TRUE(run("log(1, nil, 'a') log() log(nil) printf('%d-%s', 3, 'x') script.log(5) script.log('s')").succeeded);
    EXPECT_EQ(logs, (Strings{"1\tnil\ta", "", "nil", "3-x", "", "s"}));
}

struct ClickCase {
    const char* call;
    Strings presses;
};

class MouseClickTest : public MacroTest, public ::testing::WithParamInterface<ClickCase> {};

TEST_P(MouseClickTest, ArgumentForms) {
    ASSERT_EQ(run(GetParam().call), LuaRunOutcome::success());
    EXPECT_EQ(presses(), GetParam().presses);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, MouseClickTest,
    ::testing::Values(ClickCase{"mouse.click()", {"left@50,60#1"}},
                      ClickCase{"mouse.click('right', 2)", {"right@50,60#1", "right@50,60#2"}},
                      ClickCase{"mouse.click(100, 200, 9)",
                                {"left@100,200#1", "left@100,200#2", "left@100,200#1", "left@100,200#1", "left@100,200#1"}},
                      ClickCase{"mouse.click(100, 200, '右键', 3)", {"right@100,200#1", "right@100,200#2", "right@100,200#1"}},
                      ClickCase{"mouse.click('r', 'M', 0)", {"center@50,60#1"}},
                      ClickCase{"mouse.click(10, 20, 2.5)", {"left@10,20#1"}},
                      ClickCase{"mouse.click('10', '20', '2')", {"left@10,20#1"}},
                      ClickCase{"mouse.click(10, 20, 'LEFT', '2')", {"left@10,20#1", "left@10,20#2"}},
                      ClickCase{"mouse.doubleClick(5, 6)", {"left@5,6#1", "left@5,6#2"}},
                      ClickCase{"mouse.rightClick()", {"right@50,60#1"}},
                      ClickCase{"mouse.down(7, 8, 'right') mouse.up('left', 'right')", {"right@7,8#1"}}));

TEST_F(MacroTest, DownAndUpUseTheSameButtonRules) {
    ASSERT_TRUE(run("mouse.down('center') mouse.up(7, 8, 'center') mouse.down(1) mouse.up(1)").succeeded);
    Strings seen;
    for (const PostedEvent& e : sim->postedEvents())
        if (e.kind == PostedEvent::Kind::button)
            seen.push_back(std::to_string(static_cast<int>(e.button)) + (e.press == platform::Press::down ? "d" : "u") +
                           std::to_string(static_cast<int>(e.location.x)));
    // center = 2; mouse.down(1) has no second coordinate: the current position (7, 8).
    EXPECT_EQ(seen, (Strings{"2d50", "2u7", "0d7", "0u7"}));
}

TEST_F(MacroTest, PositionMoveDragAndScroll) {
    EXPECT_EQ(values("local x, y = mouse.pos() return x, y"), (std::vector{LuaValue::makeNumber(50), LuaValue::makeNumber(60)}));
    ASSERT_TRUE(run("mouse.move(120, 130)").succeeded);
    EXPECT_EQ(values("return mouse.pos()"), (std::vector{LuaValue::makeNumber(120), LuaValue::makeNumber(130)}));
    const int64_t before = nowMs();
    ASSERT_TRUE(run("mouse.move(10, 10, 160)").succeeded);
    EXPECT_EQ(nowMs() - before, 160);
    sim->clearPostedEvents();
    ASSERT_TRUE(run("mouse.scroll(-3) mouse.scroll('4', 20, 30)").succeeded);
    const auto events = sim->postedEvents();
    std::vector<int32_t> lines;
    for (const PostedEvent& e : events)
        if (e.kind == PostedEvent::Kind::scroll) lines.push_back(e.scrollLines);
    EXPECT_EQ(lines, (std::vector<int32_t>{-3, 4}));
    EXPECT_EQ(events.back().location, (platform::Point{20, 30}));
    sim->clearPostedEvents();
    ASSERT_TRUE(run("mouse.drag(1, 2, 30, 40)").succeeded);
    EXPECT_EQ(presses(), (Strings{"left@1,2#1"}));
    EXPECT_EQ(values("return mouse.pos()"), (std::vector{LuaValue::makeNumber(30), LuaValue::makeNumber(40)}));
}

struct KeyCase {
    const char* call;
    Strings keys;
};

class KeyboardTest : public MacroTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(KeyboardTest, KeyForms) {
    ASSERT_EQ(run(GetParam().call), LuaRunOutcome::success());
    EXPECT_EQ(keys(), GetParam().keys);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, KeyboardTest,
    ::testing::Values(KeyCase{"keyboard.press('cmd+c')", {"down 55", "down 8", "up 8", "up 55"}},
                      KeyCase{"keyboard.press(36.9)", {"down 36", "up 36"}},
                      KeyCase{"keyboard.down('ctrl+x') keyboard.up('ctrl+x')", {"down 59", "down 7", "up 7", "up 59"}},
                      KeyCase{"keyboard.hotkey('cmd+shift+s')", {"down 56", "down 55", "down 1", "up 1", "up 55", "up 56"}},
                      KeyCase{"keyboard.type('ab') keyboard.type(5) keyboard.type()", {"down 0", "up 0", "down 11", "up 11"}}));

TEST_F(MacroTest, JumpAndStopAreRecordedWhileTheFileRunsOn) {
    EXPECT_EQ(errorOf("script.jump(0)"), "script.jump(步骤序号) 需要从 1 开始的步骤序号");
    EXPECT_EQ(errorOf("script.jump(1.5)"), "script.jump(步骤序号) 需要从 1 开始的步骤序号");
    EXPECT_EQ(errorOf("script.jump('x')"), "script.jump(步骤序号) 需要从 1 开始的步骤序号");
    EXPECT_FALSE(api->jumpStepNumber);
    EXPECT_EQ(value("script.jump(2) script['goto'](4) script.stop() return 'after'"), LuaValue::makeString("after"));
    EXPECT_EQ(api->jumpStepNumber, 4);
    EXPECT_TRUE(api->stopRequested);
}

TEST_F(MacroTest, SleepOfLessThanOneMillisecondReturnsAtOnce) {
    const int64_t before = sim->clock().totalSleptMicros();
    EXPECT_EQ(run("sleep(0) sleep(-5) sleep() _tfg.sleep(0.5)"), LuaRunOutcome::success());
    EXPECT_EQ(sim->clock().totalSleptMicros(), before);
}

TEST_F(MacroTest, StopDuringSleepEndsItAtOnce) {
    const int64_t start = nowMs();
    sim->clock().atMs(start + 130, [] { tfg_request_interrupt(1); });
    EXPECT_EQ(run("sleep(600000)"), LuaRunOutcome::failure("脚本已被用户中断"));
    EXPECT_EQ(nowMs() - start, 130);
}

// A 600 s drag ends within a stop-check slice of a stop or of the time limit, raising the
// guard's error (the script does not go on as if the drag were done); the button stays listed
// as held, for the run's end to let go.
TEST_F(MacroTest, StopOrTimeLimitCutsALongDragShort) {
    for (const bool byDeadline : {false, true}) {
        SCOPED_TRACE(byDeadline);
        GuardedTest::resetGuard();
        setLuaGuardClock(sim->desktop().clock);
        logs.clear();
        const int64_t start = nowMs();
        if (byDeadline) tfg_set_deadline_ms(start + 1000);
        else sim->clock().atMs(start + 1000, [] { tfg_request_interrupt(1); });
        EXPECT_EQ(run("mouse.drag(0, 0, 300, 200, 600000) log('went on')"),
                  LuaRunOutcome::failure(byDeadline ? "Lua 脚本执行超时" : "脚本已被用户中断"));
        EXPECT_LE(nowMs() - start, 1050);
        EXPECT_EQ(logs, Strings{});
        sim->clearPostedEvents();
        player->releaseHeld();
        ASSERT_EQ(sim->postedEvents().size(), 1u);
        EXPECT_EQ(sim->postedEvents()[0].press, platform::Press::up);
    }
}

// sleep raises the time-out itself; a pcall around it does not let the script go on.
TEST_F(MacroTest, DeadlineDuringSleepEndsTheScriptEvenUnderPcall) {
    const int64_t start = nowMs();
    tfg_set_deadline_ms(start + 500);
    EXPECT_EQ(run("local ok, e = pcall(sleep, 10000) log(e) error(e, 0)"), LuaRunOutcome::failure("Lua 脚本执行超时"));
    EXPECT_EQ(logs, Strings{});
    EXPECT_EQ(tfg_deadline_ms(), 0);
    EXPECT_EQ(nowMs() - start, 500);
}

}  // namespace
}  // namespace tapforge::test
