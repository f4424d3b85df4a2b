// tapforge-cli against the private server: pointer, screenshot, release, and `play` ended by a
// signal while holding a key, a modifier or a button (stopped as by the stop button, nothing
// left held, exit status 128 + the signal).
#include <X11/keysym.h>
#include <signal.h>

#include <iterator>

#include "X11TestSupport.h"
#include "vision/PngCodec.h"

using namespace tapforge;
using namespace tapforge::testing;
using Outcome = std::pair<int, std::string>;

namespace {

struct Held {
    const char* name, *step;   // the step's JSON fields
};
const Held kHeld[] = {
    {"key", R"("kind":"keyPress","keyCode":0,"keyKind":"down")"},
    {"modifier", R"("kind":"keyPress","keyCode":59,"keyKind":"down")"},
    {"button", R"("kind":"mouseClick","x":40,"y":40,"hasPoint":true,"clickKind":"down")"},
};

class X11Play : public X11Test {
protected:
    X11Play() { usesCli = true; }
    // A script that presses with its first step and stays busy in its second.
    std::string script(const char* press, const char* busy) {
        std::ofstream(folder / "held.json") << R"({"name":"按住","steps":[{"id":"E0000000-0000-4000-8000-000000000001",)"
                                            << press << R"(},{"id":"E0000000-0000-4000-8000-000000000002",)" << busy
                                            << "}]}";
        return folder / "held.json";
    }
    // The press can reach the server after `line` reaches us.
    void awaitPress(Child& child, Display* probe, const std::string& line) {
        ASSERT_TRUE(child.waitForOutput(line, 20s)) << child.output();
        ASSERT_TRUE(waitUntil([&] { return !bool(nothingHeld(probe)); }, 10s)) << "nothing was pressed";
    }
    TempFolder folder{"tapforge-play"};
};

class X11Signal : public X11Play, public ::testing::WithParamInterface<std::tuple<int, Held>> {};

TEST_P(X11Signal, EndsTheRunAndReleasesWhatItHolds) {
    const auto [signal, held] = GetParam();
    CountingWindow window(server->display());
    Child child({cliPath().string(), "play", script(held.step, R"("kind":"delay","delayMs":600000)")}, server->display());
    ASSERT_NO_FATAL_FAILURE(awaitPress(child, window.display(), "▶︎ 开始执行"));
    kill(child.pid(), signal);
    EXPECT_EQ(child.wait(20s), 128 + signal) << child.output();
    EXPECT_NE(child.output().find("⏹ 已手动停止"), std::string::npos) << child.output();
    // The server may still be reading the releases the process wrote just before it exited.
    waitUntil([&] { return bool(nothingHeld(window.display())); }, 2000ms);
    EXPECT_TRUE(nothingHeld(window.display()));
}

INSTANTIATE_TEST_SUITE_P(Matrix, X11Signal, ::testing::Combine(::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT),
                                                               ::testing::ValuesIn(kHeld)),
                         [](const auto& info) {
                             return std::string(sigabbrev_np(std::get<0>(info.param))) + "_" + std::get<1>(info.param).name;
                         });

// A second SIGINT ends a run stuck in a looping Lua hook, releasing what it holds. The hook logs
// when it is stuck: a SIGINT before that would stop the run the ordinary way.
TEST_F(X11Play, SecondInterruptEndsAStuckRunAndReleasesWhatItHolds) {
    std::ofstream(folder / "stuck.lua") << "debug.sethook(function() log('卡死') while true do end end, '', 1)\nlocal x = 1\n";
    CountingWindow window(server->display());
    const std::string file = script(kHeld[1].step, R"("kind":"lua","luaFile":"stuck.lua","timeoutMs":0)");
    Child child({cliPath().string(), "play", file}, server->display());
    ASSERT_NO_FATAL_FAILURE(awaitPress(child, window.display(), "卡死"));
    kill(child.pid(), SIGINT);
    std::this_thread::sleep_for(200ms);
    kill(child.pid(), SIGINT);
    EXPECT_EQ(child.wait(20s), 130) << child.output();
    EXPECT_NE(child.output().find("⏹ 再次收到中断信号"), std::string::npos) << child.output();
    // At once: the process ends only after the server has taken in the releases.
    EXPECT_TRUE(nothingHeld(window.display()));
}

TEST_F(X11Play, PointerPrintsGlobalPoints) {
    ASSERT_TRUE(desktop->events->postMove({321, 45}));
    EXPECT_EQ(runCli({"pointer"}), (Outcome{0, "321,45\n"}));
}

TEST_F(X11Play, ScreenshotOfARectangleHoldsTheColourShownThere) {
    CountingWindow window(server->display());
    window.fill(originX() + 40, 30, 16, 8, 0x10C0F0);
    const TempFolder folder("tapforge-shot");
    const auto [code, out] = runCli({"screenshot", folder / "shot.png", "--rect", "40,30,16,8"});
    ASSERT_EQ(code, 0) << out;
    std::ifstream in(folder / "shot.png", std::ios::binary);
    const auto image = vision::PngCodec::decode(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}));
    ASSERT_TRUE(image);
    ASSERT_EQ(std::pair(image->width, image->height), std::pair(16, 8));
    for (int y : {0, 7})
        for (int x : {0, 15}) EXPECT_EQ(rgbaAt(*image, x, y), (std::array{0x10, 0xC0, 0xF0, 255}));
    for (const char* rect : {"1,2,3", "100000,0,5,5"})
        EXPECT_EQ(runCli({"screenshot", folder / "bad.png", "--rect", rect}).first, 2) << rect;
}

// What a killed run left pressed through XTEST is let go; the server reports nothing held after.
TEST_F(X11Play, ReleaseLetsGoOfKeysAndButtonsLeftDown) {
    other->press(XK_Shift_L, true), other->press(XK_a, true), other->button(1, true);
    ASSERT_EQ(keysHeld(other->display()).size(), 2u);
    EXPECT_EQ(runCli({"release"}), (Outcome{0, "已松开 2 个按键、1 个鼠标按钮\n"}));
    EXPECT_TRUE(nothingHeld(other->display()));
}

}  // namespace
