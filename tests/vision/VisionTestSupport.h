// Image builders shared by the vision tests.
#pragma once

#include <cstdint>
#include <random>

#include "model/ColorPoint.h"
#include "platform/ScreenGrab.h"
#include "vision/ScreenSnapshot.h"

namespace tapforge::vision::test {

inline platform::RgbaImage solid(int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
    platform::RgbaImage img{w, h, {}};
    img.pixels.reserve(size_t(w) * h * 4);
    for (size_t i = 0; i < size_t(w) * h; ++i) img.pixels.insert(img.pixels.end(), {r, g, b, a});
    return img;
}

inline void setPixel(platform::RgbaImage& img, int x, int y, uint8_t r, uint8_t g, uint8_t b) {
    uint8_t* p = img.pixels.data() + (size_t(y) * img.width + x) * 4;
    p[0] = r, p[1] = g, p[2] = b, p[3] = 255;
}

inline void setGrey(platform::RgbaImage& img, int x, int y, uint8_t v) { setPixel(img, x, y, v, v, v); }

// Random colour noise: every window of it is unique and far from flat.
inline platform::RgbaImage noise(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(0, 255);
    platform::RgbaImage img = solid(w, h, 0, 0, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) setPixel(img, x, y, uint8_t(d(rng)), uint8_t(d(rng)), uint8_t(d(rng)));
    return img;
}

// Smooth blobs plus fine noise: survives downscaling, so the pyramid can find it.
inline platform::RgbaImage texture(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> px(0, w - 1), py(0, h - 1), sz(4, 80), col(0, 255), fine(-20, 20);
    platform::RgbaImage img = solid(w, h, 128, 128, 128);
    for (int k = 0; k < w * h / 400 + 20; ++k) {
        const int x0 = px(rng), y0 = py(rng), bw = sz(rng), bh = sz(rng);
        const int r = col(rng), g = col(rng), b = col(rng);
        for (int y = y0; y < std::min(y0 + bh, h); ++y)
            for (int x = x0; x < std::min(x0 + bw, w); ++x) setPixel(img, x, y, uint8_t(r), uint8_t(g), uint8_t(b));
    }
    for (size_t i = 0; i < img.pixels.size(); i += 4)
        for (int c = 0; c < 3; ++c) img.pixels[i + c] = uint8_t(std::clamp(img.pixels[i + c] + fine(rng), 0, 255));
    return img;
}

inline platform::RgbaImage cut(const platform::RgbaImage& src, int x0, int y0, int w, int h) {
    platform::RgbaImage out = solid(w, h, 0, 0, 0);
    for (int y = 0; y < h; ++y)
        std::copy_n(src.pixel(x0, y0 + y), size_t(w) * 4, out.pixels.data() + size_t(y) * w * 4);
    return out;
}

// A colour point expecting (r, g, b) within `tolerance`.
inline ColorPoint point(double x, double y, int r = 0, int g = 0, int b = 0, int tolerance = 10, bool enabled = true) {
    ColorPoint p;
    p.x = x, p.y = y, p.red = r, p.green = g, p.blue = b, p.tolerance = tolerance, p.enabled = enabled;
    return p;
}

inline ScreenSnapshot snapshotOf(platform::RgbaImage img, double scale = 1.0, platform::Point origin = {0, 0}) {
    return ScreenSnapshot{std::make_shared<const platform::RgbaImage>(std::move(img)), scale, origin};
}

}  // namespace tapforge::vision::test
