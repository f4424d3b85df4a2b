// Whole-screen searches where the coarsest pyramid level prefers the wrong spot.
#include <gtest/gtest.h>

#include <random>

#include "vision/ImageMatcher.h"
#include "vision/PixelBuffer.h"

namespace tapforge::vision {
namespace {

using platform::RgbaImage;

RgbaImage filled(int w, int h, uint32_t rgb) {
    RgbaImage img{w, h, std::vector<uint8_t>(size_t(w) * h * 4, 255)};
    for (size_t i = 0; i < img.pixels.size(); i += 4)
        img.pixels[i] = uint8_t(rgb >> 16), img.pixels[i + 1] = uint8_t(rgb >> 8), img.pixels[i + 2] = uint8_t(rgb);
    return img;
}

void paste(RgbaImage& dst, const RgbaImage& src, int x0, int y0, int sx = 0, int sy = 0, int w = -1, int h = -1) {
    w = w < 0 ? src.width : w, h = h < 0 ? src.height : h;
    for (int y = 0; y < h; ++y)
        std::copy_n(src.pixel(sx, sy + y), size_t(w) * 4, dst.pixels.data() + (size_t(y0 + y) * dst.width + x0) * 4);
}

RgbaImage cut(const RgbaImage& src, int x, int y, int w, int h) {
    RgbaImage out = filled(w, h, 0);
    paste(out, src, 0, 0, x, y, w, h);
    return out;
}

// Blue and orange squares over a green bar: at the coarsest level, half a mark beside black
// scores higher than the mark itself.
RgbaImage mark(int size) {
    RgbaImage m = filled(size, size, 0x20A040);
    const int half = size / 2;
    paste(m, filled(half, half, 0x3366CC), 0, 0);
    paste(m, filled(size - half, half, 0xFF8800), half, 0);
    return m;
}

// Coloured panels over fine noise: unique everywhere, yet it survives downscaling.
RgbaImage desktop(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    RgbaImage img = filled(w, h, 0x808080);
    for (int k = 0; k < w * h / 2000; ++k) {
        const int pw = int(rng() % 120) + 6, ph = int(rng() % 60) + 6;
        paste(img, filled(pw, ph, rng() & 0xFFFFFF), int(rng() % (w - pw)), int(rng() % (h - ph)));
    }
    for (size_t i = 0; i < img.pixels.size(); ++i)
        if (i % 4 != 3) img.pixels[i] = uint8_t(std::clamp(int(img.pixels[i]) + int(rng() % 31) - 15, 0, 255));
    return img;
}

std::vector<float> grey(const RgbaImage& img) {
    std::vector<float> g(size_t(img.width) * img.height);
    grayFloats(img.pixels.data(), g.size(), g.data());
    return g;
}

ImageMatchResult findWhole(const RgbaImage& screen, const RgbaImage& templ) {
    const ScreenSnapshot snap{std::make_shared<const RgbaImage>(screen), 1.0, {0, 0}};
    return ImageMatcher::find(templ, {double(templ.width), double(templ.height)}, snap, std::nullopt, 0.9);
}

// The full-resolution answer: every position of the screen (znccBest itself is checked against
// a one-position-at-a-time reference).
ZnccHit exhaustive(const RgbaImage& screen, const RgbaImage& templ) {
    return ImageMatcher::znccBest(grey(screen), screen.width, screen.height, grey(templ), templ.width, templ.height,
                                  {0, screen.width - templ.width + 1}, {0, screen.height - templ.height + 1}, 1);
}

struct MarkCase {
    int size, x, y;
};
class MarkOnBlackScreen : public testing::TestWithParam<MarkCase> {};

TEST_P(MarkOnBlackScreen, IsFoundAtItsPlaceNotAtAPartialOverlap) {
    const MarkCase c = GetParam();
    RgbaImage screen = filled(1920, 1080, 0);
    paste(screen, mark(c.size), c.x, c.y);
    const ImageMatchResult r = findWhole(screen, mark(c.size));
    ASSERT_TRUE(r.found());
    EXPECT_NEAR(r.score, 1.0, 1e-9);
    EXPECT_EQ(*r.rect, (platform::Rect{double(c.x), double(c.y), double(c.size), double(c.size)}));
}
INSTANTIATE_TEST_SUITE_P(SizesAndGridPhases, MarkOnBlackScreen,
                         testing::Values(MarkCase{60, 700, 500}, MarkCase{60, 706, 502}, MarkCase{60, 701, 506},
                                         MarkCase{45, 1201, 300}, MarkCase{80, 64, 903}, MarkCase{100, 1500, 97}));

// Copies (one to three, sometimes on a mildly disturbed screen) of random cut-outs and marks:
// the pyramid must reach the exhaustive search's best score, at a spot that really scores it.
TEST(PyramidCandidates, WholeScreenAgreesWithExhaustiveSearch) {
    std::mt19937 rng(2024);
    auto uni = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
    for (int trial = 0; trial < 10; ++trial) {
        const int sw = uni(620, 960), sh = uni(400, 600);
        RgbaImage screen = trial % 3 == 2 ? filled(sw, sh, 0) : desktop(sw, sh, uint32_t(trial));
        const int tw = uni(24, 90), th = trial % 3 == 2 ? tw : uni(24, 70);
        const RgbaImage templ = trial % 3 == 2 ? mark(tw) : cut(screen, uni(0, sw - tw), uni(0, sh - th), tw, th);
        const int copies = uni(1, 3);
        for (int k = 0; k < copies; ++k) paste(screen, templ, uni(0, sw - tw), uni(0, sh - th));
        if (trial % 2 == 1)
            for (size_t i = 0; i < screen.pixels.size(); i += 4 * 7) screen.pixels[i] ^= 8;
        SCOPED_TRACE(testing::Message() << "trial " << trial << " screen " << sw << "x" << sh << " template " << tw
                                        << "x" << th << " copies " << copies);
        const ZnccHit want = exhaustive(screen, templ);
        const ImageMatchResult got = findWhole(screen, templ);
        ASSERT_TRUE(got.found());
        EXPECT_NEAR(got.score, want.score, 1e-9);
        const int x = int(got.rect->x), y = int(got.rect->y);
        const ZnccHit there = ImageMatcher::znccBest(grey(screen), sw, sh, grey(templ), tw, th, {x, x + 1}, {y, y + 1}, 1);
        EXPECT_NEAR(there.score, want.score, 1e-9) << "reported at " << x << "," << y;
    }
}

// Exact copies score 1 up to rounding that differs from window to window: the top-left copy
// (smaller y, then smaller x) wins, however the coarsest level ranks them.
TEST(PyramidCandidates, ExactCopiesTieAtTheTopLeftOne) {
    RgbaImage screen = desktop(1920, 1080, 31);
    const RgbaImage templ = cut(screen, 1210, 640, 100, 60);
    for (const auto& [x, y] : {std::pair{1500, 301}, {303, 805}, {702, 301}, {40, 302}}) paste(screen, templ, x, y);
    const ImageMatchResult got = findWhole(screen, templ);
    ASSERT_TRUE(got.found());
    EXPECT_NEAR(got.score, 1.0, 1e-9);
    EXPECT_EQ(*got.rect, (platform::Rect{702, 301, 100, 60}));
}

// One clear peak: the other candidates are abandoned against its final score, which must not
// disturb that score when it is below 1 (a disturbed copy).
TEST(PyramidCandidates, SinglePeakKeepsItsExactScoreBelowOne) {
    RgbaImage screen = desktop(1000, 640, 77);
    RgbaImage templ = cut(screen, 610, 340, 100, 60);
    for (size_t i = 0; i < templ.pixels.size(); i += 4 * 5) templ.pixels[i + 1] ^= 0x30;
    const ZnccHit want = exhaustive(screen, templ);
    ASSERT_LT(want.score, 0.99);
    const ImageMatchResult got = findWhole(screen, templ);
    ASSERT_TRUE(got.found());
    EXPECT_NEAR(got.score, want.score, 1e-9);
    EXPECT_EQ(*got.rect, (platform::Rect{610, 340, 100, 60}));
}

}  // namespace
}  // namespace tapforge::vision
