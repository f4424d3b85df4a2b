// Scripts and the macro library on Xvfb: a window receives exactly what they post, screen reads
// see what the server shows, a stop ends a drag, a busy file or a wait, and nothing stays held.
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include "X11TestSupport.h"
#include "engine/ScriptRunner.h"
#include "input/InputPlayer.h"
#include "lua/LuaGuard.h"
#include "lua/LuaMacroAPI.h"
#include "lua/LuaRuntime.h"
#include "vision/Base64.h"
#include "vision/PngCodec.h"

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
    auto play(const Script& script, std::optional<std::chrono::milliseconds> stopAfter = {},
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

// Right Command posts Super_R.
TEST_F(X11Runner, WindowReceivesExactlyTheScriptsClicksAndKeys) {
    CountingWindow window(server->display());
    Step typing(StepKind::typeText);
    typing.text = "aB";
    Script script;
    script.stepIntervalMs = 10;
    script.steps = {click(100, 100), click(200, 150, ClickKind::doubleClick),
                    click(300, 200, ClickKind::click, MouseButton::right),
                    key(1, KeyEventKind::press, ModifierSet::command() | ModifierSet::shift()), typing,
                    key(54)};
    play(script);
    window.pump();
    EXPECT_EQ(window.input, "+1 -1 +1 -1 +1 -1 +3 -3 +Shift_L +Super_L +s -s -Super_L -Shift_L "
                            "+a -a +Shift_L +b -b -Shift_L +Super_R -Super_R");
    EXPECT_TRUE(nothingHeld(window.display()));
}

// A stop ends a 600 s drag within a second; the end lets go of what is down; keys X lacks are skipped.
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
    log.clear();
    script.steps = {key(63), key(127), key(60000), key(0, KeyEventKind::down, ModifierSet::control()),
                    click(50, 50, ClickKind::down)};
    play(script);
    window.pump();
    EXPECT_EQ(window.input, "+1 -1 +Control_L +a +1 -1 -a -Control_L");
    EXPECT_TRUE(nothingHeld(window.display()));
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[2], "⚠️ 按键 键码 127 在此桌面上无法发送，已跳过");
}

class X11Macro : public X11Test {
protected:
    void TearDown() override {
        // The runtime before the library it calls; the player's connection before the server.
        runtime.reset(), api.reset(), player.reset();
        tfg_request_interrupt(0), tfg_set_deadline_ms(0), setLuaGuardClock(nullptr);
        X11Test::TearDown();
    }
    void install(std::map<std::string, ImageTemplate> templates = {}) {
        setLuaGuardClock(desktop->clock);
        player = std::make_unique<InputPlayer>(desktop->events, desktop->clock);
        runtime = LuaRuntime::create();
        const auto log = [this](const std::string& line) { logs.push_back(line); };
        api = std::make_unique<LuaMacroAPI>(LuaMacroAPI::Context{
            player.get(), desktop->clock.get(), desktop->screens, desktop->grab, std::move(templates), log});
        api->install(*runtime);
    }
    std::string run(const std::string& code) {
        const LuaRunOutcome outcome = runtime->runString(code, "=x11");
        return outcome.succeeded ? std::string() : "failed: " + outcome.message;
    }

    std::unique_ptr<InputPlayer> player;
    std::unique_ptr<LuaMacroAPI> api;
    std::unique_ptr<LuaRuntime> runtime;
    std::vector<std::string> logs;
};

TEST_F(X11Macro, MouseAndKeyboardReachTheWindow) {
    CountingWindow window(server->display());
    install();
    ASSERT_EQ(run("mouse.click(100, 100) mouse.rightClick(200, 150) mouse.doubleClick(300, 200) "
                  "mouse.drag(10, 10, 60, 40, 50) keyboard.type('aB') keyboard.press('ctrl+c') "
                  "printf('%d,%d', mouse.pos())"),
              "");
    window.pump();
    const int ox = originX();
    using Click = CountingWindow::Click;
    EXPECT_EQ(window.clicks, (std::vector<Click>{{true, 1, ox + 100, 100}, {false, 1, ox + 100, 100},
                                                 {true, 3, ox + 200, 150}, {false, 3, ox + 200, 150},
                                                 {true, 1, ox + 300, 200}, {false, 1, ox + 300, 200},
                                                 {true, 1, ox + 300, 200}, {false, 1, ox + 300, 200},
                                                 {true, 1, ox + 10, 10}, {false, 1, ox + 60, 40}}));
    EXPECT_EQ(window.input,
              "+1 -1 +3 -3 +1 -1 +1 -1 +1 -1 +a -a +Shift_L +b -b -Shift_L +Control_L +c -c -Control_L");
    EXPECT_EQ(logs, (std::vector<std::string>{"60,40"}));
    EXPECT_EQ(queryPointer(window.display()), (platform::Point{ox + 60.0, 40}));
    EXPECT_TRUE(nothingHeld(window.display()));
}

TEST_F(X11Macro, ScreenReadsShowWhatTheServerDraws) {
    CountingWindow window(server->display());
    // Grey levels far apart, so that no partial overlap with the black desktop looks alike.
    auto drawMark = [&](int x, int y) {
        window.fill(originX() + x, y, 30, 30, 0xF0F0F0);
        window.fill(originX() + x + 30, y, 30, 30, 0x3366CC);
        window.fill(originX() + x, y + 30, 60, 30, 0xA0A0A0);
    };
    drawMark(400, 300);
    platform::RgbaImage image;
    ASSERT_TRUE(desktop->grab->grab({400, 300, 60, 60}, image));
    ImageTemplate mark;
    mark.name = "Mark", mark.widthPoints = 60, mark.heightPoints = 60, mark.originX = 400, mark.originY = 300;
    mark.pngBase64 = vision::encodeBase64(vision::PngCodec::encode(image).value());
    // Moved, so that finding it is not reading back where it was cut.
    window.fill(originX() + 400, 300, 60, 60, 0x000000);
    drawMark(700, 500);
    install({{"Mark", mark}});
    ASSERT_EQ(run("local r, g, b, hex = color.get(745, 515) log(hex) "
                  "log(tostring(color.match(715, 515, '#F0F0F0')), "
                  "    tostring(color.match(715, 515, 0, 0, 255, 10))) "
                  "local x, y, score = image.find('mark', 0.9) log(string.format('%d,%d %.2f', x, y, score)) "
                  "log(tostring(image.exists('Mark')), tostring(image.findIn('Mark', 0, 0, 200, 200))) "
                  "local w, h = screen.size() printf('%dx%d @%g', w, h, screen.scale())"),
              "");
    EXPECT_EQ(logs, (std::vector<std::string>{"#3366CC", "true\tfalse", "730,530 1.00", "true\tnil",
                                              twoMonitors ? "1920x1080 @1" : "3200x1080 @1"}));
}

TEST_F(X11Macro, StopFromAnotherThreadEndsABusyFileAndAWait) {
    install();
    for (const char* code :
         {"s = 0 while true do s = s + 1 end", "color.wait(5, 5, '#123456', 0, 600000) while true do end"}) {
        SCOPED_TRACE(code);
        std::thread stopper([] {
            std::this_thread::sleep_for(300ms);   // inside the wait, even on a loaded machine
            tfg_request_interrupt(1);
        });
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(run(code), "failed: 脚本已被用户中断");
        stopper.join();
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
        tfg_request_interrupt(0);
    }
}

}  // namespace
