// The global hotkeys on a real X server: presses of another client reach the record, play and
// escape callbacks; keys that this process plays back never do.
#include <gmock/gmock.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "X11TestSupport.h"
#include "input/GlobalHotKeyMonitor.h"
#include "input/InputPlayer.h"

using namespace std::chrono_literals;
using namespace tapforge;
using namespace tapforge::testing;
using ::testing::ElementsAre;

namespace {

class X11HotKeys : public X11Test {
protected:
    void SetUp() override {
        X11Test::SetUp();
        if (HasFatalFailure()) return;
        other = std::make_unique<OtherClient>(server->display());
        ASSERT_NE(other->display(), nullptr);
        monitor = std::make_unique<GlobalHotKeyMonitor>(desktop->keyMonitor);
        monitor->onRecord = [this] { calls.push_back("record"); };
        monitor->onPlay = [this] { calls.push_back("play"); };
        monitor->onEscape = [this] { calls.push_back("escape"); };
        monitor->start();
        ASSERT_TRUE(monitor->isStarted());
        mainQueue->runFor(200ms);
    }
    void TearDown() override {
        monitor.reset();
        other.reset();   // before the server goes: Xlib ends the process on a lost connection
        X11Test::TearDown();
    }
    void key(KeySym sym, bool press) {
        XTestFakeKeyEvent(other->display(), XKeysymToKeycode(other->display(), sym), press ? True : False, CurrentTime);
        XSync(other->display(), False);
    }
    void chord(std::initializer_list<KeySym> modifiers, KeySym sym) {
        for (KeySym m : modifiers) key(m, true);
        other->key(static_cast<unsigned>(sym));
        for (KeySym m : modifiers) key(m, false);
    }
    void deliver(size_t count) {
        mainQueue->runUntil([&] { return calls.size() >= count; }, 3s);
        mainQueue->runFor(300ms);   // and anything that should not have come
    }

    std::unique_ptr<OtherClient> other;
    std::unique_ptr<GlobalHotKeyMonitor> monitor;
    std::vector<std::string> calls;
};

TEST_F(X11HotKeys, OtherClientsPressesTriggerRecordPlayAndEscape) {
    other->key(XK_F9);
    other->key(XK_F10);
    other->key(XK_Escape);
    chord({XK_Control_L}, XK_Escape);   // Escape with any modifiers
    chord({XK_Super_L}, XK_F9);         // ⌘F9 is not F9
    other->key(XK_a);
    deliver(4);
    EXPECT_THAT(calls, ElementsAre("record", "play", "escape", "escape"));
}

TEST_F(X11HotKeys, ShortcutsWithModifiersMatchExactly) {
    monitor->recordShortcut = {15, ModifierSet::control() | ModifierSet::shift()};   // ⌃⇧R
    monitor->playShortcut = {35, ModifierSet::command()};                            // ⌘P
    chord({XK_Control_L, XK_Shift_L}, XK_r);
    chord({XK_Control_L}, XK_r);                      // a subset: nothing
    chord({XK_Control_L, XK_Shift_L, XK_Alt_L}, XK_r);   // a superset: nothing
    chord({XK_Super_L}, XK_p);
    other->key(XK_F9);                                // no longer a shortcut
    deliver(2);
    EXPECT_THAT(calls, ElementsAre("record", "play"));
}

TEST_F(X11HotKeys, KeysPlayedBackByThisProcessNeverTrigger) {
    // Playback runs on its own thread while the monitor listens on the main thread.
    std::thread worker([&] {
        InputPlayer player(desktop->events, desktop->clock);
        player.key(109, KeyEventKind::press, {});   // F10
        player.key(101, KeyEventKind::press, {});   // F9
        player.key(53, KeyEventKind::press, ModifierSet::shift());
        player.typeText("a\n");
        player.key(109, KeyEventKind::down, {});
        player.key(109, KeyEventKind::up, {});
    });
    worker.join();
    deliver(1);
    EXPECT_TRUE(calls.empty());
    // The filter only swallowed our own keys: the user's F10 still plays.
    other->key(XK_F10);
    deliver(1);
    EXPECT_THAT(calls, ElementsAre("play"));
}

}  // namespace
