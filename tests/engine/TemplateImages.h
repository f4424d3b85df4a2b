// Templates built from noise images, and a runner fixture with one drawn on screen.
#pragma once

#include "RunnerFixture.h"
#include "../vision/VisionTestSupport.h"
#include "model/ImageTemplate.h"
#include "platform/ScreenGrab.h"
#include "vision/Base64.h"
#include "vision/PngCodec.h"

namespace tapforge::test {

using vision::test::noise;

inline ImageTemplate templateOf(const platform::RgbaImage& image, double originX, double originY) {
    ImageTemplate t;
    t.name = "按钮";
    t.widthPoints = image.width, t.heightPoints = image.height, t.originX = originX, t.originY = originY;
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
        s.waitForCondition = wait, s.timeoutMs = timeoutMs, s.pollMs = pollMs;
        s.threshold = 0.9, s.searchFullScreen = false, s.searchMargin = 4;
        s.onSuccess = s.onFailure = branch;
        return s;
    }
    platform::RgbaImage patch = noise(40, 30, 11);
};

}  // namespace tapforge::test
