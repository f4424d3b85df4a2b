// The macro library on a real X server: what a Lua file does with the mouse and the keyboard
// reaches a window, what it reads of the screen is what the server shows, and a stop from
// another thread ends a busy file and a wait.

#include <atomic>
#include <chrono>
#include <thread>

#include "X11TestSupport.h"
#include "input/InputPlayer.h"
#include "lua/LuaGuard.h"
#include "lua/LuaMacroAPI.h"
#include "lua/LuaRuntime.h"
#include "vision/Base64.h"
#include "vision/PngCodec.h"
#include <X11/Xlib.h>
#include <X11/keysym.h>
#undef Bool
#undef None

using namespace tapforge;
using namespace tapforge::testing;

namespace {

class X11Macro : public X11Test {
protected:
    void SetUp() override {
        X11Test::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        resetGuard();
        setLuaGuardClock(desktop->clock);
        player = std::make_unique<InputPlayer>(desktop->events, desktop->clock);
    }
    void TearDown() override {
        runtime.reset();   // before the library its functions call
        api.reset();
        player.reset();    // its event sink holds the connection, which must close before the server goes
        resetGuard();
        X11Test::TearDown();
    }
    static void resetGuard() {
        tfg_request_interrupt(0);
        tfg_set_deadline_ms(0);
        setLuaGuardClock(nullptr);
    }

    void install(std::map<std::string, ImageTemplate> templates = {}) {
        LuaMacroAPI::Context context;
        context.player = player.get();
        context.clock = desktop->clock.get();
        context.screens = desktop->screens;
        context.grab = desktop->grab;
        context.templates = std::move(templates);
        context.log = [this](const std::string& line) { logs.push_back(line); };
        runtime = LuaRuntime::create();
        api = std::make_unique<LuaMacroAPI>(std::move(context));
        api->install(*runtime);
    }
    // "" for success, else the failure message.
    std::string run(const std::string& code) {
        const LuaRunOutcome outcome = runtime->runString(code, "=x11");
        return outcome.succeeded ? std::string() : "failed: " + outcome.message;
    }

    // The template `name` cut from the screen as it is now.
    ImageTemplate grabTemplate(const std::string& name, platform::Rect rect) {
        platform::RgbaImage image;
        EXPECT_TRUE(desktop->grab->grab(rect, image));
        const auto png = vision::PngCodec::encode(image);
        EXPECT_TRUE(png);
        ImageTemplate t;
        t.name = name;
        t.widthPoints = rect.width;
        t.heightPoints = rect.height;
        t.originX = rect.x;
        t.originY = rect.y;
        t.pngBase64 = png ? vision::encodeBase64(*png) : std::string();
        return t;
    }

    std::unique_ptr<InputPlayer> player;
    std::unique_ptr<LuaMacroAPI> api;
    std::unique_ptr<LuaRuntime> runtime;
    std::vector<std::string> logs;
};

TEST_F(X11Macro, MouseAndKeyboardReachTheWindow) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
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
    // a; Shift, b; Control, c.
    EXPECT_EQ(window.keyPresses, 5);
    EXPECT_EQ(window.keyReleases, 5);
    EXPECT_EQ(window.lastKeycode, XKeysymToKeycode(window.display(), XK_c));
    EXPECT_EQ(logs, (std::vector<std::string>{"60,40"}));
    EXPECT_EQ(queryPointer(window.display()), (platform::Point{ox + 60.0, 40}));
    EXPECT_TRUE(keysHeld(window.display()).empty());
}

TEST_F(X11Macro, ScreenReadsShowWhatTheServerDraws) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    const int ox = originX();
    // Grey levels far apart, so that no partial overlap with the black desktop looks alike.
    window.fill(ox + 400, 300, 30, 30, 0xF0F0F0);
    window.fill(ox + 430, 300, 30, 30, 0x3366CC);
    window.fill(ox + 400, 330, 60, 30, 0xA0A0A0);
    auto mark = grabTemplate("Mark", {400, 300, 60, 60});
    // Move the mark so that finding it is not reading back where it was cut.
    window.fill(ox + 400, 300, 60, 60, 0x000000);
    window.fill(ox + 700, 500, 30, 30, 0xF0F0F0);
    window.fill(ox + 730, 500, 30, 30, 0x3366CC);
    window.fill(ox + 700, 530, 60, 30, 0xA0A0A0);
    install({{"Mark", mark}});
    ASSERT_EQ(run("local r, g, b, hex = color.get(745, 515) log(hex) "
                  "log(tostring(color.match(715, 515, '#F0F0F0')), tostring(color.match(715, 515, 0, 0, 255, 10))) "
                  "local x, y, score = image.find('mark', 0.9) log(string.format('%d,%d %.2f', x, y, score)) "
                  "log(tostring(image.exists('Mark')), tostring(image.findIn('Mark', 0, 0, 200, 200))) "
                  "local w, h = screen.size() printf('%dx%d @%g', w, h, screen.scale())"),
              "");
    EXPECT_EQ(logs, (std::vector<std::string>{"#3366CC", "true\tfalse", "730,530 1.00", "true\tnil",
                                              twoMonitors ? "1920x1080 @1" : "3200x1080 @1"}));
}

TEST_F(X11Macro, StopFromAnotherThreadEndsABusyFileAndAWait) {
    install();
    for (const char* code : {"s = 0 while true do s = s + 1 end", "color.wait(5, 5, '#123456', 0, 600000) while true do end"}) {
        std::thread stopper([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            tfg_request_interrupt(1);
        });
        const auto started = std::chrono::steady_clock::now();
        const std::string outcome = run(code);
        stopper.join();
        EXPECT_EQ(outcome, "failed: 脚本已被用户中断") << code;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << code;
        tfg_request_interrupt(0);
    }
}

}  // namespace
