#include <gtest/gtest.h>

#include <numeric>

#include "VisionTestSupport.h"
#include "vision/PixelBuffer.h"
#include "vision/Resize.h"

namespace tapforge::vision {
namespace {

TEST(Resize, SameSizeReturnsTheSameImageAndBadSizesNothing) {
    const SharedImage img = std::make_shared<const platform::RgbaImage>(test::noise(7, 5, 1));
    EXPECT_EQ(resized(img, 7, 5).get(), img.get());
    for (auto [w, h] : {std::pair{0, 5}, {7, -1}}) EXPECT_FALSE(resized(img, w, h));
    EXPECT_FALSE(resized(nullptr, 3, 3));
    const auto other = resized(img, 3, 9);
    ASSERT_TRUE(other);
    EXPECT_EQ(std::tuple(other->width, other->height, other->pixels.size()), std::tuple(3, 9, 3 * 9 * 4u));
}

TEST(Resize, DownscaleAveragesTheCoveredArea) {
    platform::RgbaImage img = test::solid(4, 2, 0, 0, 0), out;
    test::setPixel(img, 0, 0, 100, 0, 0), test::setPixel(img, 1, 0, 200, 0, 0);
    test::setPixel(img, 0, 1, 0, 40, 0), test::setPixel(img, 1, 1, 100, 0, 8);
    ASSERT_TRUE(resizeRgba(img, 2, 1, out));
    EXPECT_EQ(out.pixels, (std::vector<uint8_t>{100, 10, 2, 255, 0, 0, 0, 255}));
    ASSERT_TRUE(resizeRgba(test::solid(19, 7, 30, 60, 90), 5, 3, out));
    for (size_t i = 0; i < out.pixels.size(); i += 4) EXPECT_EQ(out.pixels[i + 1], 60);
    std::vector<float> g(19 * 7, 0.0f), small;
    g[0] = 95.0f;   // one bright pixel in a 19-pixel row shrunk to 5: its area share survives
    ASSERT_TRUE(resizeGray(g.data(), 19, 7, 19, 5, 7, small));
    EXPECT_NEAR(small[0], 95.0f * 5 / 19, 1e-4);
    EXPECT_NEAR(std::accumulate(small.begin(), small.end(), 0.0f) * 19 / 5, 95.0f, 1e-3);
}

TEST(Resize, GreyPathMatchesColourPath) {
    const auto img = test::noise(90, 70, 4);
    const std::vector<float> g = PixelBuffer{90, 70, img.pixels}.grayFloats();
    std::vector<float> viaGrey;
    for (auto [w, h] : {std::pair{30, 20}, {41, 70}, {120, 33}}) {
        SCOPED_TRACE(w);
        platform::RgbaImage rgba;
        ASSERT_TRUE(resizeRgba(img, w, h, rgba));
        ASSERT_TRUE(resizeGray(g.data(), 90, 70, 90, w, h, viaGrey));
        const auto viaColour = PixelBuffer{w, h, rgba.pixels}.grayFloats();
        for (size_t i = 0; i < viaGrey.size(); ++i) ASSERT_NEAR(viaGrey[i], viaColour[i], 0.51f) << i;
    }
}

}  // namespace
}  // namespace tapforge::vision
