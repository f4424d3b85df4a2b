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
                                 std::optional<platform::Rect> searchPixelRect) {
    CheckOutcome outcome;
    outcome.kind = Kind::image;
    outcome.passed = result.matched;
    outcome.score = result.score;
    outcome.matchRect = result.rect;
    if (!snapshot.image || snapshot.image->empty()) return outcome;

    // Crop the searched pixels, then shrink them: the editor only needs a glance.
    const platform::RgbaImage& full = *snapshot.image;
    int x0 = 0, y0 = 0, x1 = full.width, y1 = full.height;
    if (searchPixelRect) {
        const platform::Rect r = searchPixelRect->standardized();
        x0 = std::clamp(static_cast<int>(std::floor(r.x)), 0, full.width - 1);
        y0 = std::clamp(static_cast<int>(std::floor(r.y)), 0, full.height - 1);
        x1 = std::clamp(static_cast<int>(std::ceil(r.maxX())), x0 + 1, full.width);
        y1 = std::clamp(static_cast<int>(std::ceil(r.maxY())), y0 + 1, full.height);
    }
    const int w = x1 - x0, h = y1 - y0;
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
    const platform::Point topLeft = snapshot.globalFromPixel({static_cast<double>(x0), static_cast<double>(y0)});
    outcome.thumbnailBounds = {topLeft.x, topLeft.y, w / snapshot.scale, h / snapshot.scale};
    return outcome;
}

}  // namespace tapforge::app
