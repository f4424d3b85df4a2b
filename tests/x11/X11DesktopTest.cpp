// The backend against the private server: posted input as the server sees it, typed text as
// another client's window reads it under any layout and locks, screens, grabs and permissions.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <atomic>

#include "X11TestSupport.h"
#include "input/InputPlayer.h"
#include "platform/x11/X11Desktop.h"

using namespace tapforge::platform;
using namespace tapforge::testing;

using X11Posting = X11Test;

// Points are global (the secondary at negative x); X has no per-event flags, so the missing
// modifiers are held around a click.
TEST_F(X11Posting, PointerInputLandsAtGlobalPointsWithFlagsHeldAroundIt) {
    CountingWindow window(server->display());
    Display* d = window.display();
    EventSink& sink = *desktop->events;
    ASSERT_TRUE(sink.postMove({100, 200}));
    window.pump();
    EXPECT_EQ(queryPointer(d), (Point{100.0 + originX(), 200}));
    EXPECT_EQ(sink.pointerLocation(), (Point{100, 200}));
    if (twoMonitors) {
        ASSERT_TRUE(sink.postMove({-1000, 5}));
        window.pump();
        EXPECT_EQ(queryPointer(d), (Point{280, 5}));
        EXPECT_EQ(sink.pointerLocation(), (Point{-1000, 5}));
    }
    const unsigned mods = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;
    using Case = std::tuple<PointerButton, int, EventFlags, unsigned>;   // button, X number, flags, X state
    for (auto [button, number, flags, state] : {Case{PointerButton::left, 1, kFlagShift | kFlagControl, ShiftMask | ControlMask},
                                                Case{PointerButton::center, 2, 0, 0},
                                                Case{PointerButton::right, 3, kFlagCommand | kFlagOption, Mod1Mask | Mod4Mask}}) {
        SCOPED_TRACE(number);
        ASSERT_TRUE(sink.postButton(button, Press::down, {50, 60}, flags, 1));
        ASSERT_TRUE(sink.postButton(button, Press::up, {50, 60}, 0, 1));
        window.pump();
        EXPECT_EQ(std::pair(window.buttonPresses[number], window.buttonReleases[number]), std::pair(1, 1));
        EXPECT_EQ(window.lastButtonState & mods, state);
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
    const EventFlags both = kFlagShift | kFlagCommand;
    for (auto [code, press, flags] : {std::tuple<uint16_t, Press, EventFlags>{56, Press::down, kFlagShift}, {55, Press::down, both},
                                      {1, Press::down, both}, {1, Press::up, both}, {55, Press::up, kFlagShift}, {56, Press::up, 0}})
        ASSERT_TRUE(sink.postKey(code, press, flags));
    window.pump();
    EXPECT_EQ(std::pair(window.keyPresses, window.keyReleases), std::pair(3, 3));
    // Control as a flag alone is held around the key: Control_L, then a, then Control_L let go.
    ASSERT_TRUE(sink.postKey(0, Press::down, kFlagControl));
    window.pump();
    EXPECT_EQ(std::pair(window.keyPresses, window.keyReleases), std::pair(5, 4));
    ASSERT_TRUE(sink.postKey(0, Press::up, 0));
    window.pump();
    EXPECT_EQ(window.lastKeycode, XKeysymToKeycode(window.display(), XK_a));
    EXPECT_EQ(window.lastKeyState & ControlMask, unsigned{ControlMask});
    EXPECT_TRUE(keysHeld(window.display()).empty());
    EXPECT_FALSE(sink.postKey(63, Press::down, 0));   // Fn has no X counterpart
    EXPECT_FALSE(sink.postKey(60000, Press::down, 0));
}

using X11Screens = X11Test;

TEST_F(X11Screens, PrimaryComesFirstAtOriginFramesUseTheBottomLeftConventionAndAccessIsGranted) {
    ASSERT_TRUE(twoMonitors) << "RandR 1.5 monitors could not be defined on Xvfb";
    const auto list = desktop->screens->screens();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].frame, (Rect{0, 0, 1920, 1080}));
    // The secondary's top is at global y 0, so its bottom-left y is 1080 - 0 - 1024 = 56.
    EXPECT_EQ(list[1].frame, (Rect{-1280, 56, 1280, 1024}));
    EXPECT_EQ(desktop->screens->mainDisplayBounds(), (Rect{0, 0, 1920, 1080}));
    EXPECT_TRUE(desktop->permissions->inputTrusted(Prompt::yes));
    EXPECT_TRUE(desktop->permissions->screenCapturePreflight());
}

class X11Grab : public X11Test, public ::testing::WithParamInterface<bool> {};

