// The script runner on a real X server: a helper window receives exactly the clicks and keys a
// script posts, and nothing stays pressed however the run ends.

#include <chrono>

#include "X11TestSupport.h"
#include "engine/MainLoop.h"
#include "engine/ScriptRunner.h"
#include <X11/Xlib.h>
#include <X11/keysym.h>
#undef Bool
#undef None

using namespace tapforge;
using namespace tapforge::testing;

namespace {

Step click(double x, double y, ClickKind kind = ClickKind::click, MouseButton button = MouseButton::left) {
    Step s(StepKind::mouseClick);
    s.x = x, s.y = y, s.hasPoint = true, s.clickKind = kind, s.mouseButton = button;
    return s;
}

Step key(uint16_t code, KeyEventKind kind, ModifierSet modifiers = {}) {
    Step s(StepKind::keyPress);
    s.keyCode = code, s.keyKind = kind, s.modifiers = modifiers;
    return s;
}

class X11Runner : public X11Test {
protected:
    void play(const Script& script, std::optional<std::chrono::milliseconds> stopAfter = std::nullopt) {
        ScriptRunner runner(ScriptRunnerServices{*desktop, loop.poster(), nullptr, {}});
        runner.onLog = [this](const std::string& line) { log.push_back(line); };
        runner.start(script, std::nullopt);
        if (stopAfter) {
            loop.runUntil([] { return false; }, *stopAfter);
            runner.stop();
        }
        ASSERT_TRUE(loop.runUntil([&] { return !runner.isRunning(); }, std::chrono::seconds(20)));
    }
    MainLoop loop;
    std::vector<std::string> log;
};

TEST_F(X11Runner, WindowReceivesExactlyTheScriptsClicksAndKeys) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    Step typing(StepKind::typeText);
    typing.text = "aB";
    Script script;
    script.stepIntervalMs = 10;
    script.steps = {click(100, 100), click(200, 150, ClickKind::doubleClick), click(300, 200, ClickKind::click, MouseButton::right),
                    key(1, KeyEventKind::press, ModifierSet::command() | ModifierSet::shift()), typing};
    play(script);
    window.pump();
    EXPECT_EQ(window.buttonPresses[1], 3);
    EXPECT_EQ(window.buttonReleases[1], 3);
    EXPECT_EQ(window.buttonPresses[3], 1);
    EXPECT_EQ(window.buttonReleases[3], 1);
    EXPECT_EQ(window.buttonPresses[2], 0);
    // Shift, Super, s; then a; then Shift, b.
    EXPECT_EQ(window.keyPresses, 6);
    EXPECT_EQ(window.keyReleases, 6);
    EXPECT_EQ(window.lastKeycode, XKeysymToKeycode(window.display(), XK_b));
    EXPECT_EQ(window.lastKeyState & ShiftMask, unsigned{ShiftMask});
    EXPECT_EQ(log.back(), "✔︎ 全部循环执行完毕");
    EXPECT_TRUE(keysHeld(window.display()).empty());
    EXPECT_EQ(buttonsHeld(window.display()), 0u);
}

TEST_F(X11Runner, NothingStaysPressedAfterAStopOrTheEnd) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    Step wait(StepKind::delay);
    wait.delayMs = 60'000;
    Script held;
    held.steps = {key(0, KeyEventKind::down, ModifierSet::control()), click(50, 50, ClickKind::down), wait};

    play(held, std::chrono::milliseconds(300));
    window.pump();
    EXPECT_EQ(log.back(), "⏹ 已手动停止");
    EXPECT_TRUE(keysHeld(window.display()).empty());
    EXPECT_EQ(buttonsHeld(window.display()), 0u);
    EXPECT_EQ(window.buttonPresses[1], window.buttonReleases[1]);
    EXPECT_EQ(window.keyPresses, window.keyReleases);

    held.steps.pop_back();   // now the run ends by itself with both still down
    play(held);
    window.pump();
    EXPECT_TRUE(keysHeld(window.display()).empty());
    EXPECT_EQ(buttonsHeld(window.display()), 0u);
    EXPECT_EQ(window.keyPresses, window.keyReleases);
}

TEST_F(X11Runner, StopDuringA600SecondDragEndsWithinASecondWithNothingHeld) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    Step move(StepKind::mouseMove);
    move.x = 400, move.y = 300, move.hasPoint = true, move.moveDurationMs = 600'000;
    Script drag;
    drag.steps = {click(20, 20, ClickKind::down), move, click(400, 300, ClickKind::up)};
    ScriptRunner runner(ScriptRunnerServices{*desktop, loop.poster(), nullptr, {}});
    runner.onLog = [this](const std::string& line) { log.push_back(line); };
    runner.start(drag, std::nullopt);
    loop.runUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(buttonsHeld(window.display()), unsigned{Button1Mask}) << "the drag holds the button";
    const auto stopped = std::chrono::steady_clock::now();
    runner.stop();
    ASSERT_TRUE(loop.runUntil([&] { return !runner.isRunning(); }, std::chrono::seconds(20)));
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(1));
    EXPECT_EQ(log.back(), "⏹ 已手动停止");
    EXPECT_EQ(buttonsHeld(window.display()), 0u);
    window.pump();
    EXPECT_EQ(window.buttonPresses[1], 1);
    EXPECT_EQ(window.buttonReleases[1], 1);
}

// Every key code either posts a key or says that it cannot: right Command posts Super_R,
// Fn and an unnamed code have no key here.
TEST_F(X11Runner, EveryKeyStepPostsOrWarns) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    Script script;
    script.steps = {key(54, KeyEventKind::press), key(63, KeyEventKind::press), key(127, KeyEventKind::press)};
    play(script);
    window.pump();
    EXPECT_EQ(window.keyPresses, 1);
    EXPECT_EQ(window.lastKeycode, XKeysymToKeycode(window.display(), XK_Super_R));
    EXPECT_EQ(log, (std::vector<std::string>{"▶︎ 开始执行「未命名脚本」，共 3 个步骤，循环 1 次", "⚠️ 按键 Fn 在此桌面上无法发送，已跳过",
                                             "⚠️ 按键 键码 127 在此桌面上无法发送，已跳过", "✔︎ 全部循环执行完毕"}));
}

}  // namespace
