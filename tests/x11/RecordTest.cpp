// Recording on a real X server: another client injects input with XTest, the recorder (in this
// process, and as `tapforge-cli record`) turns it into steps, and `tapforge-cli play` of the
// recorded file reproduces the same clicks at the same places in a helper window.
// gtest first: Xlib's macros (None, Bool, Status) clash with its templates.
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
#include "model/ScriptJson.h"

using namespace std::chrono_literals;
using namespace tapforge;
using namespace tapforge::testing;
using ::testing::ElementsAre;

namespace {

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Another client's input, one device event per call, at global points, so the test controls the pauses.
struct Injector {
    OtherClient& client;
    int originX;
    void moveTo(int x, int y) { client.move(x + originX, y); }
    void button(unsigned number, bool press) { client.button(number, press); }
    void click(unsigned number = 1) { button(number, true), button(number, false); }
    void key(KeySym sym, bool press) { client.press(static_cast<unsigned>(sym), press); }
    void tap(KeySym sym) { client.key(static_cast<unsigned>(sym)); }
};

std::string describe(const Step& s) {
    auto pt = [&] {
        std::string text = "@";
        text += std::to_string(std::lround(s.x));
        text += ",";
        text += std::to_string(std::lround(s.y));
        return text;
    };
    switch (s.kind) {
        case StepKind::delay: return "delay";
        case StepKind::mouseClick:
            return std::string(rawValue(s.clickKind)) + " " + std::string(rawValue(s.mouseButton)) + pt() +
                   (s.modifiers.empty() ? "" : " mod" + std::to_string(s.modifiers.rawValue));
        case StepKind::mouseMove: return "move" + pt();
        case StepKind::mouseScroll: return "scroll " + std::to_string(s.scrollAmount) + pt();
        case StepKind::keyPress:
            return "key " + std::to_string(s.keyCode.value_or(9999)) +
                   (s.modifiers.empty() ? "" : " mod" + std::to_string(s.modifiers.rawValue));
        default: return std::string(rawValue(s.kind));
    }
}

// The steps without their delays, and the delays alone, in order.
std::vector<std::string> actions(const std::vector<Step>& steps) {
    std::vector<std::string> out;
    for (const Step& s : steps)
        if (s.kind != StepKind::delay) out.push_back(describe(s));
    return out;
}

class X11Record : public X11Test {
protected:
    void SetUp() override {
        X11Test::SetUp();
        if (HasFatalFailure()) return;
        other = std::make_unique<OtherClient>(server->display());
        ASSERT_NE(other->display(), nullptr);
        inject = std::make_unique<Injector>(Injector{*other, originX()});
        recorder = std::make_unique<InputRecorder>(desktop->tap);
        recorder->onAppend = [this](const Step& s) { steps.push_back(s); };
        recorder->onRemoveLast = [this] {
            if (!steps.empty()) steps.pop_back();
        };
    }
    void TearDown() override {
        recorder.reset();
        inject.reset();
        other.reset();   // before the server goes: Xlib ends the process on a lost connection
        X11Test::TearDown();
    }
    void startRecording() {
        recorder->start();
        // Let the server switch the record context on before anything is injected.
        mainQueue->runFor(300ms);
    }
    // Delivers what the tap queued, until `count` steps exist or a few seconds pass.
    void collect(size_t count) {
        mainQueue->runUntil([&] { return steps.size() >= count; }, 5s);
        mainQueue->runFor(200ms);
    }

