// An image to search the screen for, with where and at what scale it was captured.
#pragma once

#include <string>

namespace tapforge {

struct ImageTemplate {
    std::string name = "模板";   // unique key in the script's library for Lua lookups
    double widthPoints = 0;       // size of the captured region, points
    double heightPoints = 0;
    double originX = 0;           // top-left of the captured region, global points
    double originY = 0;
    double pixelScale = 1.0;      // capture pixels per point, at least 1
    std::string pngBase64;        // PNG file in standard Base64; empty = no image

    friend bool operator==(const ImageTemplate&, const ImageTemplate&) = default;
};

}  // namespace tapforge

template <>
struct std::hash<tapforge::ImageTemplate> {
    size_t operator()(const tapforge::ImageTemplate& t) const noexcept;
};
