// Image and PNG file builders shared by the vision tests.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "model/ColorPoint.h"
#include "platform/ScreenGrab.h"
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

// A colour point expecting (r, g, b) within `tolerance`.
inline ColorPoint point(double x, double y, int r = 0, int g = 0, int b = 0, int tolerance = 10, bool enabled = true) {
    return {Uuid::random(), x, y, r, g, b, tolerance, enabled};
}

inline ScreenSnapshot snapshotOf(platform::RgbaImage img, double scale = 1.0, platform::Point origin = {0, 0}) {
    return ScreenSnapshot{std::make_shared<const platform::RgbaImage>(std::move(img)), scale, origin};
}

// PNG files byte by byte, well-formed or hostile.
inline void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

inline std::vector<uint8_t> chunk(const std::string& type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out;
    put32(out, uint32_t(data.size()));
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    uint32_t crc = ~0u;   // over type and data
    for (size_t i = 4; i < out.size(); ++i) {
        crc ^= out[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    put32(out, ~crc);
    return out;
}

// A stored (uncompressed) zlib stream of `raw`, so tests need no compressor.
inline std::vector<uint8_t> zlibStored(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> z = {0x78, 0x01};
    size_t pos = 0;
    do {
        const size_t n = std::min<size_t>(65535, raw.size() - pos);
        z.insert(z.end(), {uint8_t(pos + n == raw.size()), uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
        z.insert(z.end(), raw.begin() + long(pos), raw.begin() + long(pos + n));
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
    put32(z, (b << 16) | a);
    return z;
}

// Signature, IHDR, the `extra` chunks, one IDAT holding the filtered rows `raw`, IEND.
inline std::vector<uint8_t> pngFile(uint32_t w, uint32_t h, const std::vector<uint8_t>& raw, uint8_t depth = 8,
                                    uint8_t colourType = 6, const std::vector<uint8_t>& extra = {}) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, header;
    put32(header, w);
    put32(header, h);
    header.insert(header.end(), {depth, colourType, 0, 0, 0});
    for (const auto& part : {chunk("IHDR", header), extra, chunk("IDAT", zlibStored(raw)), chunk("IEND", {})})
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

}  // namespace tapforge::vision::test
