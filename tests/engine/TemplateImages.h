// Textured test images and templates built from them.
#pragma once

#include <cstdint>

#include "model/ImageTemplate.h"
#include "platform/ScreenGrab.h"
#include "vision/Base64.h"
#include "vision/PngCodec.h"

namespace tapforge::test {

// Opaque pseudo-random blocks of 3 x 3 pixels: no flat areas, no repeats.
inline platform::RgbaImage texturedImage(int width, int height, uint32_t seed) {
    platform::RgbaImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint32_t v = seed * 2654435761u ^ uint32_t(x / 3) * 40503u ^ uint32_t(y / 3) * 9973u;
            v ^= v >> 13;
            v *= 0x5bd1e995u;
            v ^= v >> 15;
            uint8_t* p = image.pixels.data() + (size_t(y) * width + x) * 4;
            p[0] = uint8_t(v);
            p[1] = uint8_t(v >> 8);
            p[2] = uint8_t(v >> 16);
            p[3] = 255;
        }
    return image;
}

inline ImageTemplate templateOf(const platform::RgbaImage& image, double originX, double originY) {
    ImageTemplate t;
    t.name = "按钮";
    t.widthPoints = image.width;
    t.heightPoints = image.height;
    t.originX = originX;
    t.originY = originY;
    const auto png = vision::PngCodec::encode(image);
    if (png) t.pngBase64 = vision::encodeBase64(*png);
    return t;
}

}  // namespace tapforge::test
