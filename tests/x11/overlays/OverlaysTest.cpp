// The picking overlays and the recording panel on a private Xvfb with two monitors (the left one
// secondary, so its global x is negative), driven from outside by xdotool as the user would.

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "X11TestSupport.h"
#include "app/AppState.h"
#include "platform/x11/X11Desktop.h"
#include "ui/OverlayContext.h"
#include "ui/OverlayServices.h"
#include "ui/RecordingHUDModel.h"
#include "vision/Base64.h"
#include "vision/PngCodec.h"

#include <X11/Xlib.h>
#undef Bool
#undef None

// Qt's D-Bus session (accessibility bridge) leaves one libdbus buffer behind at exit: not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

using namespace tapforge;
using namespace tapforge::testing;
using platform::Point;
using platform::Rect;

namespace {

// One server, one QApplication and one set of overlays for the whole binary: Qt connects to
// its display once.
struct Session {
    std::unique_ptr<XvfbServer> server;
    Display* probe = nullptr;   // a client of its own: grabs, window tree, focus
    std::unique_ptr<QApplication> app;
    std::optional<platform::Desktop> desktop;
    ui::OverlayServices services;
};
Session* session = nullptr;

class OverlayEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        session = new Session;
        session->server = std::make_unique<XvfbServer>(kRootWidth, kRootHeight);
        ASSERT_TRUE(session->server->running()) << session->server->failure();
        session->probe = XOpenDisplay(session->server->display().c_str());
        ASSERT_TRUE(session->probe && defineTwoMonitors(session->probe));
        setenv("DISPLAY", session->server->display().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        static int argc = 1;
        static char name[] = "test_overlays";
        static char* argv[] = {name, nullptr};
        session->app = std::make_unique<QApplication>(argc, argv);
        std::string error;
        session->desktop = platform::x11::openX11Desktop(
            [](std::function<void()> fn) { QMetaObject::invokeMethod(qApp, std::move(fn), Qt::QueuedConnection); },
            &error);
        ASSERT_TRUE(session->desktop) << error;
        session->services = ui::makeOverlayServices(*session->desktop);
    }
    void TearDown() override {
        session->services = {};
        session->desktop.reset();
        session->app.reset();
        if (session->probe) XCloseDisplay(session->probe);
        delete session;
    }
};
[[maybe_unused]] const auto* const environment = ::testing::AddGlobalTestEnvironment(new OverlayEnvironment);

void xdotool(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), args);
    ASSERT_TRUE(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 5000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

QStringList at(Point global) {
    return {QStringLiteral("mousemove"), QString::number(global.x + kPrimaryRootX), QString::number(global.y)};
}

// Both grabs held by someone else (our overlay): the probe cannot take them.
bool inputGrabbedElsewhere() {
    Display* d = session->probe;
    const Window root = DefaultRootWindow(d);
    const int keyboard = XGrabKeyboard(d, root, False, GrabModeAsync, GrabModeAsync, CurrentTime);
    if (keyboard == GrabSuccess) XUngrabKeyboard(d, CurrentTime);
    const int pointer = XGrabPointer(d, root, False, 0, GrabModeAsync, GrabModeAsync, 0L, 0L, CurrentTime);
    if (pointer == GrabSuccess) XUngrabPointer(d, CurrentTime);
    XSync(d, False);
    return keyboard == AlreadyGrabbed && pointer == AlreadyGrabbed;
}

bool inputFree() {
    Display* d = session->probe;
    const Window root = DefaultRootWindow(d);
    const bool keyboard = XGrabKeyboard(d, root, False, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess;
    if (keyboard) XUngrabKeyboard(d, CurrentTime);
    const bool pointer = XGrabPointer(d, root, False, 0, GrabModeAsync, GrabModeAsync, 0L, 0L, CurrentTime) == GrabSuccess;
    if (pointer) XUngrabPointer(d, CurrentTime);
    XSync(d, False);
    return keyboard && pointer;
}

// Viewable override-redirect windows over the whole root: overlays.
int overlaysOnScreen() {
    Display* d = session->probe;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count);
    int overlays = 0;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable && a.override_redirect &&
            a.width == kRootWidth && a.height == kRootHeight)
            ++overlays;
    }
    if (children) XFree(children);
    return overlays;
}

