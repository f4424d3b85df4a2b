// PNG decoding and encoding (libspng). Template PNGs arrive inside script files, so decoding
// treats its input as hostile: size limits are checked before any pixel memory is allocated,
// chunk sizes are capped, and truncation or a bad CRC yields no image. Callable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/ScreenGrab.h"

namespace tapforge::vision {

struct PngLimits {
    uint32_t maxSide = 16384;                 // pixels, either dimension
    uint64_t maxPixels = 64ull * 1024 * 1024;
    size_t maxChunkBytes = 8u * 1024 * 1024;  // any single chunk
    size_t maxChunkCacheBytes = 16u * 1024 * 1024;   // all ancillary chunks kept together
};

class PngCodec {
public:
    // Any PNG colour type and depth to 8-bit RGBA with premultiplied alpha (transparency
    // chunks applied). Nothing for malformed, truncated, CRC-damaged or over-limit data.
    static std::optional<platform::RgbaImage> decode(std::span<const uint8_t> data, const PngLimits& limits = {});

    // An 8-bit RGBA PNG of `image` (its premultiplied alpha undone). Nothing for an empty image
    // or an encoder failure.
    static std::optional<std::vector<uint8_t>> encode(const platform::RgbaImage& image);
};

}  // namespace tapforge::vision
