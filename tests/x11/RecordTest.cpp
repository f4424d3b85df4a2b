// Recording on a real X server: another client injects input with XTest, the recorder (in this
// process, and as `tapforge-cli record`) turns it into steps, and `tapforge-cli play` of the
// recorded file reproduces the same clicks at the same places in a helper window.
// gtest first: Xlib's macros (None, Bool, Status) clash with its templates.
#include <csignal>
#include <gmock/gmock.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "X11TestSupport.h"
#include "input/InputRecorder.h"
#include "input/StepText.h"
#include "model/ScriptJson.h"

using namespace std::chrono_literals;
using namespace tapforge;
using namespace tapforge::testing;
using ::testing::ElementsAre;

namespace {

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The steps without their delays, in order.
std::vector<std::string> actions(const std::vector<Step>& steps) {
    std::vector<std::string> out;
    for (const Step& s : steps)
        if (s.kind != StepKind::delay) out.push_back(test::describe(s));
    return out;
}

// Another client's input, one device event per call, at global points, so the test controls the pauses.
class X11Record : public X11Test {
protected:
    void SetUp() override {
        X11Test::SetUp();
        if (HasFatalFailure()) return;
        other = std::make_unique<OtherClient>(server->display());
        ASSERT_NE(other->display(), nullptr);
        recorder = std::make_unique<InputRecorder>(desktop->tap);
        recorder->onAppend = [this](const Step& s) { steps.push_back(s); };
        recorder->onRemoveLast = [this] {
            if (!steps.empty()) steps.pop_back();
        };
    }
    void TearDown() override {
        recorder.reset();
        other.reset();   // before the server goes: Xlib ends the process on a lost connection
        X11Test::TearDown();
    }
    void moveTo(int x, int y) { other->move(x + originX(), y); }
    void click(unsigned button = 1) { other->button(button, true), other->button(button, false); }

    std::unique_ptr<OtherClient> other;
    std::unique_ptr<InputRecorder> recorder;
    std::vector<Step> steps;
};

TEST_F(X11Record, PointerTracesOnlyWhenAskedAndSampledEvery120Ms) {
    recorder->recordMouseMove = true;
    moveTo(10, 10);
    recorder->start();
    mainQueue->runFor(300ms);   // the server switches the record context on asynchronously
    for (int i = 1; i <= 4; ++i) {
        moveTo(10 + 20 * i, 10);
        moveTo(11 + 20 * i, 10);   // 1 point on at once: dropped
        sleepMs(150);
    }
    mainQueue->runUntil([&] { return steps.size() >= 4; }, 5s);
    mainQueue->runFor(200ms);
    recorder->stop();
    EXPECT_THAT(actions(steps), ElementsAre("move@30,10 d0", "move@50,10 d0", "move@70,10 d0", "move@90,10 d0"));
}

class X11RecordCli : public X11Record {
protected:
    void SetUp() override {
        X11Record::SetUp();
        if (HasFatalFailure()) return;
        if (!std::filesystem::exists(cliPath())) GTEST_SKIP() << "tapforge-cli not built at " << cliPath();
        folder = std::filesystem::temp_directory_path() / ("tapforge-record-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
    }
    void TearDown() override {
        std::error_code ec;
        if (!folder.empty()) std::filesystem::remove_all(folder, ec);
        X11Record::TearDown();
    }
    Script recorded(const std::string& name = "take.json") {
        std::ifstream in(folder / name);
        std::stringstream text;
        text << in.rdbuf();
        const ScriptDecodeResult decoded = decodeScript(text.str());
        EXPECT_TRUE(decoded) << decoded.error;
        return decoded.script.value_or(Script{});
    }
    std::filesystem::path folder;
};

TEST_F(X11RecordCli, InjectedInputBecomesStepsThatPlayBackTheSameClicksAtTheSamePlaces) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    ASSERT_NE(window.display(), nullptr);
    Child child({cliPath().string(), "record", (folder / "take.json").string()}, server->display());
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.waitForOutput("⏺ 开始录制", 10s)) << child.output();
    sleepMs(300);   // the record context is switched on asynchronously
    moveTo(120, 130);
    click();
    sleepMs(300);
    moveTo(500, 400);
    click();
    sleepMs(90);
    click();   // second press within 500 ms and 6 points: a double click
    sleepMs(200);
    moveTo(800, 200);
    click(3);
    sleepMs(150);
    moveTo(300, 700);
    other->button(1, true);
    moveTo(302, 700);   // too close and too soon: no sample
    sleepMs(80);
    moveTo(360, 720);
    sleepMs(80);
    moveTo(420, 760);
    other->button(1, false);
    sleepMs(100);
    moveTo(1000, 900);
    click(2);
    click(4);   // wheel up one line
    click(5);
    sleepMs(150);
    other->press(XK_Shift_L, true);
    other->key(XK_a);
    other->press(XK_Shift_L, false);
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
    // The pauses, as the server stamped them: 300 ms before the double click's first press,
    // 90 ms between its presses.
    ASSERT_GE(script.steps.size(), 4u);
    ASSERT_EQ(script.steps[1].kind, StepKind::delay);
    EXPECT_GE(script.steps[1].delayMs, 290);
    EXPECT_LT(script.steps[1].delayMs, 600);
    ASSERT_EQ(script.steps[2].kind, StepKind::delay);
    EXPECT_GE(script.steps[2].delayMs, 85);
    EXPECT_LT(script.steps[2].delayMs, 400);
    for (const Step& s : script.steps) {
        EXPECT_TRUE(s.enabled);
        if (s.kind == StepKind::delay) {
            EXPECT_GE(s.delayMs, 40);
        }
    }

