// tapforge-cli find SCREEN.png TEMPLATE.png [TEMPLATE.png ...] [--threshold T] [--scale S]
// [--region X,Y,W,H]: searches a screenshot for each template exactly as an image check does and
// prints one JSON object per template, in order, with the time of the search itself. Users test
// their templates with it; the benchmarks use it too.
#include <chrono>
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

constexpr const char* usageText =
    "usage: tapforge-cli find SCREEN.png TEMPLATE.png [TEMPLATE.png ...] [--threshold T] [--scale S] [--region X,Y,W,H]\n";

int usage() {
    std::cerr << usageText;
    return 2;
}

// A refused option: the message names the option and the value given.
int badOption(const std::string& option, const std::string& value, const char* want) {
    std::cerr << option << " 的值无效：" << value << "（" << want << "）\n";
    return usage();
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

nlohmann::ordered_json resultJson(const vision::ImageMatchResult& r, double elapsedMs) {
    nlohmann::ordered_json out;
    out["matched"] = r.matched;
    out["score"] = r.score;
    out["center"] = r.center ? nlohmann::ordered_json::array({r.center->x, r.center->y}) : nlohmann::ordered_json(nullptr);
    out["rect"] = r.rect ? nlohmann::ordered_json::array({r.rect->x, r.rect->y, r.rect->width, r.rect->height})
                         : nlohmann::ordered_json(nullptr);
    out["elapsedMs"] = elapsedMs;
    return out;
}

int runFind(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    double threshold = 0.9;
    double scale = 1.0;
    std::optional<platform::Rect> region;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--threshold" || arg == "--scale" || arg == "--region") {
            if (i + 1 >= args.size()) {
                std::cerr << arg << " 需要一个值\n";
                return usage();
            }
            const std::string& value = args[++i];
            if (arg == "--region") {
                region = parseRegion(value);
                if (!region) return badOption(arg, value, "需要 X,Y,W,H 四个数");
                continue;
            }
            const auto v = parseNumber(value);
            if (arg == "--threshold") {
                if (!v || *v < 0 || *v > 1) return badOption(arg, value, "需要 0 到 1 之间的数");
                threshold = *v;
            } else {
                // A snapshot has at least one pixel per point.
                if (!v || *v < 1) return badOption(arg, value, "需要不小于 1 的数");
                scale = *v;
            }
        } else if (arg.rfind("--", 0) == 0) {
            std::cerr << "未知选项：" << arg << "\n";
            return usage();
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() < 2) return usage();

    auto screen = readPng(files[0]);
    if (!screen) return 2;
    std::vector<platform::RgbaImage> templates;
    for (size_t k = 1; k < files.size(); ++k) {
        auto templ = readPng(files[k]);
        if (!templ) return 2;
        templates.push_back(std::move(*templ));
    }

    // The screenshot as a snapshot taken at `scale` with its top-left at global (0, 0); a
    // template's point size is its pixel size at that same scale.
    vision::ScreenSnapshot snapshot;
    snapshot.scale = scale;
    snapshot.origin = {0, 0};
    snapshot.image = std::make_shared<const platform::RgbaImage>(std::move(*screen));
    std::optional<platform::Rect> searchPixels;
    if (region)
        searchPixels = platform::Rect{region->x * snapshot.scale, region->y * snapshot.scale,
                                      region->width * snapshot.scale, region->height * snapshot.scale};
    for (const platform::RgbaImage& templ : templates) {
        const platform::Size pointSize{templ.width / scale, templ.height / scale};
        const auto start = std::chrono::steady_clock::now();
        const vision::ImageMatchResult r = vision::ImageMatcher::find(templ, pointSize, snapshot, searchPixels, threshold);
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        std::cout << resultJson(r, elapsed.count()).dump() << "\n" << std::flush;
    }
    return std::cout ? 0 : 1;
}

const CommandRegistration registration({
    "find",
    "find SCREEN.png TEMPLATE.png [TEMPLATE.png ...] [--threshold T] [--scale S] [--region X,Y,W,H]",
    "在截图中查找模板图片（与图像判断相同的算法），每个模板输出一行 JSON：matched、score、center、rect（全局点坐标）、elapsedMs（查找本身的毫秒数）",
    runFind,
});

}  // namespace

}  // namespace tapforge::cli