// Waits until an overlay holds both grabs (so xdotool's input reaches it).
void waitForOverlay() { ASSERT_TRUE(QTest::qWaitFor(inputGrabbedElsewhere, 5000)); }

void expectNothingLeft() {
    EXPECT_TRUE(QTest::qWaitFor([] { return overlaysOnScreen() == 0; }, 2000)) << "an overlay window stayed";
    EXPECT_TRUE(QTest::qWaitFor(inputFree, 2000)) << "keyboard or pointer still grabbed";
}

platform::RgbaImage grab(const Rect& rect) {
    platform::RgbaImage image;
    EXPECT_TRUE(session->desktop->grab->grab(rect, image));
    return image;
}

// What the user sees, for a person to look at: written next to the test binary's run folder.
void screenshot(const std::string& name, const Rect& rect) {
    QTest::qWait(200);   // let the overlay repaint after the last move
    const auto png = vision::PngCodec::encode(grab(rect));
    ASSERT_TRUE(png);
    std::ofstream(std::filesystem::current_path() / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(png->data()), static_cast<std::streamsize>(png->size()));
}

const Rect kDesktop{-kPrimaryRootX, 0, kRootWidth, kRootHeight};

// The application controller over the session's desktop and overlays, with its files in a
// folder of its own.
std::shared_ptr<app::AppState> controller() {
    static QTemporaryDir folder;
    app::AppStateServices services;
    services.desktop = *session->desktop;
    services.ui.pickers = session->services.pickers;
    services.ui.recordingPanel = session->services.recordingPanel;
    services.locations = {folder.path().toStdString(), folder.filePath("Tapforge.conf").toStdString()};
    return std::make_shared<app::AppState>(std::move(services));
}

// ------------------------------------------------------------------ region

struct DragCase {
    const char* name;
    Point from, to;
    bool escape;
    std::optional<Rect> expected;
};

void PrintTo(const DragCase& c, std::ostream* os) { *os << c.name; }

class RegionDrag : public ::testing::TestWithParam<DragCase> {};

