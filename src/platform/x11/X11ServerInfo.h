// Who serves the X display, for the application's diagnostics: the display name, the server's
// vendor string and release number. Asks over a short-lived connection of its own; any thread.
#pragma once

#include <optional>
#include <string>

namespace tapforge::platform::x11 {

struct X11ServerInfo {
    std::string display;   // as opened, e.g. ":0"
    std::string vendor;
    int release = 0;
};

// Nothing when the display cannot be opened. `display` empty: $DISPLAY.
std::optional<X11ServerInfo> queryServerInfo(const std::string& display = {});

}  // namespace tapforge::platform::x11
