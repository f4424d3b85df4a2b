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

using platform::RgbaImage;
using Bytes = std::vector<uint8_t>;

inline RgbaImage solid(int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
    RgbaImage img{w, h, {}};
    for (size_t i = 0; i < size_t(w) * h; ++i) img.pixels.insert(img.pixels.end(), {r, g, b, a});
    return img;
}

inline void setPixel(RgbaImage& img, int x, int y, uint8_t r, uint8_t g, uint8_t b) {
    uint8_t* p = img.pixels.data() + (size_t(y) * img.width + x) * 4;
    p[0] = r, p[1] = g, p[2] = b, p[3] = 255;
}

// Random colour noise: every window of it is unique and far from flat.
inline RgbaImage noise(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(0, 255);
    RgbaImage img = solid(w, h, 0, 0, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) setPixel(img, x, y, uint8_t(d(rng)), uint8_t(d(rng)), uint8_t(d(rng)));
    return img;
}

inline void paste(RgbaImage& dst, const RgbaImage& src, int x0, int y0) {
    for (int y = 0; y < src.height; ++y)
        std::copy_n(src.pixel(0, y), src.width * 4, &dst.pixels[(size_t(y0 + y) * dst.width + x0) * 4]);
}

inline RgbaImage cut(const RgbaImage& src, int x0, int y0, int w, int h) {
    RgbaImage out{w, h, {}};
    for (int y = y0; y < y0 + h; ++y)
        out.pixels.insert(out.pixels.end(), src.pixel(x0, y), src.pixel(x0 + w, y));
    return out;
}

// A colour point expecting (r, g, b) within tolerance `tol`.
inline ColorPoint point(double x, double y, int r = 0, int g = 0, int b = 0, int tol = 10, bool on = true) {
    return {Uuid::random(), x, y, r, g, b, tol, on};
}

inline ScreenSnapshot snapshotOf(RgbaImage img, double scale = 1.0, platform::Point origin = {0, 0}) {
    return ScreenSnapshot{std::make_shared<const RgbaImage>(std::move(img)), scale, origin};
}

// PNG files byte by byte, well-formed or hostile.
inline void put32(Bytes& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

inline Bytes chunk(const std::string& type, const Bytes& data) {
    Bytes out;
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
inline Bytes zlibStored(const Bytes& raw) {
    Bytes z = {0x78, 0x01};
    for (size_t pos = 0, n = 0; pos == 0 || pos < raw.size(); pos += n) {
        n = std::min<size_t>(65535, raw.size() - pos);
        z.insert(z.end(), {uint8_t(pos + n == raw.size()), uint8_t(n), uint8_t(n >> 8)});
        z.insert(z.end(), {uint8_t(~n), uint8_t(~n >> 8)});
        z.insert(z.end(), raw.begin() + long(pos), raw.begin() + long(pos + n));
    }
    uint32_t a = 1, b = 0;
    for (uint8_t c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
    put32(z, (b << 16) | a);
    return z;
}

// Signature, IHDR, the `extra` chunks, one IDAT holding the filtered rows `raw`, IEND.
inline Bytes pngFile(uint32_t w, uint32_t h, const Bytes& raw, uint8_t depth = 8, uint8_t colour = 6,
                     const Bytes& extra = {}) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, header;
    for (uint32_t v : {w, h}) put32(header, v);
    header.insert(header.end(), {depth, colour, 0, 0, 0});
    for (const auto& part : {chunk("IHDR", header), extra, chunk("IDAT", zlibStored(raw)), chunk("IEND", {})})
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

}  // namespace tapforge::vision::test
