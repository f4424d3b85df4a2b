#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "VisionTestSupport.h"
#include "vision/ImageMatcher.h"

namespace tapforge::vision {
namespace {

using platform::Rect;
using platform::RgbaImage;

// The obviously-correct version: every window scored from scratch.
ZnccHit referenceZncc(const std::vector<float>& img, int iw, int ih,
                      const std::vector<float>& t, int tw, int th, IntRange rx, IntRange ry, int step) {
    ZnccHit best{-1.0, rx.lower, ry.lower};
    const double n = double(tw) * th;
    double st = 0, st2 = 0;
    for (float v : t) st += v, st2 += double(v) * v;
    for (int y = ry.lower; y < ry.upper; y += step)
        for (int x = rx.lower; x < rx.upper && st2 - st * st / n > 1e-6; x += step) {
            if (x < 0 || y < 0 || x + tw > iw || y + th > ih) continue;
            double S = 0, S2 = 0, C = 0;
            for (int j = 0; j < th; ++j)
                for (int i = 0; i < tw; ++i) {
                    const double v = img[size_t(y + j) * iw + x + i];
                    S += v, S2 += v * v, C += v * t[size_t(j) * tw + i];
                }
            const double score = (C - S * st / n) / std::sqrt((S2 - S * S / n) * (st2 - st * st / n));
            if (S2 - S * S / n > 1e-6 && score > best.score) best = {score, x, y};
        }
    return best;
}

// Random sizes, ranges (partly outside or empty) and steps; values 0 to 3 give ties and flat windows.
TEST(ImageMatcher, ZnccBestAgreesWithReference) {
    std::mt19937 rng(99);
    auto uni = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
    for (int trial = 0; trial < 120; ++trial) {
        const int iw = uni(1, 90), ih = uni(1, 50), tw = uni(1, 20), th = uni(1, 12);
        std::vector<float> img(size_t(iw) * ih), t(size_t(tw) * th);
        std::uniform_real_distribution<float> v(0.0f, 255.0f);
        for (auto* pixels : {&img, &t})
            for (auto& p : *pixels) p = trial % 3 == 0 ? float(uni(0, 3)) : v(rng);
        const int x0 = uni(0, std::max(0, iw - tw)), y0 = uni(0, std::max(0, ih - th));
        for (int j = 0; trial % 5 == 0 && iw >= tw && ih >= th && j < th; ++j)   // plant a copy
            std::copy_n(&t[size_t(j) * tw], tw, &img[size_t(y0 + j) * iw + x0]);
        IntRange rx{0, iw - tw + 1}, ry{0, ih - th + 1};
        if (trial % 4 == 1) rx = {uni(-5, iw / 2), uni(0, iw + 5)}, ry = {uni(-5, ih / 2), uni(0, ih + 5)};
        const int step = trial % 4 == 2 ? uni(2, 4) : 1;
        SCOPED_TRACE(trial);
        const ZnccHit want = referenceZncc(img, iw, ih, t, tw, th, rx, ry, step);
        const ZnccHit got = ImageMatcher::znccBest(img, iw, ih, t, tw, th, rx, ry, step);
        EXPECT_NEAR(got.score, want.score, 1e-9);
        EXPECT_EQ((std::pair{got.x, got.y}), (std::pair{want.x, want.y}));
    }
    // t sits at (1, 1). A flat template or too few pixels find nothing; a step of 0 acts as 1.
    const std::vector<float> img = {5, 0, 7, 9, 0, 1, 3, 2, 4}, t = {0, 1, 2, 4}, flat(4, 3.0f);
    EXPECT_EQ(ImageMatcher::znccBest(img, 3, 3, flat, 2, 2, {0, 2}, {0, 2}, 1).score, -1.0);
    EXPECT_EQ(ImageMatcher::znccBest(std::span(img).first(8), 3, 3, t, 2, 2, {0, 2}, {0, 2}, 1).score, -1.0);
    EXPECT_NEAR(ImageMatcher::znccBest(img, 3, 3, t, 2, 2, {0, 2}, {0, 2}, 0).score, 1.0, 1e-9);
}

// Score 1 at an exact copy, in global points; among several copies the top-left one wins.
TEST(ImageMatcher, ExactCopyScoresOneAtItsPlace) {
    struct Case { int sw, sh, x, y, w, h; double scale; platform::Point origin; Rect want; };
    const Case cases[] = {
        {200, 150, 37, 81, 30, 20, 1, {0, 0}, {37, 81, 30, 20}},
        {800, 600, 0, 0, 20, 20, 1, {0, 0}, {0, 0, 20, 20}},
        {640, 480, 637, 100, 3, 8, 1, {0, 0}, {637, 100, 3, 8}},   // tiny: full resolution only
        {800, 600, 700, 250, 100, 60, 1, {0, 0}, {700, 250, 100, 60}},   // touching the right edge
        {400, 300, 60, 30, 80, 40, 2, {100, 50}, {130, 65, 40, 20}},
        {1920, 1080, 1210, 640, 100, 60, 1, {0, 0}, {702, 301, 100, 60}},   // and the copies below
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        RgbaImage screen = test::noise(c.sw, c.sh, 5);
        const RgbaImage templ = test::cut(screen, c.x, c.y, c.w, c.h);
        for (auto [x, y] : {std::pair{1500, 301}, {303, 805}, {702, 301}, {40, 302}})
            if (c.sw == 1920) test::paste(screen, templ, x, y);
        const auto r = ImageMatcher::find(templ, {c.w / c.scale, c.h / c.scale},
                                          test::snapshotOf(screen, c.scale, c.origin), std::nullopt, 0.99);
        ASSERT_TRUE(r.matched);
        EXPECT_NEAR(r.score, 1.0, 1e-9);
        EXPECT_EQ(*r.rect, c.want);
        EXPECT_EQ(*r.center, (platform::Point{c.want.x + c.want.width / 2, c.want.y + c.want.height / 2}));
    }
}

// The area is in snapshot pixels, clipped to the image; results stay global. Broken inputs find nothing.
TEST(ImageMatcher, SearchAreaAndBrokenInputs) {
    const auto screen = test::noise(600, 400, 6);
    const auto templ = test::cut(screen, 400, 250, 50, 40);
    const auto snap = test::snapshotOf(screen, 1.0, {-300, 20});
    const double nan = std::nan("");
    const auto inside = ImageMatcher::find(templ, {50, 40}, snap, Rect{380.4, 230, 100, 90}, 0.9);
    EXPECT_TRUE(inside.matched && *inside.rect == (Rect{100, 270, 50, 40}));
    EXPECT_FALSE(ImageMatcher::find(templ, {50, 40}, snap, Rect{0, 0, 300, 200}, 0.9).matched);
    EXPECT_TRUE(ImageMatcher::find(templ, {50, 40}, snap, Rect{350, 200, 1000, 1000}, 0.9).matched);
    EXPECT_FALSE(ImageMatcher::find(templ, {50, 40}, snap, Rect{599, 0, 50, 400}, 0).found());   // 1 px wide
    EXPECT_FALSE(ImageMatcher::find(templ, {50, 40}, snap, Rect{700, 0, 50, 50}, 0).found());
    EXPECT_FALSE(ImageMatcher::find(templ, {50, 40}, snap, Rect{nan, 0, 50, 50}, 0).found());
    EXPECT_FALSE(ImageMatcher::find(templ, {50, 40}, ScreenSnapshot{}, std::nullopt, 0).found());
    EXPECT_FALSE(ImageMatcher::find(RgbaImage{}, {50, 40}, snap, std::nullopt, 0).found());
    EXPECT_FALSE(ImageMatcher::find(templ, {50, 40}, test::snapshotOf(screen, 0.0), std::nullopt, 0).found());
    // A point size that cannot be scaled: the template is used at its own pixel size.
    EXPECT_TRUE(ImageMatcher::find(templ, {nan, 40}, snap, std::nullopt, 0.99).matched);
}

TEST(ImageMatcher, ThresholdDecidesMatchedButNotWhetherFound) {
    const auto screen = test::noise(200, 150, 7);
    auto templ = test::cut(screen, 40, 50, 30, 30);
    for (int y = 0; y < 30; y += 3)   // disturbed, so that the best score falls below 1
        for (int x = 0; x < 30; x += 2) test::setPixel(templ, x, y, uint8_t((x * 37 + y * 11) % 256), 0, 0);
    const auto snap = test::snapshotOf(screen);
    const auto probe = ImageMatcher::find(templ, {30, 30}, snap, std::nullopt, 0);
    ASSERT_TRUE(probe.found() && probe.score < 0.99 && probe.score > 0.3);
    EXPECT_TRUE(ImageMatcher::find(templ, {30, 30}, snap, std::nullopt, probe.score).matched);
    const auto above = ImageMatcher::find(templ, {30, 30}, snap, std::nullopt, probe.score + 1e-6);
    EXPECT_EQ(std::tie(above.matched, above.score, above.rect), std::tuple(false, probe.score, probe.rect));
}

// Screen = negated template plus an orthogonal pattern twice as strong: correlation -1 / sqrt(5).
TEST(ImageMatcher, NegativeScoresReportZeroOrNothing) {
    RgbaImage templ = test::solid(4, 2, 0, 0, 0), screen = templ, inverse = templ;
    for (int k = 0; k < 8; ++k) {
        const int x = k % 4, y = k / 4, t = y == 0 ? 40 : -40, u = x % 2 == 0 ? 80 : -80;
        for (auto [img, v] : {std::pair{&templ, 128 + t}, {&screen, 128 - t + u}, {&inverse, 128 - t}})
            test::setPixel(*img, x, y, uint8_t(v), uint8_t(v), uint8_t(v));
    }
    const auto weak = ImageMatcher::find(templ, {4, 2}, test::snapshotOf(screen), std::nullopt, -1);
    EXPECT_TRUE(weak.found() && weak.score == 0 && weak.matched);   // -0.447 >= -1: the raw score is compared
    EXPECT_FALSE(ImageMatcher::find(templ, {4, 2}, test::snapshotOf(screen), std::nullopt, 0).matched);
    EXPECT_FALSE(ImageMatcher::find(templ, {4, 2}, test::snapshotOf(inverse), std::nullopt, -1).found());
}

}  // namespace
}  // namespace tapforge::vision
