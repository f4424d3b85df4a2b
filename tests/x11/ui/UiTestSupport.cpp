#include "UiTestSupport.h"

#include <QApplication>
#include <QTest>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "model/ScriptJson.h"
#include "ui/Fonts.h"
#include "ui/Icons.h"
#include "x11/X11TestSupport.h"

namespace tapforge::testing {

namespace {
std::string gDisplay;
}

const std::string& testDisplay() { return gDisplay; }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WindowTest::SetUp() {
    ASSERT_TRUE(folder.isValid());
    sim = platform::sim::SimDesktop::create();
    sim->addScreen({0, 0, 1920, 1080}, 1.0, {255, 255, 255, 255});
    timers = std::make_shared<app::test::FakeTimers>();
    app::AppLocations locations;
    locations.appFolder = (folder.path() + "/app").toStdString();
    locations.settingsFile = (folder.path() + "/config/Tapforge.conf").toStdString();
    panels = std::make_shared<app::test::FakePanels>();
    app::UiServices services;
    services.filePanels = panels;
    state = std::make_unique<app::AppState>(app::AppStateServices{sim->desktop(), services, locations, timers, {}});
    window = std::make_unique<ui::MainWindow>(*state, ui::SessionIdentity{});
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
}

void WindowTest::TearDown() {
    window.reset();
    state.reset();
}

void WindowTest::load(const Script& script) {
    const std::string path = (folder.path() + "/load.json").toStdString();
    std::ofstream(path, std::ios::binary) << *encodeScript(script).json;
    // Through "打开脚本…", with a panel that answers at once.
    panels->answers.push_back(path);
    state->openScript();
    ASSERT_TRUE(spinUntil([&] { return !state->isOpening(); }));
    ASSERT_FALSE(state->alertMessage()) << *state->alertMessage();
}

}  // namespace tapforge::testing

// The whole binary shares one private X server; listing the tests needs none.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    tapforge::testing::XvfbServer server(1920, 1080);
    if (!server.running()) {
        std::fprintf(stderr, "%s\n", server.failure().c_str());
        return 1;
    }
    tapforge::testing::gDisplay = server.display();
    setenv("DISPLAY", server.display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QTemporaryDir home;
    setenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8().constData(), 1);
    setenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8().constData(), 1);
    QApplication application(argc, argv);
    tapforge::ui::ensureChineseFont();
    tapforge::ui::setUpIconTheme();
    return RUN_ALL_TESTS();
}

// As in the application: what system libraries loaded by Qt keep until exit is not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\nleak:libfontconfig.so\n";
}
