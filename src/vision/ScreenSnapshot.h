// One capture of a screen area: shared immutable pixels plus where they came from.
// A global point (x, y) lies at pixel ((x - origin.x) * scale, (y - origin.y) * scale) of
// `image`; pixel (px, py) lies at global point (px / scale + origin.x, py / scale + origin.y).
// A value type; copies share the pixels. Safe to read from any thread.
#pragma once

#include <memory>

#include "platform/Geometry.h"
#include "platform/ScreenGrab.h"

namespace tapforge::vision {

// Decoded or captured pixels, never modified once shared.
using SharedImage = std::shared_ptr<const platform::RgbaImage>;

struct ScreenSnapshot {
    SharedImage image;          // never null in a snapshot handed out by ScreenCapture
    double scale = 1.0;         // pixels per point, at least 1
    platform::Point origin;     // global top-left of the captured rectangle, points

    // Global points -> pixel coordinates of `image` (unrounded).
    platform::Point pixelFromGlobal(platform::Point global) const {
        return {(global.x - origin.x) * scale, (global.y - origin.y) * scale};
    }
    // Pixel coordinates of `image` -> global points.
    platform::Point globalFromPixel(platform::Point pixel) const {
        return {pixel.x / scale + origin.x, pixel.y / scale + origin.y};
    }
};

}  // namespace tapforge::vision
