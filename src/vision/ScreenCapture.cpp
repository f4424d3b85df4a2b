#include "vision/ScreenCapture.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

#include "vision/ScreenCoordinates.h"

namespace tapforge::vision {

namespace {

bool finite(const platform::Rect& r) {
    return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) && std::isfinite(r.height);
}

bool consistent(const platform::RgbaImage& image) {
    return !image.empty() && image.pixels.size() >= static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4;
}

}  // namespace

struct ScreenCapture::SparePool {
    std::mutex mutex;
    std::unique_ptr<platform::RgbaImage> spare;

    std::unique_ptr<platform::RgbaImage> take() {
        std::lock_guard guard(mutex);
        return std::move(spare);
    }
    void give(std::unique_ptr<platform::RgbaImage> image) {
        std::lock_guard guard(mutex);
        if (!spare) spare = std::move(image);
    }
};

ScreenCapture::ScreenCapture(std::shared_ptr<platform::Screens> screens, std::shared_ptr<platform::ScreenGrab> grab)
    : screens_(std::move(screens)), grab_(std::move(grab)), pool_(std::make_shared<SparePool>()) {}

ScreenCapture::ScreenCapture(const platform::Desktop& desktop) : ScreenCapture(desktop.screens, desktop.grab) {}

double ScreenCapture::primaryScreenHeight() const {
    return screens_ ? ScreenCoordinates::primaryHeight(*screens_) : 0;
}

platform::Rect ScreenCapture::desktopBounds() const {
    if (!screens_) return platform::Rect::null();
    const auto list = screens_->screens();
    const double primary = ScreenCoordinates::primaryHeight(list);
    platform::Rect bounds = platform::Rect::null();
    for (const auto& s : list) {
        const platform::Rect f = s.frame.standardized();
        bounds = bounds.united(platform::Rect{f.x, primary - f.y - f.height, f.width, f.height});
    }
    if (bounds.isNull()) return screens_->mainDisplayBounds();
    return bounds;
}

std::optional<ScreenSnapshot> ScreenCapture::capture(const std::vector<ColorPoint>& around, double margin) {
    bool any = false;
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    for (const auto& p : around) {
        if (!p.enabled) continue;
        if (!any) {
            minX = maxX = p.x;
            minY = maxY = p.y;
            any = true;
        } else {
            minX = std::min(minX, p.x);
            maxX = std::max(maxX, p.x);
            minY = std::min(minY, p.y);
            maxY = std::max(maxY, p.y);
        }
    }
    if (!any) return std::nullopt;
    return grab(platform::Rect{minX - margin, minY - margin, (maxX - minX) + 2 * margin, (maxY - minY) + 2 * margin});
}

std::optional<ScreenSnapshot> ScreenCapture::grab(const platform::Rect& globalRect) {
    if (!grab_ || !finite(globalRect)) return std::nullopt;
    const platform::Rect rect = globalRect.standardized().intersected(desktopBounds()).integral();
    if (rect.isNull() || rect.width < 1.0 || rect.height < 1.0) return std::nullopt;

    std::unique_ptr<platform::RgbaImage> storage = pool_->take();
    if (!storage) storage = std::make_unique<platform::RgbaImage>();
    if (!grab_->grab(rect, *storage) || !consistent(*storage)) {
        pool_->give(std::move(storage));
        return std::nullopt;
    }
    // The last holder of the snapshot's image hands its storage back (after the reference
    // count's release, and under the pool's lock, so the next grab sees every earlier read done).
    std::weak_ptr<SparePool> pool = pool_;
    const std::shared_ptr<platform::RgbaImage> image(storage.release(), [pool](platform::RgbaImage* done) {
        std::unique_ptr<platform::RgbaImage> owned(done);
        if (auto p = pool.lock()) p->give(std::move(owned));
    });
    double scale = image->width / rect.width;
    if (!(scale > 1.0)) scale = 1.0;
    return ScreenSnapshot{std::move(image), scale, platform::Point{rect.x, rect.y}};
}

std::optional<ScreenSnapshot> ScreenCapture::grabMainDisplay() {
    if (!screens_) return std::nullopt;
    return grab(screens_->mainDisplayBounds());
}

std::optional<PixelBuffer> ScreenCapture::pixelBuffer(const platform::RgbaImage& image) {
    if (!consistent(image)) return std::nullopt;
    PixelBuffer buffer;
    buffer.width = image.width;
    buffer.height = image.height;
    const size_t n = static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4;
    buffer.bytes.assign(image.pixels.begin(), image.pixels.begin() + static_cast<std::ptrdiff_t>(n));
    return buffer;
}

}  // namespace tapforge::vision
