// tapforge-cli find SCREEN.png TEMPLATE.png [--threshold T] [--scale S] [--region X,Y,W,H]:
// searches a screenshot for a template exactly as an image check does and prints the result
// as one JSON object. Users test their templates with it; the benchmarks use it too.
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "vision/ImageMatcher.h"
#include "vision/PngCodec.h"

namespace tapforge::cli {

namespace {

constexpr const char* usageText = "usage: tapforge-cli find SCREEN.png TEMPLATE.png [--threshold T] [--scale S] [--region X,Y,W,H]\n";

int usage() {
    std::cerr << usageText;
    return 2;
}

std::optional<double> parseNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<platform::Rect> parseRegion(const std::string& text) {
    std::vector<double> parts;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        const auto v = parseNumber(item);
        if (!v) return std::nullopt;
        parts.push_back(*v);
    }
    if (parts.size() != 4 || text.back() == ',') return std::nullopt;
    return platform::Rect{parts[0], parts[1], parts[2], parts[3]};
}

std::optional<platform::RgbaImage> readPng(const std::string& path) {
    std::string contents, error;
    if (!readFile(path, contents, error)) {
        std::cerr << "无法读取文件：" << error << "\n";
        return std::nullopt;
    }
    auto image = vision::PngCodec::decode(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(contents.data()), contents.size()));
    if (!image) std::cerr << "无法解码 PNG 图片：" << path << "\n";
    return image;
}

int runFind(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    double threshold = 0.9;
    double scale = 1.0;
    std::optional<platform::Rect> region;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--threshold" || arg == "--scale" || arg == "--region") {
            if (i + 1 >= args.size()) return usage();
            const std::string& value = args[++i];
            if (arg == "--region") {
                region = parseRegion(value);
                if (!region) return usage();
                continue;
            }
            const auto v = parseNumber(value);
            if (!v) return usage();
            if (arg == "--threshold") threshold = *v;
            else if (*v >= 1) scale = *v;   // a snapshot has at least one pixel per point
            else return usage();
        } else if (arg.rfind("--", 0) == 0) {
            return usage();
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2) return usage();

    auto screen = readPng(files[0]);
    if (!screen) return 2;
    const auto templ = readPng(files[1]);
    if (!templ) return 2;

    // The screenshot as a snapshot taken at `scale` with its top-left at global (0, 0); the
    // template's point size is its pixel size at that same scale.
    vision::ScreenSnapshot snapshot;
    snapshot.scale = scale;
    snapshot.origin = {0, 0};
    snapshot.image = std::make_shared<const platform::RgbaImage>(std::move(*screen));
    const platform::Size pointSize{templ->width / scale, templ->height / scale};
    std::optional<platform::Rect> searchPixels;
    if (region)
        searchPixels = platform::Rect{region->x * snapshot.scale, region->y * snapshot.scale,
                                      region->width * snapshot.scale, region->height * snapshot.scale};
    const vision::ImageMatchResult r = vision::ImageMatcher::find(*templ, pointSize, snapshot, searchPixels, threshold);

    nlohmann::ordered_json out;
    out["matched"] = r.matched;
    out["score"] = r.score;
    out["center"] = r.center ? nlohmann::ordered_json::array({r.center->x, r.center->y}) : nlohmann::ordered_json(nullptr);
    out["rect"] = r.rect ? nlohmann::ordered_json::array({r.rect->x, r.rect->y, r.rect->width, r.rect->height})
                         : nlohmann::ordered_json(nullptr);
    std::cout << out.dump() << "\n" << std::flush;
    return std::cout ? 0 : 1;
}

const CommandRegistration registration({
    "find",
    "find SCREEN.png TEMPLATE.png [--threshold T] [--scale S] [--region X,Y,W,H]",
    "在截图中查找模板图片（与图像判断相同的算法），输出 JSON：matched、score、center、rect（全局点坐标）",
    runFind,
});

}  // namespace

}  // namespace tapforge::cli
