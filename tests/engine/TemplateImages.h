// Textured test images, templates built from them, and a runner fixture with one drawn on screen.
#pragma once

#include <cstdint>

#include "RunnerFixture.h"
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

// A 40 x 30 textured patch drawn at (200, 150), where its template was captured.
class ImageFixture : public RunnerFixture {
protected:
    void SetUp() override {
        RunnerFixture::SetUp();
        sim->draw(patch, {200, 150});
    }
    // An image check searching 4 points around the capture place; `branch` is taken either way.
    Step imageStep(BranchTarget branch = {}, bool wait = false, int64_t timeoutMs = 0, int64_t pollMs = 200) {
        Step s(StepKind::imageCheck);
        s.imageTemplate = templateOf(patch, 200, 150);
        s.waitForCondition = wait;
        s.timeoutMs = timeoutMs;
        s.pollMs = pollMs;
        s.threshold = 0.9;
        s.searchFullScreen = false;
        s.searchMargin = 4;
        s.onSuccess = branch;
        s.onFailure = branch;
        return s;
    }
    platform::RgbaImage patch = texturedImage(40, 30, 11);
};

}  // namespace tapforge::test
