// tapforge-cli pointer: prints where the pointer is, "X,Y" in global points, to find the
// coordinates a step should use.
#include <cmath>
#include <iostream>

#include "cli/Cli.h"
#include "cli/X11Session.h"

namespace tapforge::cli {

namespace {

int runPointer(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::cerr << "usage: tapforge-cli pointer\n";
        return 2;
    }
    auto desktop = openSynchronousX11Desktop();
    if (!desktop) return 2;
    const auto at = desktop->events->pointerLocation();
    if (!at) {
        std::cerr << "无法读取指针位置\n";
        return 2;
    }
    std::cout << std::lround(at->x) << "," << std::lround(at->y) << "\n";
    return 0;
}

const CommandRegistration registration({
    "pointer",
    "pointer",
    "打印指针的全局坐标 X,Y（点）",
    runPointer,
});

}  // namespace

}  // namespace tapforge::cli
