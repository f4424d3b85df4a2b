#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11Internal.h"

namespace tapforge::platform::x11 {

std::optional<ReleasedInput> releaseHeldInput(const X11Options& options, std::string* error) {
    std::string message;
    auto connection = Connection::open(options.display, &message);
    if (!connection) {
        if (error) *error = message;
        return std::nullopt;
    }
    std::lock_guard guard(connection->mutex());
    Display* d = connection->display();
    int eventBase, errorBase, major, minor;
    if (!XTestQueryExtension(d, &eventBase, &errorBase, &major, &minor)) {
        if (error) *error = "the X server has no XTest extension";
        return std::nullopt;
    }
    // A release sent through XTEST lets go only of what the XTEST devices hold; keys and
    // buttons the user holds on real devices stay down, and are not counted.
    auto held = [d](char keys[32], unsigned& buttons) {
        XQueryKeymap(d, keys);
        Window root, child;
        int rootX, rootY, winX, winY;
        buttons = 0;
        XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rootX, &rootY, &winX, &winY, &buttons);
    };
    char before[32] = {}, after[32] = {};
    unsigned buttonsBefore = 0, buttonsAfter = 0;
    held(before, buttonsBefore);
    for (int keycode = 8; keycode < 256; ++keycode)
        if (before[keycode / 8] & (1 << (keycode % 8))) XTestFakeKeyEvent(d, static_cast<unsigned>(keycode), False, CurrentTime);
    for (unsigned button = 1; button <= 5; ++button)
        if (buttonsBefore & (Button1Mask << (button - 1))) XTestFakeButtonEvent(d, button, False, CurrentTime);
    XSync(d, False);
    held(after, buttonsAfter);
    ReleasedInput released;
    for (int keycode = 8; keycode < 256; ++keycode) {
        const int bit = 1 << (keycode % 8);
        if ((before[keycode / 8] & bit) && !(after[keycode / 8] & bit)) ++released.keys;
    }
    for (unsigned button = 1; button <= 5; ++button) {
        const unsigned bit = Button1Mask << (button - 1);
        if ((buttonsBefore & bit) && !(buttonsAfter & bit)) ++released.buttons;
    }
    if (!syncOk(*connection)) {
        if (error) *error = "the X server went away";
        return std::nullopt;
    }
    return released;
}

}  // namespace tapforge::platform::x11
