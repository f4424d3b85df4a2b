// tapforge-cli pointer: prints where the pointer is, "X,Y" in global points, to find the
// coordinates a step should use.
#include <cmath>
#include <iostream>

#include "cli/Cli.h"

#ifdef TAPFORGE_HAVE_X11
#include "platform/x11/X11Desktop.h"
#endif

namespace tapforge::cli {

namespace {

int runPointer(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::cerr << "usage: tapforge-cli pointer\n";
        return 2;
    }
#ifdef TAPFORGE_HAVE_X11
    std::string error;
    auto desktop = platform::x11::openX11Desktop([](std::function<void()> fn) { fn(); }, &error);
    if (!desktop) {
        std::cerr << "无法打开 X 显示：" << error << "\n";
        return 2;
    }
    const auto at = desktop->events->pointerLocation();
    if (!at) {
        std::cerr << "无法读取指针位置\n";
        return 2;
    }
    std::cout << std::lround(at->x) << "," << std::lround(at->y) << "\n";
    return 0;
#else
    std::cerr << "此版本没有 X11 支持\n";
    return 2;
#endif
}

const CommandRegistration registration({
    "pointer",
    "pointer",
    "打印指针的全局坐标 X,Y（点）",
    runPointer,
});

}  // namespace

}  // namespace tapforge::cli
