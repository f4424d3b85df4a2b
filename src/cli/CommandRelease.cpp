// tapforge-cli release: lets go of every key and mouse button the X server's XTEST devices hold,
// for when a run was killed (SIGKILL cannot be caught) and left something pressed.
#include <iostream>

#include "cli/Cli.h"

#ifdef TAPFORGE_HAVE_X11
#include "platform/x11/X11Desktop.h"
#endif

namespace tapforge::cli {

namespace {

int runRelease(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::cerr << "usage: tapforge-cli release\n";
        return 2;
    }
#ifdef TAPFORGE_HAVE_X11
    std::string error;
    const auto released = platform::x11::releaseHeldInput({}, &error);
    if (!released) {
        std::cerr << "无法打开 X 显示：" << error << "\n";
        return 2;
    }
    std::cout << "已松开 " << released->keys << " 个按键、" << released->buttons << " 个鼠标按钮" << std::endl;
    return 0;
#else
    std::cerr << "此版本没有 X11 支持\n";
    return 2;
#endif
}

const CommandRegistration registration({
    "release",
    "release",
    "松开 X 服务器上仍被按住的所有按键和鼠标按钮（运行被强行结束后使用）",
    runRelease,
});

}  // namespace

}  // namespace tapforge::cli
