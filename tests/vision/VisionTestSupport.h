// Image builders shared by the vision tests.
#pragma once

#include <cstdint>
#include <random>

#include "model/ColorPoint.h"
#include "platform/ScreenGrab.h"
#include "vision/PixelBuffer.h"
#include "vision/ScreenSnapshot.h"

namespace tapforge::vision::test {

inline platform::RgbaImage solid(int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
    platform::RgbaImage img{w, h, {}};
    for (size_t i = 0; i < size_t(w) * h; ++i) img.pixels.insert(img.pixels.end(), {r, g, b, a});
    return img;
}

inline void setPixel(platform::RgbaImage& img, int x, int y, uint8_t r, uint8_t g, uint8_t b) {
    uint8_t* p = img.pixels.data() + (size_t(y) * img.width + x) * 4;
    p[0] = r, p[1] = g, p[2] = b, p[3] = 255;
}

// Random colour noise: every window of it is unique and far from flat.
inline platform::RgbaImage noise(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(0, 255);
    platform::RgbaImage img = solid(w, h, 0, 0, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) setPixel(img, x, y, uint8_t(d(rng)), uint8_t(d(rng)), uint8_t(d(rng)));
    return img;
}

// Copies w x h pixels from (sx, sy) of `src` to (dx, dy) of `dst`; all of `src` by default.
inline void paste(platform::RgbaImage& dst, const platform::RgbaImage& src, int dx, int dy, int sx = 0, int sy = 0,
                  int w = -1, int h = -1) {
    w = w < 0 ? src.width : w, h = h < 0 ? src.height : h;
    for (int y = 0; y < h; ++y)
        std::copy_n(src.pixel(sx, sy + y), size_t(w) * 4, dst.pixels.data() + (size_t(dy + y) * dst.width + dx) * 4);
}

inline platform::RgbaImage cut(const platform::RgbaImage& src, int x0, int y0, int w, int h) {
    platform::RgbaImage out = solid(w, h, 0, 0, 0);
    paste(out, src, 0, 0, x0, y0, w, h);
    return out;
}

// Flat coloured panels over fine noise: unique everywhere, yet it survives downscaling.
inline platform::RgbaImage texture(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    platform::RgbaImage img = solid(w, h, 128, 128, 128);
    for (int k = 0; k < w * h / 400 + 20; ++k) {
        const int bw = int(rng() % 77) + 4, bh = int(rng() % 77) + 4, x0 = int(rng() % w), y0 = int(rng() % h);
        paste(img, solid(std::min(bw, w - x0), std::min(bh, h - y0), rng() % 256, rng() % 256, rng() % 256), x0, y0);
    }
    for (size_t i = 0; i < img.pixels.size(); ++i)
        if (i % 4 != 3) img.pixels[i] = uint8_t(std::clamp(int(img.pixels[i]) + int(rng() % 41) - 20, 0, 255));
    return img;
}

inline std::vector<float> grey(const platform::RgbaImage& img) {
    std::vector<float> g(size_t(img.width) * img.height);
    grayFloats(img.pixels.data(), g.size(), g.data());
    return g;
}

// A colour point expecting (r, g, b) within `tolerance`.
inline ColorPoint point(double x, double y, int r = 0, int g = 0, int b = 0, int tolerance = 10, bool enabled = true) {
    return {Uuid::random(), x, y, r, g, b, tolerance, enabled};
}

inline ScreenSnapshot snapshotOf(platform::RgbaImage img, double scale = 1.0, platform::Point origin = {0, 0}) {
    return ScreenSnapshot{std::make_shared<const platform::RgbaImage>(std::move(img)), scale, origin};
}

}  // namespace tapforge::vision::test
