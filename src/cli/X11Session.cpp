#include "cli/X11Session.h"

#include <functional>
#include <iostream>
#include <string>

#ifdef TAPFORGE_HAVE_X11
#include "platform/x11/X11Desktop.h"
#endif

namespace tapforge::cli {

std::optional<platform::Desktop> openSynchronousX11Desktop() {
#ifdef TAPFORGE_HAVE_X11
    std::string error;
    auto desktop = platform::x11::openX11Desktop([](std::function<void()> fn) { fn(); }, &error);
    if (!desktop) std::cerr << "无法打开 X 显示：" << error << "\n";
    return desktop;
#else
    std::cerr << "此版本没有 X11 支持\n";
    return std::nullopt;
#endif
}

}  // namespace tapforge::cli
