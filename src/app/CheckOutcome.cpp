#include "app/CheckOutcome.h"

#include <algorithm>
#include <cmath>

#include "vision/Resize.h"

namespace tapforge::app {

CheckOutcome CheckOutcome::color(const vision::ColorCheckResult& result) {
    CheckOutcome outcome;
    outcome.kind = Kind::color;
    outcome.passed = result.matched;
    outcome.details = result.details;
    return outcome;
}

CheckOutcome CheckOutcome::image(const vision::ImageMatchResult& result, const vision::ScreenSnapshot& snapshot,
                                 std::optional<platform::Rect> searchArea) {
    CheckOutcome outcome;
    outcome.kind = Kind::image;
    outcome.passed = result.matched;
    outcome.score = result.score;
    outcome.matchRect = result.rect;
    if (!snapshot.image || snapshot.image->empty()) return outcome;

    const platform::RgbaImage& full = *snapshot.image;
    const platform::Rect whole{snapshot.origin.x, snapshot.origin.y, full.width / snapshot.scale,
                               full.height / snapshot.scale};
    platform::Rect area = searchArea ? searchArea->intersected(whole) : whole;
    if (area.isNull() || area.width <= 0 || area.height <= 0) area = whole;

    // Crop the searched pixels, then shrink them: the editor only needs a glance.
    const platform::Point topLeft = snapshot.pixelFromGlobal({area.x, area.y});
    const int x0 = std::clamp(static_cast<int>(std::floor(topLeft.x)), 0, full.width - 1);
    const int y0 = std::clamp(static_cast<int>(std::floor(topLeft.y)), 0, full.height - 1);
    const int w = std::clamp(static_cast<int>(std::ceil(area.width * snapshot.scale)), 1, full.width - x0);
    const int h = std::clamp(static_cast<int>(std::ceil(area.height * snapshot.scale)), 1, full.height - y0);
    platform::RgbaImage crop;
    crop.width = w;
    crop.height = h;
    crop.pixels.resize(static_cast<size_t>(w) * h * 4);
    for (int row = 0; row < h; ++row)
        std::copy_n(full.pixel(x0, y0 + row), static_cast<size_t>(w) * 4, crop.pixels.data() + static_cast<size_t>(row) * w * 4);

    const double factor = std::min(1.0, static_cast<double>(kThumbnailPixels) / std::max(w, h));
    const int tw = std::max(1, static_cast<int>(std::lround(w * factor)));
    const int th = std::max(1, static_cast<int>(std::lround(h * factor)));
    if (tw == w && th == h)
        outcome.thumbnail = std::move(crop);
    else
        vision::resizeRgba(crop, tw, th, outcome.thumbnail);
    outcome.thumbnailBounds = {x0 / snapshot.scale + snapshot.origin.x, y0 / snapshot.scale + snapshot.origin.y,
                               w / snapshot.scale, h / snapshot.scale};
    return outcome;
}

}  // namespace tapforge::app
