// The recording tap and the key-down monitor, fed by another client's XTest input.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>

#include "X11TestSupport.h"
#include "platform/x11/X11KeyTable.h"

using namespace tapforge::platform;
using namespace tapforge::testing;
using enum TapEventType;

class X11Tap : public X11Test {
protected:
    void SetUp() override {
        X11Test::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(desktop->tap->start([this](const TapEvent& e) { events.push_back(e); }));
    }
    bool startMonitor() { return desktop->keyMonitor->start([this](const KeyDown& k) { keys.push_back(k); }); }

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
            if (!x11::isModifierKeysym(uint32_t(XkbKeycodeToKeysym(d, kc, 0, 0)))) expected.push_back(entry.keyCode);
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
    EXPECT_EQ(std::pair(window.keyPresses, window.keyReleases), std::pair(posted, posted));

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
    for (auto [code, press, flags] : {std::tuple<uint16_t, Press, EventFlags>{109, Press::down, 0}, {109, Press::up, 0}, {56, Press::down, kFlagShift},
                                      {1, Press::down, kFlagShift}, {1, Press::up, kFlagShift}, {56, Press::up, 0}})
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
    EXPECT_EQ(seen, (std::vector<Seen>{{101, 0, false}, {109, 0, false}, {53, kFlagControl | kFlagCommand, false}}));

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
