// Input posted through the backend, checked from the server's side.
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include "X11TestSupport.h"

using namespace tapforge::platform;
using namespace tapforge::testing;

using X11Posting = X11Test;

// Points are global, relative to the primary monitor (left of it is the secondary, at negative
// x). X has no per-event flags: the missing modifiers are held around a click and let go after.
TEST_F(X11Posting, PointerInputLandsAtGlobalPointsWithFlagsHeldAroundIt) {
    CountingWindow window(server->display());
    Display* d = window.display();
    EventSink& sink = *desktop->events;
    ASSERT_TRUE(sink.postMove({100, 200}));
    window.pump();
    EXPECT_EQ(queryPointer(d), (Point{100.0 + originX(), 200}));
    EXPECT_EQ(sink.pointerLocation(), (Point{100, 200}));
    EXPECT_GE(window.motions, 1);
    if (twoMonitors) {
        ASSERT_TRUE(sink.postMove({-1000, 5}));
        window.pump();
        EXPECT_EQ(queryPointer(d), (Point{280, 5}));
        EXPECT_EQ(sink.pointerLocation(), (Point{-1000, 5}));
    }
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
        EXPECT_TRUE(keysHeld(d).empty()) << "a modifier was left down";
    }
    EXPECT_EQ(queryPointer(d), (Point{50.0 + originX(), 60}));
    // A scroll moves there, then is one wheel press and release per line.
    for (int lines : {3, -2, 0}) ASSERT_TRUE(sink.postScroll(lines, {300, 400}));
    window.pump();
    EXPECT_EQ((std::array{window.buttonPresses[4], window.buttonReleases[4], window.buttonPresses[5],
                          window.buttonReleases[5]}),
              (std::array{3, 3, 2, 2}));
    EXPECT_EQ(queryPointer(d), (Point{300.0 + originX(), 400}));
}

TEST_F(X11Posting, KeysArriveWithFlagsHeldAroundThemAndLeaveNothingHeld) {
    CountingWindow window(server->display());
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
    // Control as a flag alone is held around the key: Control_L, then a, then Control_L let go.
    ASSERT_TRUE(sink.postKey(0, Press::down, kFlagControl));
    window.pump();
    EXPECT_EQ(window.keyPresses, 5);
    EXPECT_EQ(window.keyReleases, 4);
    ASSERT_TRUE(sink.postKey(0, Press::up, 0));
    window.pump();
    EXPECT_EQ(window.lastKeycode, XKeysymToKeycode(window.display(), XK_a));
    EXPECT_EQ(window.lastKeyState & ControlMask, unsigned{ControlMask});
    EXPECT_TRUE(keysHeld(window.display()).empty());
    EXPECT_FALSE(sink.postKey(63, Press::down, 0));   // Fn has no X counterpart
    EXPECT_FALSE(sink.postKey(60000, Press::down, 0));
}
