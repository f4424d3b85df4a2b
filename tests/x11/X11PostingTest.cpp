// Input posted through the backend, checked from the server's side.
#include "X11TestSupport.h"
#include <X11/Xlib.h>
#include <X11/keysym.h>
#undef Bool
#undef None

using namespace tapforge;
using namespace tapforge::platform;
using namespace tapforge::testing;

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

// X has no per-event flags: the missing modifiers are held around the click and let go after.
TEST_F(X11Posting, ButtonsArriveAtTheirPointWithFlagsHeldAroundThem) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    EventSink& sink = *desktop->events;
    const unsigned mods = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;
    struct Case {
        PointerButton button;
        int number;
        EventFlags flags;
        unsigned state;
    };
    for (const Case& c : {Case{PointerButton::left, 1, kFlagShift | kFlagControl, ShiftMask | ControlMask},
                          Case{PointerButton::center, 2, 0, 0},
                          Case{PointerButton::right, 3, kFlagCommand | kFlagOption, Mod1Mask | Mod4Mask}}) {
        SCOPED_TRACE(c.number);
        ASSERT_TRUE(sink.postButton(c.button, Press::down, {50, 60}, c.flags, 1));
        ASSERT_TRUE(sink.postButton(c.button, Press::up, {50, 60}, 0, 1));
        window.pump();
        EXPECT_EQ(window.buttonPresses[c.number], 1);
        EXPECT_EQ(window.buttonReleases[c.number], 1);
        EXPECT_EQ(window.lastButtonState & mods, c.state);
        EXPECT_TRUE(keysHeld(window.display()).empty()) << "a modifier was left down";
    }
    EXPECT_EQ(queryPointer(window.display()), (Point{50.0 + originX(), 60}));
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

TEST_F(X11Posting, KeysArriveWithFlagsHeldAroundThemAndLeaveNothingHeld) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    EventSink& sink = *desktop->events;
    // Command-Shift-S as the player posts it: modifiers already down are not pressed again.
    ASSERT_TRUE(sink.postKey(56, Press::down, kFlagShift));
    ASSERT_TRUE(sink.postKey(55, Press::down, kFlagShift | kFlagCommand));
    ASSERT_TRUE(sink.postKey(1, Press::down, kFlagShift | kFlagCommand));
    ASSERT_TRUE(sink.postKey(1, Press::up, kFlagShift | kFlagCommand));
    ASSERT_TRUE(sink.postKey(55, Press::up, kFlagShift));
    ASSERT_TRUE(sink.postKey(56, Press::up, 0));
    window.pump();
    EXPECT_EQ(window.keyPresses, 3);
    EXPECT_EQ(window.keyReleases, 3);
    // Control as a flag alone is held around the key.
    ASSERT_TRUE(sink.postKey(0, Press::down, kFlagControl));
    window.pump();
    EXPECT_EQ(window.keyPresses, 5);   // Control_L, then a
    EXPECT_EQ(window.keyReleases, 4);  // Control_L after it
    ASSERT_TRUE(sink.postKey(0, Press::up, 0));
    window.pump();
    EXPECT_EQ(window.lastKeycode, XKeysymToKeycode(window.display(), XK_a));
    EXPECT_EQ(window.lastKeyState & ControlMask, unsigned{ControlMask});
    EXPECT_TRUE(keysHeld(window.display()).empty());
    EXPECT_FALSE(sink.postKey(63, Press::down, 0));     // Fn has no X counterpart
    EXPECT_FALSE(sink.postKey(60000, Press::down, 0));
}