    std::unique_ptr<OtherClient> other;
    std::unique_ptr<Injector> inject;
    std::unique_ptr<InputRecorder> recorder;
    std::vector<Step> steps;
};

TEST_F(X11Record, InjectedClicksDoubleClicksDragsScrollsAndKeysBecomeSteps) {
    inject->moveTo(100, 100);
    startRecording();
    inject->click();
    sleepMs(300);
    inject->moveTo(200, 150);
    inject->click();
    sleepMs(90);
    inject->click();   // second press within 500 ms and 6 points: a double click
    sleepMs(300);
    inject->moveTo(300, 300);
    inject->button(1, true);
    inject->moveTo(302, 300);   // too close and too soon: no sample
    sleepMs(100);
    inject->moveTo(340, 300);
    sleepMs(100);
    inject->moveTo(400, 320);
    inject->button(1, false);
    sleepMs(100);
    inject->moveTo(50, 60);
    inject->click(4);   // wheel up one line
    inject->click(5);
    sleepMs(100);
    inject->key(XK_Shift_L, true);
    inject->tap(XK_a);
    inject->key(XK_Shift_L, false);
    inject->moveTo(600, 600);
    inject->click(3);
    collect(16);
    recorder->stop();

    EXPECT_THAT(actions(steps), ElementsAre("click left@100,100", "doubleClick left@200,150", "down left@300,300",
                                            "move@300,300", "move@340,300", "move@400,320", "up left@400,320",
                                            "scroll 1@50,60", "scroll -1@50,60", "key 0 mod2", "click right@600,600"));
    // The pauses, as the server stamped them: 300 ms before the double click's first press,
    // 90 ms between its presses, 100 ms of the drag before its first kept sample.
    ASSERT_GE(steps.size(), 4u);
    EXPECT_EQ(describe(steps[0]), "click left@100,100");
    ASSERT_EQ(steps[1].kind, StepKind::delay);
    EXPECT_GE(steps[1].delayMs, 290);
    EXPECT_LT(steps[1].delayMs, 600);
    ASSERT_EQ(steps[2].kind, StepKind::delay);
    EXPECT_GE(steps[2].delayMs, 85);
    EXPECT_LT(steps[2].delayMs, 400);
    EXPECT_EQ(steps[3].clickKind, ClickKind::doubleClick);
    for (const Step& s : steps) {
        EXPECT_TRUE(s.enabled);
        if (s.kind == StepKind::delay) {
            EXPECT_GE(s.delayMs, recorder->autoDelayThresholdMs);
        }
        if (s.kind == StepKind::mouseMove) {
            EXPECT_EQ(s.moveDurationMs, 0);
        }
    }
}

TEST_F(X11Record, PointerTracesOnlyWhenAskedAndSampledEvery120Ms) {
    recorder->recordMouseMove = true;
    inject->moveTo(10, 10);
    startRecording();
    for (int i = 1; i <= 4; ++i) {
        inject->moveTo(10 + 20 * i, 10);
        inject->moveTo(11 + 20 * i, 10);   // 1 point on at once: dropped
        sleepMs(150);
    }
    collect(4);
    recorder->stop();
    EXPECT_THAT(actions(steps), ElementsAre("move@30,10", "move@50,10", "move@70,10", "move@90,10"));
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
    std::unique_ptr<Child> startRecorder(const std::vector<std::string>& extra) {
        std::vector<std::string> args{cliPath().string(), "record", (folder / "take.json").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        auto child = std::make_unique<Child>(args, server->display());
        EXPECT_TRUE(child->started());
        EXPECT_TRUE(child->waitForOutput("⏺ 开始录制", 10s)) << child->output();
        sleepMs(300);   // the record context is switched on asynchronously
        return child;
    }
    Script recorded() {
        std::ifstream in(folder / "take.json");
        std::stringstream text;
        text << in.rdbuf();
        const ScriptDecodeResult decoded = decodeScript(text.str());
        EXPECT_TRUE(decoded) << decoded.error;
        return decoded.script.value_or(Script{});
    }
    std::filesystem::path folder;
};

TEST_F(X11RecordCli, RecordedFilePlaysBackTheSameClicksAtTheSamePlaces) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    ASSERT_NE(window.display(), nullptr);
    auto child = startRecorder({});
    inject->moveTo(120, 130);
    inject->click();
    sleepMs(200);
    inject->moveTo(500, 400);
    inject->click();
    sleepMs(80);
    inject->click();
    sleepMs(200);
    inject->moveTo(800, 200);
    inject->click(3);
    sleepMs(150);
    inject->moveTo(300, 700);
    inject->button(1, true);
    sleepMs(80);
    inject->moveTo(360, 720);
    sleepMs(80);
    inject->moveTo(420, 760);
    inject->button(1, false);
    sleepMs(100);
    inject->moveTo(1000, 900);
    inject->click(2);
    inject->click(5);
    sleepMs(150);
    inject->tap(XK_F9);
    ASSERT_EQ(child->wait(10s), 0) << child->output();
    window.pump(200ms);
    const std::vector<CountingWindow::Click> live = std::exchange(window.clicks, {});
    ASSERT_EQ(live.size(), 14u) << "the injected presses and releases reached the window";

    const Script script = recorded();
    EXPECT_THAT(actions(script.steps),
                ElementsAre("click left@120,130", "doubleClick left@500,400", "click right@800,200",
                            "down left@300,700", "move@300,700", "move@360,720", "move@420,760", "up left@420,760",
                            "click center@1000,900", "scroll -1@1000,900"));

    // Away from the last place, so that playback has to put every click where it was.
    inject->moveTo(5, 5);
    Child play({cliPath().string(), "play", (folder / "take.json").string()}, server->display());
    ASSERT_TRUE(play.started());
    ASSERT_EQ(play.wait(30s), 0) << play.output();
    window.pump(200ms);
    EXPECT_EQ(window.clicks, live);
}

}  // namespace