TEST_P(RegionDrag, GivesTheGlobalRectangleOrNothing) {
    const DragCase& c = GetParam();
    int calls = 0;
    std::optional<app::RegionPick> result;
    session->services.pickers->selectRegion([&](std::optional<app::RegionPick> pick) {
        ++calls;
        result = pick;
        EXPECT_TRUE(session->services.pickers->anyPickerOpen()) << "an Escape arriving now must not stop playback";
    });
    waitForOverlay();
    if (c.escape) {
        xdotool({"key", "Escape"});
    } else {
        xdotool(at(c.from) + QStringList{"mousedown", "1"} + at(c.to) + QStringList{"mouseup", "1"});
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, 5000));
    EXPECT_EQ(calls, 1);
    ASSERT_EQ(result.has_value(), c.expected.has_value());
    if (result) {
        EXPECT_EQ(result->rect.standardized(), *c.expected);
    }
    expectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(
    Overlays, RegionDrag,
    ::testing::Values(DragCase{"DownRight", {100, 100}, {300, 200}, false, Rect{100, 100, 200, 100}},
                      DragCase{"UpLeft", {300, 200}, {100, 100}, false, Rect{100, 100, 200, 100}},
                      DragCase{"LeftMonitor", {-500, 100}, {-300, 150}, false, Rect{-500, 100, 200, 50}},
                      DragCase{"ThreeByThree", {100, 100}, {103, 103}, false, std::nullopt},
                      DragCase{"FourByFour", {100, 100}, {104, 104}, false, Rect{100, 100, 4, 4}},
                      DragCase{"Escape", {}, {}, true, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Overlays, CapturedTemplateHoldsExactlyTheSelectedPixelsWhileTheLiveScreenShowsTheOverlay) {
    // Colour blocks around the region, from another client.
    CountingWindow pattern(session->server->display(), kPrimaryRootX + 50, 50, 400, 300);
    pattern.fill(0, 0, 400, 300, 0x204080);
    pattern.fill(60, 60, 100, 70, 0xE0C010);
    pattern.fill(170, 90, 90, 120, 0x10A050);
    const Rect region{100, 100, 200, 100};
    const platform::RgbaImage before = grab(region);

    auto state = controller();
    state->addStep(StepKind::imageCheck);
    const Uuid stepID = *state->selectedStepID();
    state->captureTemplate(stepID);
    waitForOverlay();
    // Other grabs (a running playback) see the live screen: the dimmed overlay, once painted.
    EXPECT_TRUE(QTest::qWaitFor([&] { return grab(region).pixels != before.pixels; }, 2000));
    xdotool(at({100, 100}) + QStringList{"mousedown", "1"} + at({300, 200}));
    screenshot("overlay-region.png", kDesktop);
    xdotool({"mouseup", "1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return state->step(stepID).imageTemplate.has_value(); }, 5000))
        << state->alertMessage().value_or("");
    const ImageTemplate t = *state->step(stepID).imageTemplate;
    EXPECT_EQ((Rect{t.originX, t.originY, t.widthPoints, t.heightPoints}), region);
    const auto png = vision::decodeBase64(t.pngBase64);
    ASSERT_TRUE(png);
    const auto image = vision::PngCodec::decode(*png);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, before.width);
    EXPECT_TRUE(image->pixels == before.pixels) << "the template is not what was on screen";
    expectNothingLeft();
}

TEST(Overlays, StartingAgainCancelsThePendingPickAndLeavesOneWindow) {
    std::vector<std::string> calls;
    session->services.pickers->selectRegion([&](auto pick) { calls.push_back(pick ? "first" : "first cancelled"); });
    waitForOverlay();
    session->services.pickers->selectRegion([&](auto pick) { calls.push_back(pick ? "second" : "second cancelled"); });
    EXPECT_EQ(calls, std::vector<std::string>{"first cancelled"});
    waitForOverlay();
    EXPECT_TRUE(QTest::qWaitFor([] { return overlaysOnScreen() == 1; }, 2000));
    xdotool({"key", "Escape"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls.size() == 2; }, 5000));
    EXPECT_EQ(calls.back(), "second cancelled");
    expectNothingLeft();
}

// ------------------------------------------------------------------ point and colour

TEST(Overlays, PointPickGivesTheClickedGlobalPointOrNothingOnEscapeAndGivesTheFocusBack) {
    QWidget mainWindow;
    mainWindow.setGeometry(kPrimaryRootX + 600, 600, 300, 200);
    mainWindow.show();
    mainWindow.activateWindow();
    auto focus = [] {
        Window w = 0;
        int revert = 0;
        XGetInputFocus(session->probe, &w, &revert);
        return w;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return focus() == mainWindow.winId(); }, 5000));

    std::vector<std::optional<Point>> picks;
    auto record = [&](std::optional<Point> p) { picks.push_back(p); };
    session->services.pickers->pickPoint(record);
    waitForOverlay();
    xdotool(at({-200, 300}));
    screenshot("overlay-point.png", kDesktop);
    xdotool({"click", "1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return picks.size() == 1; }, 5000));
    EXPECT_EQ(picks[0], (Point{-200, 300}));
    expectNothingLeft();
    // The next overlay remembers whatever has the focus when it opens: wait for it to be back.
    ASSERT_TRUE(QTest::qWaitFor([&] { return focus() == mainWindow.winId(); }, 5000));

    session->services.pickers->pickPoint(record);
    waitForOverlay();
    xdotool({"key", "Escape"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return picks.size() == 2; }, 5000));
    EXPECT_EQ(picks[1], std::nullopt);
    expectNothingLeft();
    EXPECT_TRUE(QTest::qWaitFor([&] { return focus() == mainWindow.winId(); }, 5000));
}

TEST(Overlays, ColorPickReadsTheExactRootColourOnBothMonitorsUntilEscape) {
    QProcess::execute(QStringLiteral("xsetroot"), {"-solid", "#336699"});
    ColorPoint existing;
    existing.x = 400, existing.y = 400, existing.red = 255;
    std::vector<ColorPoint> picks;
    int finished = 0;
    session->services.pickers->pickColors({existing}, [&](const ColorPoint& p) { picks.push_back(p); },
                                          [&] { ++finished; });
    waitForOverlay();
    xdotool(at({50, 60}) + QStringList{"click", "1"});
    xdotool(at({-100, 500}) + QStringList{"click", "1"});
    screenshot("overlay-color.png", kDesktop);
    ASSERT_TRUE(QTest::qWaitFor([&] { return picks.size() == 2; }, 5000));
    EXPECT_EQ(finished, 0);
    xdotool({"key", "Escape"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished == 1; }, 5000));
    const Point expected[] = {{50, 60}, {-100, 500}};
    for (size_t i = 0; i < picks.size(); ++i) {
        EXPECT_EQ((Point{picks[i].x, picks[i].y}), expected[i]);
        EXPECT_EQ((std::array<int64_t, 3>{picks[i].red, picks[i].green, picks[i].blue}),
                  (std::array<int64_t, 3>{0x33, 0x66, 0x99}));
        EXPECT_EQ(picks[i].tolerance, 10);
        EXPECT_TRUE(picks[i].enabled);
    }
    EXPECT_NE(picks[0].id, picks[1].id);
    expectNothingLeft();
}

