// The X11 desktop: real input posting (XTest), the recording tap (RECORD), the hotkey monitor
// (XInput 2 raw keys), RandR screens and root-window grabs (MIT-SHM, else XGetImage), behind the
// platform interfaces. No X11 type appears here; Xlib stays inside this directory's .cpp files.
//
// Global points are root coordinates shifted so that the primary monitor's top-left is (0, 0).
// A lost X connection (server gone) never ends the process: every call then fails, grabs return
// nothing, the tap sends one tapDisabledByTimeout notification and stops.
#pragma once

#include <optional>
#include <string>

#include "platform/Desktop.h"
#include "platform/MainThread.h"

namespace tapforge::platform::x11 {

struct X11Options {
    std::string display;       // display name; empty: $DISPLAY
    bool useSharedMemory = true;   // MIT-SHM grabs when the server offers them
};

// Opens the display and builds every service. Tap records and monitored keys are handed to
// `poster`, which runs them on the caller's main thread. Nothing, with a message in `error`
// (if given), when the display cannot be opened or XTest is missing.
std::optional<Desktop> openX11Desktop(MainThreadPoster poster, std::string* error = nullptr,
                                      const X11Options& options = {});

// What releaseHeldInput let go of.
struct ReleasedInput {
    int keys = 0;      // keys that were down
    int buttons = 0;   // pointer buttons (1 to 5) that were down
};

// Releases every key and pointer button that is down, through XTEST: what a process that was
// killed in the middle of a run (SIGKILL) left pressed. Nothing, with a message in `error`,
// when the display cannot be opened or has no XTest.
std::optional<ReleasedInput> releaseHeldInput(const X11Options& options, std::string* error = nullptr);

}  // namespace tapforge::platform::x11
