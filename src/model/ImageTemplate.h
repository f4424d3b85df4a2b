// An image to search the screen for, with where and at what scale it was captured.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tapforge {

// Decoded template images cost 4 bytes a pixel, and more while matching; a script file names
// its templates' sizes only in their PNG headers, which are checked against these budgets
// before any image is decoded. One template: a 4K screen (3840 × 2160) fits.
inline constexpr uint64_t kMaxTemplatePixels = 8ull * 1024 * 1024;
// All the distinct template images of one script together.
inline constexpr uint64_t kMaxScriptTemplatePixels = 32ull * 1024 * 1024;

struct PixelSize {
    uint32_t width = 0;
    uint32_t height = 0;
    uint64_t pixels() const { return uint64_t(width) * height; }
};

struct ImageTemplate {
    std::string name = "模板";   // unique key in the script's library for Lua lookups
    double widthPoints = 0;       // size of the captured region, points
    double heightPoints = 0;
    double originX = 0;           // top-left of the captured region, global points
    double originY = 0;
    double pixelScale = 1.0;      // capture pixels per point, at least 1
    std::string pngBase64;        // PNG file in standard Base64; empty = no image

    // The pixel size the PNG header declares, read from the first 32 Base64 characters
    // without decoding anything else; nothing when they do not hold a PNG header.
    std::optional<PixelSize> declaredPixelSize() const;

    friend bool operator==(const ImageTemplate&, const ImageTemplate&) = default;
};

}  // namespace tapforge

template <>
struct std::hash<tapforge::ImageTemplate> {
    size_t operator()(const tapforge::ImageTemplate& t) const noexcept;
};
