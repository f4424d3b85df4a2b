// The backend against the private server: posted input, typed text under any layout and locks,
// screens, grabs, the recording tap and key monitor, and a lost server.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>

#include "X11TestSupport.h"
#include "input/InputPlayer.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11KeyTable.h"

using namespace tapforge::platform;
using namespace tapforge::testing;
using enum TapEventType;

using X11Posting = X11Test;

// Points are global (the secondary at negative x); X has no per-event flags, so the missing
// modifiers are held around a click.
TEST_F(X11Posting, PointerInputLandsAtGlobalPointsWithFlagsHeldAroundIt) {
    CountingWindow window(server->display());
    EventSink& sink = *desktop->events;
    for (const Point p : {Point{100, 200}, Point{-1000, 5}}) {
        if (p.x < 0 && !twoMonitors) continue;
        ASSERT_TRUE(sink.postMove(p));
        window.pump();
        EXPECT_EQ(queryPointer(window.display()), (Point{p.x + originX(), p.y}));
        EXPECT_EQ(sink.pointerLocation(), p);
    }
    using Case = std::tuple<PointerButton, EventFlags, const char*>;
    using enum PointerButton;
    for (auto [button, flags, input] :
         {Case{left, kFlagShift | kFlagControl, "+Control_L +Shift_L +1 -Shift_L -Control_L -1"},
          Case{center, 0, "+2 -2"},
          Case{right, kFlagCommand | kFlagOption, "+Alt_L +Super_L +3 -Super_L -Alt_L -3"}}) {
        window.input.clear();
        ASSERT_TRUE(sink.postButton(button, Press::down, {50, 60}, flags, 1));
        ASSERT_TRUE(sink.postButton(button, Press::up, {50, 60}, 0, 1));
        window.pump();
        EXPECT_EQ(window.input, input);
    }
    EXPECT_EQ(queryPointer(window.display()), (Point{50.0 + originX(), 60}));
    // A scroll moves there, then is one wheel press and release per line.
    window.input.clear();
    for (int lines : {3, -2, 0}) ASSERT_TRUE(sink.postScroll(lines, {300, 400}));
    window.pump();
    EXPECT_EQ(window.input, "+4 -4 +4 -4 +4 -4 +5 -5 +5 -5");
    EXPECT_EQ(queryPointer(window.display()), (Point{300.0 + originX(), 400}));
    EXPECT_TRUE(nothingHeld(window.display()));
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
    const x11::X11Options options{.display = server->display(), .useSharedMemory = GetParam()};
    auto grabber = x11::openX11Desktop(loop.poster(), nullptr, options);
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
// The window reads while another thread types: a borrowed key is looked up when its event is handled.
TEST_F(X11Typing, TextArrivesAsWrittenUnderAnyLayoutAndLockState) {
    std::string ascii;
    for (char c = 0x20; c < 0x7F; ++c) ascii += c;
    ascii += "\n\t";
    for (const std::string keyboard : {"us", "us caps num", "de", "de caps num", "fr caps"}) {
        SCOPED_TRACE(keyboard);
        const bool capsLock = keyboard.find("caps") != std::string::npos;
        const bool numLock = keyboard.find("num") != std::string::npos;
        const std::string command = "setxkbmap -display " + server->display() + " " + keyboard.substr(0, 2);
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
            const int count = maxKeycode - minKeycode + 1;
            KeySym* syms = XGetKeyboardMapping(d, KeyCode(minKeycode), count, &perKeycode);
            std::vector<KeySym> copy(syms, syms + count * perKeycode);
            XFree(syms);
            return copy;
        };
        const std::vector<KeySym> before = mapping();
        const std::string text = keyboard == "us" ? ascii + "你好，世界！Grüße – 3 € 😀" : ascii;
        std::atomic<bool> done{false};
        std::thread typist([&] {
            tapforge::InputPlayer(desktop->events, desktop->clock).typeText(text), done = true;
        });
        while (!done) window.pump(20ms);
        typist.join();
        window.pump(300ms);
        EXPECT_EQ(window.typed, text);
        EXPECT_TRUE(nothingHeld(d));
        EXPECT_EQ(mapping(), before);
        XkbStateRec state{};
        XkbGetState(d, XkbUseCoreKbd, &state);
        EXPECT_EQ(state.locked_mods, locks) << "the locks are back as they were";
    }
}

class X11Tap : public X11Test {
protected:
    void SetUp() override {
        X11Test::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(desktop->tap->start([this](const TapEvent& e) { events.push_back(e); }));
    }
    bool startMonitor() {
        return desktop->keyMonitor->start([this](const KeyDown& k) { keys.push_back(k); });
    }

    std::vector<TapEvent> events;
    std::vector<KeyDown> keys;
};

