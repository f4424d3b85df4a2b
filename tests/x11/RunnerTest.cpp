// The script runner on Xvfb: a window receives exactly what a script posts; nothing stays held.
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include "X11TestSupport.h"
#include "engine/ScriptRunner.h"

using namespace tapforge;
using namespace tapforge::testing;

namespace {

Step click(double x, double y, ClickKind kind = ClickKind::click, MouseButton button = MouseButton::left) {
    Step s(StepKind::mouseClick);
    s.x = x, s.y = y, s.hasPoint = true, s.clickKind = kind, s.mouseButton = button;
    return s;
}
Step key(uint16_t code, KeyEventKind kind = KeyEventKind::press, ModifierSet modifiers = {}) {
    Step s(StepKind::keyPress);
    s.keyCode = code, s.keyKind = kind, s.modifiers = modifiers;
    return s;
}

class X11Runner : public X11Test {
protected:
    // Plays to the end, or stops after `stopAfter` (`beforeStop` first): answers how long the stop took.
    std::chrono::steady_clock::duration play(const Script& script, std::optional<std::chrono::milliseconds> stopAfter = {},
                                             const std::function<void()>& beforeStop = {}) {
        ScriptRunner runner(ScriptRunnerServices{*desktop, loop.poster(), nullptr, {}});
        runner.onLog = [this](const std::string& line) { log.push_back(line); };
        runner.start(script, std::nullopt);
        if (stopAfter) runFor(*stopAfter);
        if (beforeStop) beforeStop();
        const auto stopped = std::chrono::steady_clock::now();
        if (stopAfter) runner.stop();
        EXPECT_TRUE(runUntil([&] { return !runner.isRunning(); }, 20s));
        return std::chrono::steady_clock::now() - stopped;
    }
    std::vector<std::string> log;
};

TEST_F(X11Runner, WindowReceivesExactlyTheScriptsClicksAndKeys) {
    CountingWindow window(server->display());
    Step typing(StepKind::typeText);
    typing.text = "aB";
    Script script;
    script.stepIntervalMs = 10;
    script.steps = {click(100, 100), click(200, 150, ClickKind::doubleClick), click(300, 200, ClickKind::click, MouseButton::right),
                    key(1, KeyEventKind::press, ModifierSet::command() | ModifierSet::shift()), typing};
    play(script);
    window.pump();
    const int *down = window.buttonPresses, *up = window.buttonReleases;
    EXPECT_EQ((std::array{down[1], up[1], down[2], down[3], up[3]}), (std::array{3, 3, 0, 1, 1}));
    // Shift, Super, s; then a; then Shift, b.
    EXPECT_EQ(std::pair(window.keyPresses, window.keyReleases), std::pair(6, 6));
    EXPECT_EQ(window.lastKeycode, XKeysymToKeycode(window.display(), XK_b));
    EXPECT_EQ(window.lastKeyState & ShiftMask, unsigned{ShiftMask});
    EXPECT_TRUE(nothingHeld(window.display()));
}

// A stop ends a 600 s drag within a second; a stop during a wait and the end of a run let go of what is down.
TEST_F(X11Runner, NothingStaysPressedAfterAStopOrTheEnd) {
    CountingWindow window(server->display());
    Step move(StepKind::mouseMove);
    move.x = 400, move.y = 300, move.hasPoint = true, move.moveDurationMs = 600'000;
    Script script;
    script.steps = {click(20, 20, ClickKind::down), move, click(400, 300, ClickKind::up)};
    const auto stopping = play(script, 300ms, [&] {
        EXPECT_EQ(buttonsHeld(window.display()), unsigned{Button1Mask}) << "the drag holds the button";
    });
    EXPECT_LT(stopping, 1s);
    EXPECT_TRUE(nothingHeld(window.display()));
    window.pump();
    EXPECT_EQ(std::pair(window.buttonPresses[1], window.buttonReleases[1]), std::pair(1, 1));

    Step wait(StepKind::delay);
    wait.delayMs = 60'000;
    script.steps = {key(0, KeyEventKind::down, ModifierSet::control()), click(50, 50, ClickKind::down), wait};
    for (const bool stop : {true, false}) {
        SCOPED_TRACE(stop ? "stopped during the wait" : "ended with both still down");
        if (stop) play(script, 300ms);
        else script.steps.pop_back(), play(script);
        window.pump();
        EXPECT_TRUE(nothingHeld(window.display()));
        EXPECT_EQ(window.buttonPresses[1], window.buttonReleases[1]);
        EXPECT_EQ(window.keyPresses, window.keyReleases);
    }
}

// Right Command posts Super_R; Fn and an unnamed code have no key here and say so.
TEST_F(X11Runner, EveryKeyStepPostsOrWarns) {
    CountingWindow window(server->display());
    Script script;
    script.steps = {key(54), key(63), key(127)};
    play(script);
    window.pump();
    EXPECT_EQ(window.keyPresses, 1);
    EXPECT_EQ(window.lastKeycode, XKeysymToKeycode(window.display(), XK_Super_R));
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[2], "⚠️ 按键 键码 127 在此桌面上无法发送，已跳过");
}

}  // namespace
