// tapforge-cli against the private server: pointer, screenshot, release, `play` ended by a signal
// while holding a key, a modifier or a button, and `record` of another client's input.
#include <X11/keysym.h>
#include <signal.h>

#include <iterator>
#include <sstream>

#include "X11TestSupport.h"
#include "input/StepText.h"
#include "model/ScriptJson.h"
#include "vision/PngCodec.h"

using namespace tapforge;
using namespace tapforge::testing;
using Outcome = std::pair<int, std::string>;

namespace {

std::string actions(const std::vector<Step>& steps) {
    std::string out;
    for (const Step& s : steps)
        if (s.kind != StepKind::delay) out += (out.empty() ? "" : "; ") + test::describe(s);
    return out;
}

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
        std::ofstream(folder / "held.json")
            << R"({"name":"按住","steps":[{"id":"E0000000-0000-4000-8000-000000000001",)" << press
            << R"(},{"id":"E0000000-0000-4000-8000-000000000002",)" << busy << "}]}";
        return folder / "held.json";
    }
    // The press can reach the server after `line` reaches us.
    void awaitPress(Child& child, Display* probe, const std::string& line) {
        ASSERT_TRUE(child.waitForOutput(line, 20s)) << child.output();
        ASSERT_TRUE(waitUntil([&] { return !bool(nothingHeld(probe)); }, 10s)) << "nothing was pressed";
    }
    // Another client's input at global points: "x,y" moves, "n" clicks button n, "+n"/"-n" press
    // and let go of it, "~ms" waits.
    void inject(const std::string& gestures) {
        std::istringstream words(gestures);
        for (std::string w; words >> w;) {
            const size_t comma = w.find(',');
            if (w[0] == '~') std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(w.substr(1))));
            else if (w[0] == '+' || w[0] == '-') other->button(unsigned(std::stoi(w.substr(1))), w[0] == '+');
            else if (comma == std::string::npos) other->click(unsigned(std::stoi(w)));
            else other->move(originX() + std::stoi(w), std::stoi(w.substr(comma + 1)));
        }
    }
    // The server switches the record context on asynchronously.
    void startRecording(Child& child) {
        ASSERT_TRUE(child.waitForOutput("⏺ 开始录制", 10s)) << child.output();
        std::this_thread::sleep_for(300ms);
    }
    Script recorded() {
        std::stringstream json;
        json << std::ifstream(folder / "take.json").rdbuf();
        const ScriptDecodeResult decoded = decodeScript(json.str());
        EXPECT_TRUE(decoded) << decoded.error;
        return decoded.script.value_or(Script{});
    }
    TempFolder folder{"tapforge-play"};
};

using X11Record = X11Play;

class X11Signal : public X11Play, public ::testing::WithParamInterface<std::tuple<int, Held>> {};

TEST_P(X11Signal, EndsTheRunAndReleasesWhatItHolds) {
    const auto [signal, held] = GetParam();
    CountingWindow window(server->display());
    const std::string file = script(held.step, R"("kind":"delay","delayMs":600000)");
    Child child({cliPath().string(), "play", file}, server->display());
    ASSERT_NO_FATAL_FAILURE(awaitPress(child, window.display(), "▶︎ 开始执行"));
    kill(child.pid(), signal);
    EXPECT_EQ(child.wait(20s), 128 + signal) << child.output();
    EXPECT_NE(child.output().find("⏹ 已手动停止"), std::string::npos) << child.output();
    // The server may still be reading the releases the process wrote just before it exited.
    EXPECT_TRUE(waitUntil([&] { return bool(nothingHeld(window.display())); }, 2s))
        << nothingHeld(window.display()).message();
}

INSTANTIATE_TEST_SUITE_P(Matrix, X11Signal,
                         ::testing::Combine(::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT),
                                            ::testing::ValuesIn(kHeld)),
                         [](const auto& info) {
                             const int signal = std::get<0>(info.param);
                             return std::string(sigabbrev_np(signal)) + "_" + std::get<1>(info.param).name;
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
    EXPECT_EQ(runCli({"release"}), (Outcome{0, "已松开 2 个按键、1 个鼠标按钮\n"}));
    EXPECT_TRUE(nothingHeld(other->display()));
}

