// The recording tap and the key-down monitor, fed by another client's XTest input.
#include <algorithm>
#include <tuple>
#include <thread>

#include "X11TestSupport.h"
#include "platform/x11/X11KeyTable.h"
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef Bool
#undef None

using namespace std::chrono_literals;
using namespace tapforge;
using namespace tapforge::platform;
using namespace tapforge::testing;

class X11Tap : public X11Test {
protected:
    std::vector<TapEvent> events;
    bool startTap() {
        return desktop->tap->start([this](const TapEvent& e) { events.push_back(e); });
    }
    bool waitForEvents(size_t count) {
        return mainQueue->runUntil([&] { return events.size() >= count; });
    }
};

TEST_F(X11Tap, ClicksOfAnotherClientArriveWithComputedClickStatesAndStamps) {
    ASSERT_TRUE(startTap());
    EXPECT_TRUE(desktop->tap->isRunning());
    OtherClient other(server->display());
    const int x = originX() + 100;
    other.move(x, 200);
    ASSERT_TRUE(waitForEvents(1));
    events.clear();
    other.click(x, 200, 1);
    other.click(x + 2, 201, 1);   // within 6 points and 500 ms: a double click
    using Seen = std::tuple<TapEventType, int64_t, double, double>;
    std::vector<Seen> buttons;
    mainQueue->runUntil([&] {
        buttons.clear();
        for (const TapEvent& e : events)
            if (e.type != TapEventType::mouseMoved) buttons.emplace_back(e.type, e.clickState, e.location.x, e.location.y);
        return buttons.size() >= 4;
    });
    EXPECT_EQ(buttons, (std::vector<Seen>{{TapEventType::leftMouseDown, 1, 100, 200}, {TapEventType::leftMouseUp, 1, 100, 200},
                                          {TapEventType::leftMouseDown, 2, 102, 201}, {TapEventType::leftMouseUp, 2, 102, 201}}));
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].timestampNs % 1'000'000, 0u) << "server milliseconds";
        if (i) {
            EXPECT_GE(events[i].timestampNs, events[i - 1].timestampNs);
        }
    }
}

TEST_F(X11Tap, DragsScrollsAndKeysWithFlags) {
    ASSERT_TRUE(startTap());
    OtherClient other(server->display());
    const int x = originX() + 10;
    other.move(x, 10);
    other.button(1, true);
    other.move(x + 50, 10);
    other.button(1, false);
    other.button(5, true), other.button(5, false);
    other.press(XK_Shift_L, true), other.key(XK_a), other.press(XK_Shift_L, false);
    ASSERT_TRUE(waitForEvents(7));
    mainQueue->runFor(100ms);
    std::vector<TapEventType> types;
    for (const TapEvent& e : events) types.push_back(e.type);
    EXPECT_EQ(types, (std::vector<TapEventType>{TapEventType::mouseMoved, TapEventType::leftMouseDown,
                                                TapEventType::leftMouseDragged, TapEventType::leftMouseUp,
                                                TapEventType::scrollWheel, TapEventType::keyDown,
                                                TapEventType::keyUp}))
        << "modifier keys are flags, not key events";
    ASSERT_EQ(events.size(), 7u);
    EXPECT_EQ(events[2].location, (Point{60, 10}));
    EXPECT_EQ(events[4].scrollLines, -1);
    EXPECT_EQ(events[5].keyCode, 0);
    EXPECT_EQ(events[5].flags, kFlagShift);
    EXPECT_FALSE(events[5].autorepeat);

    desktop->tap->stop();
    EXPECT_FALSE(desktop->tap->isRunning());
    events.clear();
    other.click(x, 10, 1);
    mainQueue->runFor(200ms);
    EXPECT_TRUE(events.empty()) << "nothing after stop";
}

// The server's key for a virtual code: its own keysym's, else the first synonym's.
KeyCode serverKey(Display* d, uint16_t code) {
    KeyCode kc = XKeysymToKeycode(d, *platform::x11::keysymForVirtualCode(code));
    for (const auto& other : platform::x11::synonymKeysyms())
        if (!kc && other.keyCode == code) kc = XKeysymToKeycode(d, other.keysym);
    return kc;
}