// ------------------------------------------------------------------ Escape and playback

// The key monitor's Escape reaches the controller whichever of it and Qt's copy of the press
// comes first. Twenty Escapes into pickers never stop an endless run; one more with no picker
// open does, so the wiring under test is live.
TEST(Overlays, EscapesIntoPickersNeverStopAnEndlessPlayback) {
    auto state = controller();
    state->clearAll();
    state->addStep(StepKind::delay);
    state->setLoopCount(0);
    state->togglePlay();
    ASSERT_TRUE(QTest::qWaitFor([&] { return state->isRunning(); }, 2000)) << state->alertMessage().value_or("");

    app::Pickers& pickers = *session->services.pickers;
    for (int i = 0; i < 20; ++i) {
        bool done = false;
        switch (i % 3) {
        case 0: pickers.selectRegion([&](auto) { done = true; }); break;
        case 1: pickers.pickPoint([&](auto) { done = true; }); break;
        default: pickers.pickColors({}, [](const ColorPoint&) {}, [&] { done = true; }); break;
        }
        waitForOverlay();
        xdotool({"key", "Escape"});
        ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 5000)) << "press " << i;
        // Qt first: the monitor's copy may still be on its way, and must find a picker "open".
        EXPECT_TRUE(pickers.anyPickerOpen());
    }
    QTest::qWait(300);
    EXPECT_TRUE(state->isRunning());
    expectNothingLeft();

    ASSERT_TRUE(QTest::qWaitFor([&] { return !pickers.anyPickerOpen(); }, ui::OverlayContext::kEscapeGraceMs + 500));
    xdotool({"key", "Escape"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !state->isRunning(); }, 5000));
}

// ------------------------------------------------------------------ recording panel

TEST(RecordingPanel, StaysOutOfTheFocusAndItsStopButtonCallsTheOwner) {
    CountingWindow helper(session->server->display(), 0, 0, 300, 300);   // focuses itself
    Window focused = 0;
    int revert = 0;
    XGetInputFocus(helper.display(), &focused, &revert);

    app::RecordingPanel& panel = *session->services.recordingPanel;
    int stops = 0;
    panel.show({3, true, "F9"}, [&] { ++stops; });
    QTest::qWait(300);
    // Centred on the primary monitor, 24 points from its top.
    EXPECT_EQ(panel.frameInGlobalPoints(), (Rect{(1920 - 460) / 2, 24, 460, 56}));
    screenshot("recording-panel.png", *panel.frameInGlobalPoints());
    // The stop button sits at the right end.
    xdotool(at({(1920 + 460) / 2 - 50, 24 + 28}) + QStringList{"click", "1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return stops == 1; }, 5000));
    Window now = 0;
    XGetInputFocus(helper.display(), &now, &revert);
    EXPECT_EQ(now, focused) << "the panel took the keyboard focus";
    panel.hide();
    EXPECT_EQ(panel.frameInGlobalPoints(), std::nullopt);
}

TEST(RecordingPanel, ElapsedTimeHasUncappedMinutes) {
    const std::pair<int64_t, const char*> cases[] = {{0, "00:00"}, {59, "00:59"}, {125, "02:05"}, {6000, "100:00"}};
    for (const auto& [seconds, text] : cases) EXPECT_EQ(ui::RecordingHUDModel::formatElapsed(seconds).toStdString(), text);
}

}  // namespace
