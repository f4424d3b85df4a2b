// Another client's XTest input recorded (in process and by `tapforge-cli record`) and played back.
#include <X11/keysym.h>

#include <csignal>
#include <sstream>

#include "X11TestSupport.h"
#include <gmock/gmock.h>
#include "input/InputRecorder.h"
#include "input/StepText.h"
#include "model/ScriptJson.h"

using namespace tapforge;
using namespace tapforge::testing;
using ::testing::ElementsAre;

namespace {

// The steps without their delays, in order.
std::vector<std::string> actions(const std::vector<Step>& steps) {
    std::vector<std::string> out;
    for (const Step& s : steps)
        if (s.kind != StepKind::delay) out.push_back(test::describe(s));
    return out;
}

class X11Record : public X11Test {
protected:
    X11Record() { usesCli = true; }
    // Another client's input at global points: "x,y" moves, "n" clicks button n, "+n"/"-n" press
    // and let go of it, "~ms" waits.
    void inject(const std::string& gestures) {
        std::istringstream words(gestures);
        for (std::string w; words >> w;) {
            const size_t comma = w.find(',');
            if (w[0] == '~') std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(w.substr(1))));
            else if (w[0] == '+' || w[0] == '-') other->button(unsigned(std::stoi(w.substr(1))), w[0] == '+');
            else if (comma != std::string::npos) other->move(std::stoi(w) + originX(), std::stoi(w.substr(comma + 1)));
            else other->click(unsigned(std::stoi(w)));
        }
    }
    // The server switches the record context on asynchronously.
    void startRecording(Child& child) {
        ASSERT_TRUE(child.waitForOutput("⏺ 开始录制", 10s)) << child.output();
        std::this_thread::sleep_for(300ms);
    }
    Script recorded() {
        const ScriptDecodeResult decoded = decodeScript((std::stringstream() << std::ifstream(folder / "take.json").rdbuf()).str());
        EXPECT_TRUE(decoded) << decoded.error;
        return decoded.script.value_or(Script{});
    }

    TempFolder folder{"tapforge-record"};
};

TEST_F(X11Record, PointerTracesOnlyWhenAskedAndSampledEvery120Ms) {
    std::vector<Step> steps;
    InputRecorder recorder(desktop->tap);
    recorder.onAppend = [&](const Step& s) { steps.push_back(s); };
    recorder.onRemoveLast = [&] { steps.resize(steps.empty() ? 0 : steps.size() - 1); };
    recorder.recordMouseMove = true;
    inject("10,10");
    recorder.start();
    runFor(300ms);   // the server switches the record context on asynchronously
    // Each second move is 1 point on at once: dropped.
    inject("30,10 31,10 ~150 50,10 51,10 ~150 70,10 71,10 ~150 90,10 91,10 ~150");
    runUntil([&] { return steps.size() >= 4; });
    runFor(200ms);
    recorder.stop();
    EXPECT_THAT(actions(steps), ElementsAre("move@30,10 d0", "move@50,10 d0", "move@70,10 d0", "move@90,10 d0"));
}

TEST_F(X11Record, InjectedInputBecomesStepsThatPlayBackTheSameClicksAtTheSamePlaces) {
    CountingWindow window(server->display());
    Child child({cliPath().string(), "record", folder / "take.json"}, server->display());
    ASSERT_NO_FATAL_FAILURE(startRecording(child));
    // A second press within 500 ms and 6 points is a double click; a drag is sampled, the move
    // 2 points on at once is not; buttons 4 and 5 are the wheel, one line up and one down.
    inject("120,130 1 ~300 500,400 1 ~90 1 ~200 800,200 3 ~150 300,700 +1 302,700 ~80 360,720 ~80 420,760 -1 ~100 "
           "1000,900 2 4 5 ~150");
    other->press(XK_Shift_L, true), other->key(XK_a), other->press(XK_Shift_L, false);
    other->key(XK_F9);
    ASSERT_EQ(child.wait(10s), 0) << child.output();
    window.pump(200ms);
    const std::vector<CountingWindow::Click> live = std::exchange(window.clicks, {});
    ASSERT_EQ(live.size(), 16u) << "the injected presses and releases reached the window";

    const Script script = recorded();
    EXPECT_THAT(actions(script.steps),
                ElementsAre("click left@120,130", "doubleClick left@500,400", "click right@800,200",
                            "down left@300,700", "move@300,700 d0", "move@360,720 d0", "move@420,760 d0",
                            "up left@420,760", "click center@1000,900", "scroll 1@1000,900", "scroll -1@1000,900",
                            "key 0 press mod2"));
    // The pauses as the server stamped them (300 ms, then 90 ms), none shorter than the recorder keeps.
    ASSERT_GE(script.steps.size(), 4u);
    for (auto [index, atLeast, below] : {std::array{1, 290, 600}, std::array{2, 85, 400}}) {
        ASSERT_EQ(script.steps[index].kind, StepKind::delay);
        EXPECT_TRUE(script.steps[index].delayMs >= atLeast && script.steps[index].delayMs < below) << script.steps[index].delayMs;
    }
    for (const Step& s : script.steps) EXPECT_TRUE(s.enabled && (s.kind != StepKind::delay || s.delayMs >= 40)) << s.delayMs;

    // Away from the last place, so that playback has to put every click where it was.
    inject("5,5");
    Child play({cliPath().string(), "play", folder / "take.json"}, server->display());
    ASSERT_EQ(play.wait(30s), 0) << play.output();
    window.pump(200ms);
    EXPECT_EQ(window.clicks, live);
}

// SIGHUP and SIGTERM save the recording as Ctrl+C does; so does the stop key, which keeps a
// held button as its press and drops only itself and the pause before it.
TEST_F(X11Record, HangUpTerminateAndTheStopKeySaveTheRecording) {
    for (const int signal : {SIGHUP, SIGTERM, 0}) {
        SCOPED_TRACE(signal);
        std::filesystem::remove(folder / "take.json");
        Child child({cliPath().string(), "record", folder / "take.json"}, server->display());
        ASSERT_NO_FATAL_FAILURE(startRecording(child));
        inject(signal ? "200,210 1 ~300" : "200,210 1 ~100 +1 ~200");
        if (signal) ::kill(child.pid(), signal);
        else other->key(XK_F9);
        ASSERT_EQ(child.wait(10s), 0) << child.output();
        const Script script = recorded();
        if (!signal) other->button(1, false);
        std::vector<std::string> expected{"click left@200,210"};
        if (!signal) expected.push_back("down left@200,210");
        EXPECT_EQ(actions(script.steps), expected);
        EXPECT_EQ(script.steps.back().kind, StepKind::mouseClick) << "no pause before the end";
    }
}

}  // namespace