// Each table key comes back from another client as its code and, posted, reaches a window
// unless the keymap lacks it (F19). Num Lock goes twice to keep the keypad's state.
TEST_F(X11Tap, EveryTableKeyRoundTripsThroughTheLiveMapping) {
    Display* d = other->display();
    auto times = [](const x11::VirtualKeysym& entry) { return entry.keysym == XK_Num_Lock ? 2 : 1; };
    std::vector<uint16_t> expected, missing;
    for (const auto& entry : x11::virtualKeysyms()) {
        KeyCode kc = XKeysymToKeycode(d, *x11::keysymForVirtualCode(entry.keyCode));
        for (const auto& synonym : x11::synonymKeysyms())
            if (!kc && synonym.keyCode == entry.keyCode) kc = XKeysymToKeycode(d, synonym.keysym);
        if (!kc) missing.push_back(entry.keyCode);
        for (int i = 0; kc && i < times(entry); ++i) {
            XTestFakeKeyEvent(d, kc, True, CurrentTime), XTestFakeKeyEvent(d, kc, False, CurrentTime);
            const bool modifier = x11::isModifierKeysym(uint32_t(XkbKeycodeToKeysym(d, kc, 0, 0)));
            if (!modifier) expected.push_back(entry.keyCode);
        }
    }
    XSync(d, False);
    EXPECT_LE(missing.size(), 1u) << "the default keymap should lack at most F19";
    std::vector<uint16_t> keyDowns;
    runUntil([&] {
        keyDowns.clear();
        for (const TapEvent& e : events)
            if (e.type == keyDown) keyDowns.push_back(e.keyCode);
        return keyDowns.size() >= expected.size();
    });
    EXPECT_EQ(keyDowns, expected);

    CountingWindow window(server->display());
    int posted = 0;
    for (const auto& entry : x11::virtualKeysyms()) {
        SCOPED_TRACE(entry.keyCode);
        const bool onKeyboard = std::ranges::find(missing, entry.keyCode) == missing.end();
        for (int i = 0; i < times(entry); ++i, posted += onKeyboard) {
            EXPECT_EQ(desktop->events->postKey(entry.keyCode, Press::down, 0), onKeyboard);
            EXPECT_EQ(desktop->events->postKey(entry.keyCode, Press::up, 0), onKeyboard);
        }
    }
    window.pump();
    EXPECT_EQ(std::pair(std::ranges::count(window.input, '+'), std::ranges::count(window.input, '-')),
              std::pair(std::ptrdiff_t{posted}, std::ptrdiff_t{posted}));

    desktop->tap->stop();
    EXPECT_FALSE(desktop->tap->isRunning());
    events.clear();
    other->click(1);
    runFor(200ms);
    EXPECT_TRUE(events.empty()) << "nothing after stop";
}

// Other programs' keys come with their modifiers as flags; ours (F10, Shift-s, a Command-click) do not.
TEST_F(X11Tap, KeyMonitorReportsOtherClientsKeysNotOurs) {
    ASSERT_TRUE(startMonitor());
    other->key(XK_F9);
    ASSERT_TRUE(runUntil([&] { return keys.size() >= 1; }));
    EventSink& sink = *desktop->events;
    using Post = std::tuple<uint16_t, Press, EventFlags>;
    using enum Press;
    for (auto [code, press, flags] : {Post{109, down, 0}, Post{109, up, 0}, Post{56, down, kFlagShift},
                                      Post{1, down, kFlagShift}, Post{1, up, kFlagShift}, Post{56, up, 0}})
        ASSERT_TRUE(sink.postKey(code, press, flags));
    ASSERT_TRUE(sink.postButton(PointerButton::left, Press::down, {5, 5}, kFlagCommand, 1));
    ASSERT_TRUE(sink.postButton(PointerButton::left, Press::up, {5, 5}, kFlagCommand, 1));
    other->key(XK_F10), other->press(XK_Control_L, true), other->press(XK_Super_L, true);
    other->key(XK_Escape), other->press(XK_Super_L, false), other->press(XK_Control_L, false);
    ASSERT_TRUE(runUntil([&] { return keys.size() >= 3; }));
    runFor(200ms);
    using Seen = std::tuple<uint16_t, EventFlags, bool>;
    std::vector<Seen> seen;
    for (const KeyDown& k : keys) seen.emplace_back(k.keyCode, k.flags, k.synthetic);
    EXPECT_EQ(seen, (std::vector<Seen>{{101, 0, false}, {109, 0, false},
                                       {53, kFlagControl | kFlagCommand, false}}));

    desktop->keyMonitor->stop();
    other->key(XK_F9);
    runFor(150ms);
    EXPECT_EQ(keys.size(), 3u) << "nothing after stop";
}

// A killed server leaves this process running, every call failing quickly.
TEST_F(X11Tap, LostServerMakesEveryCallFailWithoutEndingTheProcess) {
    ASSERT_TRUE(startMonitor());
    RgbaImage image;
    ASSERT_TRUE(desktop->grab->grab({0, 0, 10, 10}, image));
    other.reset();
    server->kill();
    ASSERT_TRUE(runUntil([&] {
        return std::ranges::any_of(events, [](const TapEvent& e) { return e.type == tapDisabledByTimeout; });
    })) << "the tap did not report that it stopped";
    EXPECT_FALSE(desktop->tap->isRunning());
    runFor(200ms);   // the key monitor's thread sees the loss too

    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(desktop->events->postMove({1, 1}));
    EXPECT_FALSE(desktop->events->postButton(PointerButton::left, Press::down, {1, 1}, kFlagShift, 1));
    EXPECT_FALSE(desktop->events->postKey(0, Press::down, 0));
    EXPECT_FALSE(desktop->events->postScroll(1, {1, 1}));
    EXPECT_EQ(desktop->events->pointerLocation(), std::nullopt);
    EXPECT_FALSE(desktop->grab->grab({0, 0, 10, 10}, image));
    EXPECT_TRUE(desktop->screens->screens().empty());
    EXPECT_FALSE(desktop->permissions->inputTrusted(Prompt::no));
    EXPECT_FALSE(desktop->permissions->screenCapturePreflight());
    EXPECT_FALSE(desktop->tap->start([](const TapEvent&) {}));
    desktop->tap->reenable();
    desktop->keyMonitor->stop();
    EXPECT_FALSE(desktop->keyMonitor->start([](const KeyDown&) {}));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    desktop.reset();   // closing dead connections must not end the process either
}