TEST_F(X11Record, InjectedInputBecomesStepsThatPlayBackTheSameClicksAtTheSamePlaces) {
    CountingWindow window(server->display());
    Child child({cliPath().string(), "record", folder / "take.json"}, server->display());
    ASSERT_NO_FATAL_FAILURE(startRecording(child));
    // A second press within 500 ms and 6 points is a double click; a drag is sampled, the move
    // 2 points on at once is not; buttons 4 and 5 are the wheel, one line up and one down.
    inject("120,130 1 ~300 500,400 1 ~90 1 ~200 800,200 3 ~150 300,700 +1 302,700 ~80 360,720 ~80 "
           "420,760 -1 ~100 1000,900 2 4 5 ~150");
    other->press(XK_Shift_L, true), other->key(XK_a), other->press(XK_Shift_L, false);
    other->key(XK_F9);
    ASSERT_EQ(child.wait(10s), 0) << child.output();
    window.pump(200ms);
    const std::vector<CountingWindow::Click> live = std::exchange(window.clicks, {});
    ASSERT_EQ(live.size(), 16u) << "the injected presses and releases reached the window";

    const Script script = recorded();
    EXPECT_EQ(actions(script.steps),
              "click left@120,130; doubleClick left@500,400; click right@800,200; down left@300,700; "
              "move@300,700 d0; move@360,720 d0; move@420,760 d0; up left@420,760; click center@1000,900; "
              "scroll 1@1000,900; scroll -1@1000,900; key 0 press mod2");
    // The pauses as the server stamped them (300 ms, then 90 ms), none shorter than the recorder keeps.
    ASSERT_GE(script.steps.size(), 4u);
    for (auto [index, atLeast, below] : {std::array{1, 290, 600}, std::array{2, 85, 400}}) {
        ASSERT_EQ(script.steps[index].kind, StepKind::delay);
        const int64_t delay = script.steps[index].delayMs;
        EXPECT_TRUE(delay >= atLeast && delay < below) << delay;
    }
    for (const Step& s : script.steps)
        EXPECT_TRUE(s.enabled && (s.kind != StepKind::delay || s.delayMs >= 40)) << s.delayMs;

    // Away from the last place, so that playback has to put every click where it was.
    inject("5,5");
    Child play({cliPath().string(), "play", folder / "take.json"}, server->display());
    ASSERT_EQ(play.wait(30s), 0) << play.output();
    window.pump(200ms);
    EXPECT_EQ(window.clicks, live);
}

// SIGHUP, SIGTERM and the stop key save the recording; the key keeps a held button as its press.
// Moves, when asked for, are sampled every 120 ms: each second one here comes too soon.
TEST_F(X11Record, HangUpTerminateAndTheStopKeySaveTheRecording) {
    struct Case {
        int signal;
        const char *option, *gestures, *steps;
    };
    for (auto [signal, option, gestures, steps] :
         {Case{SIGHUP, "", "200,210 1 ~300", "click left@200,210"},
          Case{SIGTERM, "", "200,210 1 ~300", "click left@200,210"},
          Case{0, "", "200,210 1 ~100 +1 ~200", "click left@200,210; down left@200,210"},
          Case{SIGHUP, "--mouse-moves", "30,10 31,10 ~150 50,10 51,10 ~150 70,10 71,10 ~150 90,10 91,10 ~150",
               "move@30,10 d0; move@50,10 d0; move@70,10 d0; move@90,10 d0"}}) {
        SCOPED_TRACE(steps);
        std::filesystem::remove(folder / "take.json");
        std::vector<std::string> args{cliPath().string(), "record", folder / "take.json"};
        if (*option) args.push_back(option);
        Child child(args, server->display());
        ASSERT_NO_FATAL_FAILURE(startRecording(child));
        inject(gestures);
        if (signal) ::kill(child.pid(), signal);
        else other->key(XK_F9);
        ASSERT_EQ(child.wait(10s), 0) << child.output();
        if (!signal) other->button(1, false);
        const Script script = recorded();
        EXPECT_EQ(actions(script.steps), steps);
        EXPECT_NE(script.steps.empty() ? StepKind::delay : script.steps.back().kind, StepKind::delay);
    }
}

}  // namespace
