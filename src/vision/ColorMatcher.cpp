#include "vision/ColorMatcher.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "vision/ScreenCapture.h"

namespace tapforge::vision {

namespace {

int channel(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, 0, 255)); }

bool within(int actual, int64_t expected, int64_t tolerance) {
    return std::llabs(static_cast<long long>(actual) - static_cast<long long>(expected)) <= tolerance;
}

}  // namespace

std::string ColorCheckResult::description() const {
    std::string text;
    for (const auto& d : details) {
        if (!text.empty()) text += ' ';
        char hex[32];
        std::snprintf(hex, sizeof hex, "#%02X%02X%02X", channel(d.point.red), channel(d.point.green), channel(d.point.blue));
        text += d.matched ? "√" : "×";
        text += hex;
        std::snprintf(hex, sizeof hex, "%02X%02X%02X", channel(d.actual.red), channel(d.actual.green), channel(d.actual.blue));
        text += "→#";
        text += hex;
    }
    return text;
}

ColorCheckResult ColorMatcher::check(const std::vector<ColorPoint>& points, MatchMode mode, const ScreenSnapshot& snapshot) {
    ColorCheckResult result;
    if (!snapshot.image) return result;
    const std::optional<PixelBuffer> buffer = ScreenCapture::pixelBuffer(*snapshot.image);
    if (!buffer) return result;

    for (const auto& point : points) {
        if (!point.enabled) continue;
        ColorCheckDetail detail{point, Rgb{}, false};
        const platform::Point p = snapshot.pixelFromGlobal(platform::Point{point.x, point.y});
        // Written so that NaN fails the test.
        if (p.x >= 0 && p.y >= 0 && p.x < buffer->width && p.y < buffer->height) {
            detail.actual = buffer->averageRGB(static_cast<int>(std::round(p.x)), static_cast<int>(std::round(p.y)), 1);
            detail.matched = within(detail.actual.red, point.red, point.tolerance) &&
                             within(detail.actual.green, point.green, point.tolerance) &&
                             within(detail.actual.blue, point.blue, point.tolerance);
        }
        result.details.push_back(std::move(detail));
    }

    const auto passed = [](const ColorCheckDetail& d) { return d.matched; };
    result.matched = mode == MatchMode::all ? std::all_of(result.details.begin(), result.details.end(), passed)
                                            : std::any_of(result.details.begin(), result.details.end(), passed);
    return result;
}

}  // namespace tapforge::vision
