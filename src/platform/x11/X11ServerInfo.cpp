#include "platform/x11/X11ServerInfo.h"

#include <X11/Xlib.h>

namespace tapforge::platform::x11 {

std::optional<X11ServerInfo> queryServerInfo(const std::string& display) {
    Display* d = XOpenDisplay(display.empty() ? nullptr : display.c_str());
    if (!d) return std::nullopt;
    X11ServerInfo info;
    info.display = DisplayString(d);
    info.vendor = ServerVendor(d);
    info.release = VendorRelease(d);
    XCloseDisplay(d);
    return info;
}

}  // namespace tapforge::platform::x11
