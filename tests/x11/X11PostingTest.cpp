// Input posted through the backend, checked from the server's side.

#include <thread>

#include "X11TestSupport.h"
#include <X11/Xlib.h>
#include <X11/keysym.h>
// Xlib macros that clash with GoogleTest names.
#undef Bool
#undef None

using namespace tapforge;
using namespace tapforge::platform;
using namespace tapforge::testing;

namespace {

Point queryPointer(Display* d) {
    Window root, child;
    int rootX = 0, rootY = 0, winX, winY;
    unsigned mask;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rootX, &rootY, &winX, &winY, &mask);
    return Point{static_cast<double>(rootX), static_cast<double>(rootY)};
}

// Keycodes currently held, as the server sees them.
std::vector<int> keysHeld(Display* d) {
    char keys[32] = {};
    XQueryKeymap(d, keys);
    std::vector<int> held;
    for (int kc = 0; kc < 256; ++kc)
        if ((keys[kc / 8] >> (kc % 8)) & 1) held.push_back(kc);
    return held;
}

}  // namespace

class X11Posting : public X11Test {};

TEST_F(X11Posting, MovesLandAtGlobalPointsRelativeToThePrimaryMonitor) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    ASSERT_TRUE(desktop->events->postMove({100, 200}));
    window.pump();
    EXPECT_EQ(queryPointer(window.display()), (Point{100.0 + originX(), 200}));
    EXPECT_EQ(desktop->events->pointerLocation(), (Point{100, 200}));
    // A point left of the primary is on the secondary monitor, at negative global x.
    if (twoMonitors) {
        ASSERT_TRUE(desktop->events->postMove({-1000, 5}));
        window.pump();
        EXPECT_EQ(queryPointer(window.display()), (Point{280, 5}));
        EXPECT_EQ(desktop->events->pointerLocation(), (Point{-1000, 5}));
    }
    EXPECT_GE(window.motions, 1);
}

TEST_F(X11Posting, ButtonsArriveAsPressesAndReleasesAtTheirPoint) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    EventSink& sink = *desktop->events;
    for (auto [button, number] : {std::pair{PointerButton::left, 1}, {PointerButton::center, 2}, {PointerButton::right, 3}}) {
        SCOPED_TRACE(number);
        ASSERT_TRUE(sink.postButton(button, Press::down, {50, 60}, 0, 1));
        ASSERT_TRUE(sink.postButton(button, Press::up, {50, 60}, 0, 1));
        window.pump();
        EXPECT_EQ(window.buttonPresses[number], 1);
        EXPECT_EQ(window.buttonReleases[number], 1);
    }
    EXPECT_EQ(queryPointer(window.display()), (Point{50.0 + originX(), 60}));
    EXPECT_TRUE(keysHeld(window.display()).empty());
}

// X has no per-event flags: the missing modifiers are held around the click and let go after.
TEST_F(X11Posting, ClickFlagsHoldTheModifierKeysAroundTheButton) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    ASSERT_TRUE(desktop->events->postButton(PointerButton::left, Press::down, {10, 10}, kFlagShift | kFlagControl, 1));
    ASSERT_TRUE(desktop->events->postButton(PointerButton::left, Press::up, {10, 10}, kFlagShift | kFlagControl, 1));
    window.pump();
    ASSERT_EQ(window.buttonPresses[1], 1);
    EXPECT_EQ(window.lastButtonState & (ShiftMask | ControlMask | Mod1Mask | Mod4Mask), unsigned{ShiftMask | ControlMask});
    EXPECT_TRUE(keysHeld(window.display()).empty()) << "a modifier was left down";
    // Command maps to Super (Mod4), option to Alt (Mod1).
    ASSERT_TRUE(desktop->events->postButton(PointerButton::right, Press::down, {10, 10}, kFlagCommand | kFlagOption, 1));
    ASSERT_TRUE(desktop->events->postButton(PointerButton::right, Press::up, {10, 10}, 0, 1));
    window.pump();
    EXPECT_EQ(window.lastButtonState & (ShiftMask | ControlMask | Mod1Mask | Mod4Mask), unsigned{Mod1Mask | Mod4Mask});
    EXPECT_TRUE(keysHeld(window.display()).empty());
}

TEST_F(X11Posting, ScrollIsOneWheelPressAndReleasePerLineAfterMovingThere) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    ASSERT_TRUE(desktop->events->postScroll(3, {300, 400}));
    ASSERT_TRUE(desktop->events->postScroll(-2, {300, 400}));
    ASSERT_TRUE(desktop->events->postScroll(0, {300, 400}));
    window.pump();
    EXPECT_EQ(window.buttonPresses[4], 3);
    EXPECT_EQ(window.buttonReleases[4], 3);
    EXPECT_EQ(window.buttonPresses[5], 2);
    EXPECT_EQ(window.buttonReleases[5], 2);
    EXPECT_EQ(queryPointer(window.display()), (Point{300.0 + originX(), 400}));
}

TEST_F(X11Posting, KeySequencesReachTheFocusedWindowAndLeaveNothingHeld) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    EventSink& sink = *desktop->events;
    // Command-Shift-S as the player posts it, then a plain Return.
    ASSERT_TRUE(sink.postKey(56, Press::down, kFlagShift));
    ASSERT_TRUE(sink.postKey(55, Press::down, kFlagShift | kFlagCommand));
    ASSERT_TRUE(sink.postKey(1, Press::down, kFlagShift | kFlagCommand));
    ASSERT_TRUE(sink.postKey(1, Press::up, kFlagShift | kFlagCommand));
    ASSERT_TRUE(sink.postKey(55, Press::up, kFlagShift));
    ASSERT_TRUE(sink.postKey(56, Press::up, 0));
    window.pump();
    EXPECT_EQ(window.keyPresses, 3);
    EXPECT_EQ(window.keyReleases, 3);
    ASSERT_TRUE(sink.postKey(36, Press::down, 0));
    ASSERT_TRUE(sink.postKey(36, Press::up, 0));
    window.pump();
    EXPECT_EQ(window.lastKeycode, XKeysymToKeycode(window.display(), XK_Return));
    EXPECT_TRUE(keysHeld(window.display()).empty());
}

TEST_F(X11Posting, KeyFlagsWithoutHeldModifiersAreHeldAroundTheKey) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    ASSERT_TRUE(desktop->events->postKey(0, Press::down, kFlagControl));
    window.pump();
    EXPECT_EQ(window.keyPresses, 2);   // Control_L, then a
    EXPECT_EQ(window.keyReleases, 1);  // Control_L after it
    ASSERT_TRUE(desktop->events->postKey(0, Press::up, 0));
    window.pump();
    EXPECT_EQ(window.lastKeycode, XKeysymToKeycode(window.display(), XK_a));
    EXPECT_EQ(window.lastKeyState & ControlMask, unsigned{ControlMask});
    EXPECT_TRUE(keysHeld(window.display()).empty());
}

TEST_F(X11Posting, KeysWithoutAnXCounterpartFail) {
    EXPECT_FALSE(desktop->events->postKey(63, Press::down, 0));     // Fn
    EXPECT_FALSE(desktop->events->postKey(54, Press::down, 0));     // unnamed code
    EXPECT_FALSE(desktop->events->postKey(60000, Press::down, 0));
}
