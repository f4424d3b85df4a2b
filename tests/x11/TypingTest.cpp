// Typed text arrives as written whatever the keyboard layout, Caps Lock, Num Lock or script,
// judged from the characters a window of another client receives.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <atomic>

#include "X11TestSupport.h"
#include "input/InputPlayer.h"

namespace tapforge::testing {
namespace {

class X11Typing : public X11Test {
protected:
    void setLayout(const std::string& layout) {
        const std::string command = "setxkbmap -display " + server->display() + " " + layout;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    // Types on another thread while the window reads its events as they come, as a live
    // application does (a key bound for the moment is looked up when its event is handled).
    void typeInto(CountingWindow& window, const std::string& text) {
        std::atomic<bool> done{false};
        std::thread typist([&] {
            InputPlayer(desktop->events, desktop->clock).typeText(text);
            done = true;
        });
        while (!done) window.pump(20ms);
        typist.join();
        window.pump(300ms);
        EXPECT_EQ(window.typed, text);
        EXPECT_TRUE(keysHeld(window.display()).empty());
    }
};

// Printable ASCII; and (on the plain US layout) characters that no key has, typed through a
// borrowed key that is given back after.
TEST_F(X11Typing, TextArrivesAsWrittenUnderAnyLayoutAndLockState) {
    std::string ascii;
    for (char c = 0x20; c < 0x7F; ++c) ascii += c;
    ascii += "\n\t";
    using Case = std::tuple<const char*, bool, bool>;   // layout, Caps Lock, Num Lock
    for (auto [layout, capsLock, numLock] : {Case{"us", false, false}, Case{"us", true, true}, Case{"de", false, false},
                                             Case{"de", true, true}, Case{"fr", true, false}}) {
        SCOPED_TRACE(std::string(layout) + (capsLock ? " Caps Lock" : "") + (numLock ? " Num Lock" : ""));
        setLayout(layout);
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
        typeInto(window, capsLock || layout != std::string("us") ? ascii : ascii + "你好，世界！Grüße – 3 € 😀");
        EXPECT_EQ(mapping(), before);
        XkbStateRec state{};
        XkbGetState(d, XkbUseCoreKbd, &state);
        EXPECT_EQ(state.locked_mods, locks) << "the locks are back as they were";
    }
}

}  // namespace
}  // namespace tapforge::testing