TEST_P(X11Grab, FilledRegionComesBackInItsColourAndOutsideTheRootIsBlack) {
    auto grabber = x11::openX11Desktop(loop.poster(), nullptr, {.display = server->display(), .useSharedMemory = GetParam()});
    ASSERT_TRUE(grabber);
    CountingWindow window(server->display());
    window.fill(originX() + 100, 200, 24, 24, 0x336699);
    window.fill(originX() + 124, 200, 24, 24, 0xFF0000);

    RgbaImage out;
    ASSERT_TRUE(grabber->grab->grab({100, 200, 48, 24}, out));
    ASSERT_EQ(std::pair(out.width, out.height), std::pair(48, 24));
    for (int y : {0, 23})
        for (int x : {0, 23}) EXPECT_EQ(rgbaAt(out, x, y), (std::array{0x33, 0x66, 0x99, 255}));
    EXPECT_EQ(rgbaAt(out, 30, 10), (std::array{255, 0, 0, 255}));

    // Half above the root: the missing rows are opaque black.
    const uint8_t* reused = out.pixels.data();
    ASSERT_TRUE(grabber->grab->grab({100, 190, 10, 20}, out));
    EXPECT_EQ(out.pixels.data(), reused) << "the buffer should be reused when large enough";
    ASSERT_EQ(out.height, 20);
    EXPECT_EQ(rgbaAt(out, 0, 0), (std::array{0, 0, 0, 255}));
    EXPECT_EQ(rgbaAt(out, 0, 15), (std::array{0x33, 0x66, 0x99, 255}));
    EXPECT_FALSE(grabber->grab->grab({100000, 0, 10, 10}, out));
    EXPECT_FALSE(grabber->grab->grab({0, 0, 0, 10}, out));
    ASSERT_TRUE(grabber->grab->grab(grabber->screens->mainDisplayBounds(), out));
    EXPECT_EQ(out.width, twoMonitors ? 1920 : kRootWidth);
}

INSTANTIATE_TEST_SUITE_P(SharedMemory, X11Grab, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Shm" : "GetImage"; });

TEST(X11Open, MissingDisplayIsAnErrorNotACrash) {
    std::string error;
    EXPECT_FALSE(x11::openX11Desktop(nullptr, &error, {.display = ":9999"}));
    EXPECT_NE(error.find("9999"), std::string::npos) << error;
}

using X11Typing = X11Test;

// Printable ASCII; on plain US also characters no key has, through a borrowed key given back after.
// The window reads while another thread types, as a live application does (a key bound for the
// moment is looked up when its event is handled).
TEST_F(X11Typing, TextArrivesAsWrittenUnderAnyLayoutAndLockState) {
    std::string ascii;
    for (char c = 0x20; c < 0x7F; ++c) ascii += c;
    ascii += "\n\t";
    using Case = std::tuple<const char*, bool, bool>;   // layout, Caps Lock, Num Lock
    for (auto [layout, capsLock, numLock] : {Case{"us", false, false}, Case{"us", true, true}, Case{"de", false, false},
                                             Case{"de", true, true}, Case{"fr", true, false}}) {
        SCOPED_TRACE(std::string(layout) + (capsLock ? " Caps Lock" : "") + (numLock ? " Num Lock" : ""));
        const std::string command = "setxkbmap -display " + server->display() + " " + layout;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        CountingWindow window(server->display());
        Display* d = window.display();
        ASSERT_NE(d, nullptr);
        const unsigned numLockMask = XkbKeysymToModifiers(d, XK_Num_Lock);
        const unsigned locks = (capsLock ? LockMask : 0) | (numLock ? numLockMask : 0);
        XkbLockModifiers(d, XkbUseCoreKbd, LockMask | numLockMask, locks);
        XSync(d, False);
        int minKeycode = 0, maxKeycode = 0, perKeycode = 0;
        XDisplayKeycodes(d, &minKeycode, &maxKeycode);
        auto mapping = [&] {
            KeySym* syms = XGetKeyboardMapping(d, KeyCode(minKeycode), maxKeycode - minKeycode + 1, &perKeycode);
            std::vector<KeySym> copy(syms, syms + (maxKeycode - minKeycode + 1) * perKeycode);
            XFree(syms);
            return copy;
        };
        const std::vector<KeySym> before = mapping();
        const std::string text = capsLock || layout != std::string("us") ? ascii : ascii + "你好，世界！Grüße – 3 € 😀";
        std::atomic<bool> done{false};
        std::thread typist([&] { tapforge::InputPlayer(desktop->events, desktop->clock).typeText(text), done = true; });
        while (!done) window.pump(20ms);
        typist.join();
        window.pump(300ms);
        EXPECT_EQ(window.typed, text);
        EXPECT_TRUE(keysHeld(d).empty());
        EXPECT_EQ(mapping(), before);
        XkbStateRec state{};
        XkbGetState(d, XkbUseCoreKbd, &state);
        EXPECT_EQ(state.locked_mods, locks) << "the locks are back as they were";
    }
}