// Every key of the table, pressed by another client, comes back as its virtual code; and each
// one posted through the backend arrives at a window. Keys the server's keymap lacks (F19 on
// the default PC keymap) cannot be posted.
TEST_F(X11Tap, EveryTableKeyRoundTripsThroughTheLiveMapping) {
    ASSERT_TRUE(startTap());
    OtherClient other(server->display());
    Display* d = other.display();
    std::vector<uint16_t> expected;
    std::vector<uint16_t> missing;
    for (const auto& entry : platform::x11::virtualKeysyms()) {
        const KeyCode kc = serverKey(d, entry.keyCode);
        if (!kc) {
            missing.push_back(entry.keyCode);
            continue;
        }
        const KeySym level0 = XkbKeycodeToKeysym(d, kc, 0, 0);
        const bool modifier = platform::x11::isModifierKeysym(static_cast<uint32_t>(level0));
        XTestFakeKeyEvent(d, kc, True, CurrentTime);
        XTestFakeKeyEvent(d, kc, False, CurrentTime);
        // Num Lock toggles the keypad: press it twice so the keypad keeps its state.
        if (entry.keysym == XK_Num_Lock) {
            XTestFakeKeyEvent(d, kc, True, CurrentTime);
            XTestFakeKeyEvent(d, kc, False, CurrentTime);
            expected.push_back(entry.keyCode);
        }
        if (!modifier) expected.push_back(entry.keyCode);
    }
    XSync(d, False);
    EXPECT_LE(missing.size(), 1u) << "the default keymap should lack at most F19";
    auto keyDowns = [&] {
        std::vector<uint16_t> codes;
        for (const TapEvent& e : events)
            if (e.type == TapEventType::keyDown) codes.push_back(e.keyCode);
        return codes;
    };
    mainQueue->runUntil([&] { return keyDowns().size() >= expected.size(); });
    EXPECT_EQ(keyDowns(), expected);

    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    int posted = 0;
    for (const auto& entry : platform::x11::virtualKeysyms()) {
        SCOPED_TRACE(entry.keyCode);
        const bool onKeyboard = std::find(missing.begin(), missing.end(), entry.keyCode) == missing.end();
        EXPECT_EQ(desktop->events->postKey(entry.keyCode, Press::down, 0), onKeyboard);
        EXPECT_EQ(desktop->events->postKey(entry.keyCode, Press::up, 0), onKeyboard);
        if (onKeyboard) ++posted;
        if (entry.keysym == XK_Num_Lock) {
            desktop->events->postKey(entry.keyCode, Press::down, 0);
            desktop->events->postKey(entry.keyCode, Press::up, 0);
            ++posted;
        }
    }
    window.pump();
    EXPECT_EQ(window.keyPresses, posted);
    EXPECT_EQ(window.keyReleases, posted);
}

class X11KeyMonitor : public X11Test {
protected:
    std::vector<KeyDown> keys;
    bool startMonitor() {
        return desktop->keyMonitor->start([this](const KeyDown& k) { keys.push_back(k); });
    }
};

TEST_F(X11KeyMonitor, OtherClientsKeysAreReportedWithModifierFlagsOursAreNot) {
    ASSERT_TRUE(startMonitor());
    OtherClient other(server->display());
    other.key(XK_F9);
    ASSERT_TRUE(mainQueue->runUntil([&] { return keys.size() >= 1; }));
    // Our own F10, as playback would type it, then another program's F10.
    ASSERT_TRUE(desktop->events->postKey(109, Press::down, 0));
    ASSERT_TRUE(desktop->events->postKey(109, Press::up, 0));
    ASSERT_TRUE(desktop->events->postKey(56, Press::down, kFlagShift));
    ASSERT_TRUE(desktop->events->postKey(1, Press::down, kFlagShift));
    ASSERT_TRUE(desktop->events->postKey(1, Press::up, kFlagShift));
    ASSERT_TRUE(desktop->events->postKey(56, Press::up, 0));
    ASSERT_TRUE(desktop->events->postButton(PointerButton::left, Press::down, {5, 5}, kFlagCommand, 1));
    ASSERT_TRUE(desktop->events->postButton(PointerButton::left, Press::up, {5, 5}, kFlagCommand, 1));
    other.key(XK_F10);
    ASSERT_TRUE(mainQueue->runUntil([&] { return keys.size() >= 2; }));
    mainQueue->runFor(200ms);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].keyCode, 101);
    EXPECT_EQ(keys[1].keyCode, 109);
    EXPECT_FALSE(keys[1].synthetic);

    // Modifiers are flags of the key, not keys of their own.
    other.press(XK_Control_L, true);
    other.press(XK_Super_L, true);
    other.key(XK_Escape);
    other.press(XK_Super_L, false);
    other.press(XK_Control_L, false);
    ASSERT_TRUE(mainQueue->runUntil([&] { return keys.size() >= 3; }));
    mainQueue->runFor(150ms);
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[2].keyCode, 53);
    EXPECT_EQ(keys[2].flags, kFlagControl | kFlagCommand);

    desktop->keyMonitor->stop();
    other.key(XK_F9);
    mainQueue->runFor(150ms);
    EXPECT_EQ(keys.size(), 3u) << "nothing after stop";
}

// Killing the server must leave this process running, with every call failing quickly.
TEST_F(X11Tap, LostServerMakesEveryCallFailWithoutEndingTheProcess) {
    ASSERT_TRUE(startTap());
    std::vector<KeyDown> keys;
    ASSERT_TRUE(desktop->keyMonitor->start([&](const KeyDown& k) { keys.push_back(k); }));
    RgbaImage image;
    ASSERT_TRUE(desktop->grab->grab({0, 0, 10, 10}, image));

    server->kill();
    ASSERT_TRUE(mainQueue->runUntil([&] {
        for (const TapEvent& e : events)
            if (e.type == TapEventType::tapDisabledByTimeout) return true;
        return false;
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
    // Generous: the point is that nothing waits for a server that is gone.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    desktop.reset();   // closing dead connections must not end the process either
}
