// The real `tapforge` process on the test's X server, driven from outside by xdotool as the
// user's keyboard and mouse: the record and play hotkeys, and quitting right after an edit.
#include <signal.h>

#include <QTemporaryDir>

#include <chrono>
#include <fstream>
#include <thread>

#include "UiTestSupport.h"
#include "model/ScriptJson.h"
#include "x11/X11TestSupport.h"

#include <X11/Xlib.h>
#undef None
#undef Bool

namespace tapforge::testing {
namespace {

using namespace std::chrono_literals;

std::string xdotool(std::vector<std::string> args) {
    args.insert(args.begin(), "/usr/bin/xdotool");
    Child tool(args, testDisplay());
    EXPECT_EQ(tool.wait(20s), 0) << tool.output();
    return tool.output();
}

// Asks the window to close, as a window manager's close button does.
void closeWindow(unsigned long window) {
    Display* d = XOpenDisplay(testDisplay().c_str());
    ASSERT_TRUE(d);
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", 0);
    e.xclient.format = 32;
    e.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", 0));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, window, 0, NoEventMask, &e);
    XCloseDisplay(d);
}

class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        // Fresh data and config folders: the application's autosave and hotkeys live there.
        setenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8().constData(), 1);
        setenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8().constData(), 1);
    }

    std::string autosavePath() const { return (home.path() + "/data/Tapforge/autosave.json").toStdString(); }

    std::optional<Script> autosave() const {
        auto decoded = decodeScript(readFile(autosavePath()));
        return decoded ? decoded.script : std::nullopt;
    }

    // Starts tapforge (on `file`, if given) and waits for its window.
    void start(const std::optional<Script>& file = std::nullopt) {
        std::vector<std::string> args{TAPFORGE_APP_PATH};
        if (file) {
            const std::string path = (home.path() + "/script.json").toStdString();
            std::ofstream(path) << *encodeScript(*file).json;
            args.push_back(path);
        }
        app = std::make_unique<Child>(args, testDisplay());
        ASSERT_TRUE(app->started());
        const std::string found = xdotool({"search", "--sync", "--onlyvisible", "--name", "^Tapforge$"});
        window = std::stoul(found);
        std::this_thread::sleep_for(500ms);   // the hotkey monitor and the first paint
    }

    // SIGTERM, as a session logout sends; the application flushes its autosave and exits 0.
    void terminate() {
        ::kill(app->pid(), SIGTERM);
        EXPECT_EQ(app->wait(10s), 0) << app->output();
    }

    QTemporaryDir home;
    std::unique_ptr<Child> app;
    unsigned long window = 0;
};

TEST_F(ApplicationTest, F9ClicksF9RecordsExactlyThoseClicks) {
    start();
    xdotool({"key", "F9"});
    std::this_thread::sleep_for(400ms);
    xdotool({"mousemove", "1500", "900", "click", "1"});
    std::this_thread::sleep_for(300ms);
    xdotool({"mousemove", "1600", "950", "click", "3"});
    std::this_thread::sleep_for(300ms);
    xdotool({"key", "F9"});
    std::this_thread::sleep_for(300ms);
    terminate();

    const auto script = autosave();
    ASSERT_TRUE(script) << readFile(autosavePath());
    std::vector<std::string> recorded;
    for (const Step& s : script->steps)
        if (s.kind != StepKind::delay && s.kind != StepKind::comment) recorded.push_back(s.summary());
    EXPECT_EQ(recorded, (std::vector<std::string>{"左键单击 (1500, 900)", "右键单击 (1600, 950)"}));
}

TEST_F(ApplicationTest, F10PlaysTheScriptIntoAnotherWindow) {
    CountingWindow helper(testDisplay(), 1400, 800, 400, 200);
    Script script;
    Step click = Step::create(StepKind::mouseClick, GlobalPoint{1500, 900});
    script.steps = {click};
    start(script);
    xdotool({"key", "F10"});
    for (int i = 0; i < 50 && helper.buttonPresses[1] == 0; ++i) helper.pump(100ms);
    EXPECT_EQ(helper.clicks, (std::vector<CountingWindow::Click>{{true, 1, 1500, 900}, {false, 1, 1500, 900}}));
    terminate();
}

TEST_F(ApplicationTest, ASecondStartSaysSoAndExits) {
    start();
    Child second({TAPFORGE_APP_PATH}, testDisplay());
    ASSERT_TRUE(second.waitForOutput("已经在运行", 20s)) << second.output();
    const std::string box = xdotool({"search", "--sync", "--onlyvisible", "--name", "^提示$"});
    closeWindow(std::stoul(box));
    EXPECT_EQ(second.wait(10s), 1);
    terminate();   // the first one carries on until asked to quit
}

enum class Quit { closeWindow, sigterm };

class QuitTest : public ApplicationTest, public ::testing::WithParamInterface<Quit> {};

TEST_P(QuitTest, AnEditJustBeforeQuittingIsKept) {
    Script three;
    three.steps = {Step::create(StepKind::delay, {}), Step::create(StepKind::delay, {}), Step::create(StepKind::delay, {})};
    start(three);
    // The opened file reaches the autosave by itself a second later.
    ASSERT_TRUE(spinUntil([&] { return autosave() && autosave()->steps.size() == 3; }, 5000));

    xdotool({"windowfocus", "--sync", std::to_string(window)});
    xdotool({"key", "ctrl+n"});   // "新建脚本": the starter script replaces the three steps
    std::this_thread::sleep_for(300ms);
    if (GetParam() == Quit::closeWindow) {
        closeWindow(window);
        EXPECT_EQ(app->wait(10s), 0) << app->output();
    } else {
        terminate();
    }
    const auto saved = autosave();
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->steps.size(), 1u);
    EXPECT_EQ(saved->steps[0].kind, StepKind::comment);
}

INSTANTIATE_TEST_SUITE_P(Ways, QuitTest, ::testing::Values(Quit::closeWindow, Quit::sigterm),
                         [](const auto& info) { return info.param == Quit::closeWindow ? "closeWindow" : "sigterm"; });

}  // namespace
}  // namespace tapforge::testing
