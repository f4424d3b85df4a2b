#include <gtest/gtest.h>

#include <cstring>

#include "VisionTestSupport.h"
#include "vision/PixelBuffer.h"
#include "vision/ScreenCapture.h"

namespace tapforge::vision {
namespace {

TEST(PixelBuffer, AverageCountsOnlyPixelsInsideTheBuffer) {
    platform::RgbaImage img = test::solid(4, 3, 0, 0, 0);
    test::setPixel(img, 0, 0, 10, 100, 0), test::setPixel(img, 1, 0, 20, 100, 1);
    test::setPixel(img, 0, 1, 30, 100, 1), test::setPixel(img, 1, 1, 41, 103, 1);
    test::setPixel(img, 2, 2, 200, 201, 202);   // outside the corner's square
    test::setPixel(img, 3, 0, 8, 9, 10);
    const PixelBuffer b = *ScreenCapture::pixelBuffer(img);
    EXPECT_EQ(b.averageRGB(0, 0, 1), (Rgb{25, 100, 0}));   // 3 / 4 truncates to 0
    EXPECT_EQ(b.averageRGB(2, 2, 0), (Rgb{200, 201, 202}));
    EXPECT_EQ(b.averageRGB(3, 2, 1), (Rgb{50, 50, 50}));   // (2,1),(3,1),(2,2),(3,2): 200/4, 201/4, 202/4
    EXPECT_EQ(b.averageRGB(-5, -5, 1), (Rgb{}));
    EXPECT_EQ(b.averageRGB(4, 0, 1), (Rgb{4, 4, 5}));      // one past the edge: (3,0) and (3,1) only
    EXPECT_FALSE(ScreenCapture::pixelBuffer(platform::RgbaImage{}));   // short storage: see ColorMatcher
}

// Bit for bit, for lengths around the 16-pixel blocks and every byte value of each channel.
TEST(PixelBuffer, VectorGrayEqualsScalarFormulaExactly) {
    for (int n : {0, 1, 15, 16, 17, 31, 32, 33, 100, 257, 6000}) {
        SCOPED_TRACE(n);
        const platform::RgbaImage img = test::noise(std::max(n, 1), 1, uint32_t(n) + 7);
        std::vector<float> out(size_t(std::max(n, 1)), -1.0f);
        grayFloats(img.pixels.data(), size_t(n), out.data());
        for (int i = 0; i < n; ++i) {
            const uint8_t* p = img.pixels.data() + size_t(i) * 4;
            const float want = grayScalar(p[0], p[1], p[2]);
            ASSERT_EQ(std::memcmp(&out[size_t(i)], &want, sizeof want), 0) << "pixel " << i;
        }
        if (n == 0) { EXPECT_EQ(out[0], -1.0f); }
    }
}

}  // namespace
}  // namespace tapforge::vision
