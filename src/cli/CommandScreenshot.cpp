// tapforge-cli screenshot OUT.png [--rect X,Y,W,H]: saves the real display (or a rectangle of
// it, in global points) as a PNG, for making templates and checking what a grab sees.
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "cli/Cli.h"
#include "cli/X11Session.h"
#include "vision/PngCodec.h"
#include "vision/ScreenCapture.h"

namespace tapforge::cli {

namespace {

constexpr const char* kUsage = "usage: tapforge-cli screenshot OUT.png [--rect X,Y,W,H]\n";

std::optional<platform::Rect> parseRect(const std::string& text) {
    std::vector<double> parts;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        char* end = nullptr;
        const double v = std::strtod(item.c_str(), &end);
        if (item.empty() || end != item.c_str() + item.size() || !std::isfinite(v)) return std::nullopt;
        parts.push_back(v);
    }
    if (parts.size() != 4 || text.back() == ',' || parts[2] <= 0 || parts[3] <= 0) return std::nullopt;
    return platform::Rect{parts[0], parts[1], parts[2], parts[3]};
}

int runScreenshot(const std::vector<std::string>& args) {
    std::optional<std::string> out;
    std::optional<platform::Rect> rect;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--rect" && i + 1 < args.size()) {
            rect = parseRect(args[++i]);
            if (!rect) {
                std::cerr << "无效的区域：" << args[i] << "（应为 X,Y,W,H，宽高大于 0）\n";
                return 2;
            }
        } else if (!out && !args[i].empty() && args[i][0] != '-') {
            out = args[i];
        } else {
            std::cerr << kUsage;
            return 2;
        }
    }
    if (!out) {
        std::cerr << kUsage;
        return 2;
    }
    auto desktop = openSynchronousX11Desktop();
    if (!desktop) return 2;
    vision::ScreenCapture capture(*desktop);
    const auto snapshot = capture.grab(rect.value_or(capture.desktopBounds()));
    if (!snapshot) {
        std::cerr << "截图失败：区域不在屏幕上或无法读取屏幕\n";
        return 2;
    }
    const auto png = vision::PngCodec::encode(*snapshot->image);
    if (!png) {
        std::cerr << "PNG 编码失败\n";
        return 2;
    }
    std::ofstream file(*out, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(png->data()), static_cast<std::streamsize>(png->size()));
    file.close();
    if (!file) {
        std::cerr << "无法写入文件：" << *out << "\n";
        return 2;
    }
    std::cout << snapshot->image->width << "x" << snapshot->image->height << " " << *out << "\n";
    return 0;
}

const CommandRegistration registration({
    "screenshot",
    "screenshot OUT.png [--rect X,Y,W,H]",
    "把屏幕（或以全局坐标给出的区域）保存为 PNG",
    runScreenshot,
});

}  // namespace

}  // namespace tapforge::cli