    // Away from the last place, so that playback has to put every click where it was.
    moveTo(5, 5);
    Child play({cliPath().string(), "play", (folder / "take.json").string()}, server->display());
    ASSERT_TRUE(play.started());
    ASSERT_EQ(play.wait(30s), 0) << play.output();
    window.pump(200ms);
    EXPECT_EQ(window.clicks, live);
}

// A closed terminal (SIGHUP) or a plain kill (SIGTERM) ends the recording as Ctrl+C does:
// what was recorded is saved.
TEST_F(X11RecordCli, HangUpAndTerminateSaveTheRecording) {
    for (const int signal : {SIGHUP, SIGTERM}) {
        SCOPED_TRACE(signal);
        std::filesystem::remove(folder / "take.json");
        Child child({cliPath().string(), "record", (folder / "take.json").string()}, server->display());
        ASSERT_TRUE(child.started());
        ASSERT_TRUE(child.waitForOutput("⏺ 开始录制", 10s)) << child.output();
        sleepMs(300);
        moveTo(200, 210);
        click();
        sleepMs(300);
        ::kill(child.pid(), signal);
        ASSERT_EQ(child.wait(10s), 0) << child.output();
        EXPECT_THAT(actions(recorded().steps), ElementsAre("click left@200,210"));
    }
}

// The stop key ends the recording as Ctrl+C does: a button still held is kept as its press,
// only the stop key and the pause before it are dropped.
TEST_F(X11RecordCli, StopKeyKeepsTheButtonStillHeld) {
    Child child({cliPath().string(), "record", (folder / "held.json").string()}, server->display());
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.waitForOutput("⏺ 开始录制", 10s)) << child.output();
    sleepMs(300);
    moveTo(200, 210);
    click();
    sleepMs(100);
    other->button(1, true);
    sleepMs(200);
    other->key(XK_F9);
    ASSERT_EQ(child.wait(10s), 0) << child.output();
    other->button(1, false);
    const Script script = recorded("held.json");
    EXPECT_THAT(actions(script.steps), ElementsAre("click left@200,210", "down left@200,210"));
    EXPECT_EQ(script.steps.back().kind, StepKind::mouseClick) << "no pause before the stop key";
}

}  // namespace
