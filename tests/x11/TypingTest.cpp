// Typed text arrives as written whatever the keyboard layout, Caps Lock, Num Lock or script,
// judged from the characters a window of another client receives.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <atomic>
#include <thread>

#include "X11TestSupport.h"
#include "input/InputPlayer.h"

namespace tapforge::testing {
namespace {

std::string printableAscii() {
    std::string text;
    for (char c = 0x20; c < 0x7F; ++c) text += c;
    return text + "\n\t";
}

unsigned lockedModifiers(Display* d) {
    XkbStateRec state{};
    XkbGetState(d, XkbUseCoreKbd, &state);
    return state.locked_mods;
}

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
            InputPlayer player(desktop->events, desktop->clock);
            player.typeText(text);
            done = true;
        });
        while (!done) window.pump(std::chrono::milliseconds(20));
        typist.join();
        window.pump(std::chrono::milliseconds(300));
    }
};

TEST_F(X11Typing, PrintableAsciiUnderAnyLayoutAndLockState) {
    struct Case {
        const char* layout;
        bool capsLock;
        bool numLock;
    };
    for (const Case& c : {Case{"us", false, false}, Case{"us", true, true}, Case{"de", false, false},
                          Case{"de", true, true}, Case{"fr", true, false}}) {
        SCOPED_TRACE(std::string(c.layout) + (c.capsLock ? " Caps Lock" : "") + (c.numLock ? " Num Lock" : ""));
        setLayout(c.layout);
        CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
        Display* d = window.display();
        ASSERT_NE(d, nullptr);
        const unsigned locks = (c.capsLock ? LockMask : 0) | (c.numLock ? XkbKeysymToModifiers(d, XK_Num_Lock) : 0);
        XkbLockModifiers(d, XkbUseCoreKbd, LockMask | XkbKeysymToModifiers(d, XK_Num_Lock), locks);
        XSync(d, False);

        typeInto(window, printableAscii());
        EXPECT_EQ(window.typed, printableAscii());
        EXPECT_EQ(lockedModifiers(d), locks) << "the locks are back as they were";
        EXPECT_TRUE(keysHeld(d).empty());
    }
}

TEST_F(X11Typing, CharactersWithoutAKeyAreTypedThroughABorrowedKeyThenGiveItBack) {
    setLayout("us");
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    Display* d = window.display();
    int minKeycode = 0, maxKeycode = 0, perKeycode = 0;
    XDisplayKeycodes(d, &minKeycode, &maxKeycode);
    auto mapping = [&] {
        KeySym* syms = XGetKeyboardMapping(d, static_cast<KeyCode>(minKeycode), maxKeycode - minKeycode + 1, &perKeycode);
        std::vector<KeySym> copy(syms, syms + (maxKeycode - minKeycode + 1) * perKeycode);
        XFree(syms);
        return copy;
    };
    const std::vector<KeySym> before = mapping();

    const std::string text = "你好，世界！Grüße – 3 € 😀";
    typeInto(window, text);
    EXPECT_EQ(window.typed, text);
    EXPECT_EQ(mapping(), before);
    EXPECT_TRUE(keysHeld(d).empty());
}

}  // namespace
}  // namespace tapforge::testing
