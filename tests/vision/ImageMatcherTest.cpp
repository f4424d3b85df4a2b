#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "VisionTestSupport.h"
#include "vision/ImageMatcher.h"
#include "vision/PixelBuffer.h"

namespace tapforge::vision {
namespace {

using platform::Rect;

// The obviously-correct version: full-image summed-area tables, one position at a time.
ZnccHit referenceZncc(const std::vector<float>& img, int iw, int ih, const std::vector<float>& t, int tw, int th,
                      IntRange rx, IntRange ry, int step) {
    ZnccHit best{-1.0, rx.lower, ry.lower};
    if (iw < tw || ih < th || rx.empty() || ry.empty()) return best;
    const double n = double(tw) * th;
    double st = 0, st2 = 0;
    for (float v : t) {
        st += v;
        st2 += double(v) * v;
    }
    const double varT = st2 - st * st / n;
    if (!(varT > 1e-6)) return best;
    std::vector<double> I(size_t(iw + 1) * (ih + 1)), Q(I.size());
    for (int y = 0; y < ih; ++y) {
        double row = 0, rowSq = 0;
        for (int x = 0; x < iw; ++x) {
            const double v = img[size_t(y) * iw + x];
            row += v;
            rowSq += v * v;
            I[size_t(y + 1) * (iw + 1) + x + 1] = row + I[size_t(y) * (iw + 1) + x + 1];
            Q[size_t(y + 1) * (iw + 1) + x + 1] = rowSq + Q[size_t(y) * (iw + 1) + x + 1];
        }
    }
    auto at = [&](const std::vector<double>& s, int x, int y) { return s[size_t(y) * (iw + 1) + x]; };
    for (int y = ry.lower; y < ry.upper; y += step) {
        for (int x = rx.lower; x < rx.upper; x += step) {
            if (x < 0 || y < 0 || x + tw > iw || y + th > ih) continue;
            const double S = at(I, x + tw, y + th) - at(I, x + tw, y) - at(I, x, y + th) + at(I, x, y);
            const double S2 = at(Q, x + tw, y + th) - at(Q, x + tw, y) - at(Q, x, y + th) + at(Q, x, y);
            const double varW = S2 - S * S / n;
            if (!(varW > 1e-6)) continue;
            double C = 0;
            for (int j = 0; j < th; ++j)
                for (int i = 0; i < tw; ++i) C += double(img[size_t(y + j) * iw + x + i]) * t[size_t(j) * tw + i];
            const double score = (C - S * st / n) / std::sqrt(varW * varT);
            if (score > best.score) best = {score, x, y};
        }
    }
    return best;
}

// Fast against slow on random sizes, ranges (also partly outside the image) and steps.
TEST(ImageMatcher, ZnccBestAgreesWithReference) {
    std::mt19937 rng(99);
    auto uni = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
    for (int trial = 0; trial < 120; ++trial) {
        const int iw = uni(1, 90), ih = uni(1, 50), tw = uni(1, 20), th = uni(1, 12);
        const bool integral = trial % 3 == 0;
        std::vector<float> img(size_t(iw) * ih), t(size_t(tw) * th);
        std::uniform_real_distribution<float> v(0.0f, 255.0f);
        for (auto& p : img) p = integral ? float(uni(0, 3)) : v(rng);
        for (auto& p : t) p = integral ? float(uni(0, 3)) : v(rng);
        if (trial % 5 == 0 && iw >= tw && ih >= th) {   // plant a copy
            const int x0 = uni(0, iw - tw), y0 = uni(0, ih - th);
            for (int j = 0; j < th; ++j)
                for (int i = 0; i < tw; ++i) img[size_t(y0 + j) * iw + x0 + i] = t[size_t(j) * tw + i];
        }
        IntRange rx{0, iw - tw + 1}, ry{0, ih - th + 1};
        int step = 1;
        if (trial % 4 == 1) {
            rx = {uni(-5, iw / 2), uni(0, iw + 5)};
            ry = {uni(-5, ih / 2), uni(0, ih + 5)};
        }
        if (trial % 4 == 2) step = uni(2, 4);
        SCOPED_TRACE(testing::Message() << "image " << iw << "x" << ih << " template " << tw << "x" << th << " rx ["
                                        << rx.lower << "," << rx.upper << ") ry [" << ry.lower << "," << ry.upper
                                        << ") step " << step);
        const ZnccHit want = referenceZncc(img, iw, ih, t, tw, th, rx, ry, step);
        const ZnccHit got = ImageMatcher::znccBest(img, iw, ih, t, tw, th, rx, ry, step);
        EXPECT_NEAR(got.score, want.score, 1e-9);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
    }
}

TEST(ImageMatcher, ZnccTiesKeepTheFirstPositionInRowMajorOrder) {
    const std::vector<float> t = {0, 9, 9, 0};
    // Copies at (6, 1), (2, 3) and (7, 3): y decides first, then x.
    std::vector<float> img(10 * 6, 4.0f);
    auto plant = [&](int x, int y) {
        img[size_t(y) * 10 + x] = 0;
        img[size_t(y) * 10 + x + 1] = 9;
        img[size_t(y + 1) * 10 + x] = 9;
        img[size_t(y + 1) * 10 + x + 1] = 0;
    };
    plant(7, 3);
    plant(2, 3);
    auto hit = ImageMatcher::znccBest(img, 10, 6, t, 2, 2, {0, 9}, {0, 5}, 1);
    EXPECT_EQ(hit.x, 2);
    EXPECT_EQ(hit.y, 3);
    EXPECT_NEAR(hit.score, 1.0, 1e-12);
    plant(6, 1);
    hit = ImageMatcher::znccBest(img, 10, 6, t, 2, 2, {0, 9}, {0, 5}, 1);
    EXPECT_EQ(hit.x, 6);
    EXPECT_EQ(hit.y, 1);
}

TEST(ImageMatcher, ZnccRefusals) {
    const std::vector<float> img(8 * 8, 0.0f), flatT(4, 3.0f), t = {0, 1, 2, 3};
    // Flat template.
    std::vector<float> textured(64);
    for (size_t i = 0; i < textured.size(); ++i) textured[i] = float(i % 7);
    EXPECT_EQ(ImageMatcher::znccBest(textured, 8, 8, flatT, 2, 2, {0, 7}, {0, 7}, 1).score, -1.0);
    // Only flat windows.
    EXPECT_EQ(ImageMatcher::znccBest(img, 8, 8, t, 2, 2, {0, 7}, {0, 7}, 1).score, -1.0);
    // Image smaller than the template; empty ranges; spans shorter than the stated size.
    EXPECT_EQ(ImageMatcher::znccBest(textured, 1, 8, t, 2, 2, {0, 1}, {0, 7}, 1).score, -1.0);
    const auto empty = ImageMatcher::znccBest(textured, 8, 8, t, 2, 2, {3, 3}, {1, 7}, 1);
    EXPECT_EQ(empty.score, -1.0);
    EXPECT_EQ(empty.x, 3);
    EXPECT_EQ(empty.y, 1);
    EXPECT_EQ(ImageMatcher::znccBest(std::span(textured).first(10), 8, 8, t, 2, 2, {0, 7}, {0, 7}, 1).score, -1.0);
    // A step of 0 behaves as 1 instead of looping forever.
    EXPECT_GT(ImageMatcher::znccBest(textured, 8, 8, t, 2, 2, {0, 7}, {0, 7}, 0).score, 0.5);
}

struct FindCase {
    int screenW, screenH, x, y, w, h;
};

class FindExactCopy : public testing::TestWithParam<FindCase> {};

TEST_P(FindExactCopy, ScoresOneAtItsPlace) {
    const FindCase c = GetParam();
    const auto screen = test::texture(c.screenW, c.screenH, 5);
    const auto templ = test::cut(screen, c.x, c.y, c.w, c.h);
    const auto r = ImageMatcher::find(templ, {double(c.w), double(c.h)}, test::snapshotOf(screen), std::nullopt, 0.99);
    ASSERT_TRUE(r.found());
    EXPECT_TRUE(r.matched);
    EXPECT_NEAR(r.score, 1.0, 1e-9);
    EXPECT_EQ(*r.rect, (Rect{double(c.x), double(c.y), double(c.w), double(c.h)}));
    EXPECT_EQ(*r.center, (platform::Point{c.x + c.w / 2.0, c.y + c.h / 2.0}));
}
INSTANTIATE_TEST_SUITE_P(Sizes, FindExactCopy,
                         testing::Values(FindCase{200, 150, 37, 81, 30, 20},        // single pass
                                         FindCase{800, 600, 512, 333, 100, 60},     // two levels
                                         FindCase{1920, 1080, 1210, 640, 100, 60},  // three levels
                                         FindCase{1920, 1080, 0, 0, 20, 20},        // at the corner
                                         FindCase{640, 480, 637, 100, 3, 8}));      // tiny: full resolution

TEST(ImageMatcher, ScaleTwoSnapshotMatchesInPixelsAndReportsPoints) {
    auto screen = test::texture(400, 300, 3);
    const auto templ = test::cut(screen, 60, 30, 80, 40);
    const auto snap = test::snapshotOf(screen, 2.0, {100, 50});
    const auto r = ImageMatcher::find(templ, {40, 20}, snap, std::nullopt, 0.9);
    ASSERT_TRUE(r.matched);
    EXPECT_NEAR(r.score, 1.0, 1e-9);
    EXPECT_EQ(*r.rect, (Rect{130, 65, 40, 20}));
    EXPECT_EQ(*r.center, (platform::Point{150, 75}));
}

TEST(ImageMatcher, SearchRectangleLimitsTheSearchAndResultsStayGlobal) {
    auto screen = test::texture(600, 400, 6);
    const auto templ = test::cut(screen, 400, 250, 50, 40);
    const auto snap = test::snapshotOf(screen, 1.0, {-300, 20});
    const auto inside = ImageMatcher::find(templ, {50, 40}, snap, Rect{380.4, 230, 100, 90}, 0.9);
    ASSERT_TRUE(inside.matched);
    EXPECT_EQ(*inside.rect, (Rect{100, 270, 50, 40}));
    const auto elsewhere = ImageMatcher::find(templ, {50, 40}, snap, Rect{0, 0, 300, 200}, 0.9);
    EXPECT_FALSE(elsewhere.matched);
    // Clipped to the image; thinner than 2 pixels after clipping finds nothing.
    EXPECT_TRUE(ImageMatcher::find(templ, {50, 40}, snap, Rect{350, 200, 1000, 1000}, 0.9).matched);
    EXPECT_FALSE(ImageMatcher::find(templ, {50, 40}, snap, Rect{599, 0, 50, 400}, 0).found());
    EXPECT_FALSE(ImageMatcher::find(templ, {50, 40}, snap, Rect{700, 0, 50, 50}, 0).found());
}

TEST(ImageMatcher, ThresholdDecidesMatchedButNotWhetherFound) {
    auto screen = test::texture(200, 150, 7);
    auto templ = test::cut(screen, 40, 50, 30, 30);
    // Disturb the template so that the best score falls below 1.
    for (int y = 0; y < 30; y += 3)
        for (int x = 0; x < 30; x += 2) test::setGrey(templ, x, y, uint8_t((x * 37 + y * 11) % 256));
    const auto snap = test::snapshotOf(screen);
    const auto probe = ImageMatcher::find(templ, {30, 30}, snap, std::nullopt, 0);
    ASSERT_TRUE(probe.found());
    ASSERT_LT(probe.score, 0.99);
    ASSERT_GT(probe.score, 0.3);
    const auto at = ImageMatcher::find(templ, {30, 30}, snap, std::nullopt, probe.score);
    EXPECT_TRUE(at.matched);
    const auto above = ImageMatcher::find(templ, {30, 30}, snap, std::nullopt, probe.score + 1e-6);
    EXPECT_FALSE(above.matched);
    EXPECT_EQ(above.score, probe.score);
    ASSERT_TRUE(above.rect);
    EXPECT_EQ(*above.rect, *probe.rect);
}

// A search area exactly the template's size has one position, so its score is the score.
TEST(ImageMatcher, NegativeScoresReportZeroOrNothing) {
    // Template rows +-40 around 128; the screen mixes the negated template with an orthogonal
    // pattern twice as strong: correlation -1 / sqrt(5), about -0.447.
    platform::RgbaImage templ = test::solid(4, 2, 0, 0, 0), screen = templ, inverse = templ;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) {
            const int t = y == 0 ? 40 : -40, u = (x % 2 == 0) ? 80 : -80;
            test::setGrey(templ, x, y, uint8_t(128 + t));
            test::setGrey(screen, x, y, uint8_t(128 - t + u));
            test::setGrey(inverse, x, y, uint8_t(128 - t));
        }
    const auto weak = ImageMatcher::find(templ, {4, 2}, test::snapshotOf(screen), std::nullopt, -1);
    ASSERT_TRUE(weak.found());
    EXPECT_EQ(weak.score, 0);
    EXPECT_TRUE(weak.matched);   // -0.447 >= -1: the raw score is compared
    EXPECT_FALSE(ImageMatcher::find(templ, {4, 2}, test::snapshotOf(screen), std::nullopt, 0).matched);
    EXPECT_FALSE(ImageMatcher::find(templ, {4, 2}, test::snapshotOf(inverse), std::nullopt, -1).found());
}

TEST(ImageMatcher, BrokenInputsFindNothing) {
    const auto screen = test::texture(100, 100, 8);
    const auto templ = test::cut(screen, 10, 10, 20, 20);
    EXPECT_FALSE(ImageMatcher::find(templ, {20, 20}, ScreenSnapshot{}, std::nullopt, 0).found());
    EXPECT_FALSE(ImageMatcher::find(platform::RgbaImage{}, {20, 20}, test::snapshotOf(screen), std::nullopt, 0).found());
    EXPECT_FALSE(ImageMatcher::find(templ, {20, 20}, test::snapshotOf(screen, 0.0), std::nullopt, 0).found());
    EXPECT_FALSE(ImageMatcher::find(templ, {20, 20}, test::snapshotOf(screen), Rect{std::nan(""), 0, 50, 50}, 0).found());
    // A point size that cannot be scaled: the template is used at its own pixel size.
    EXPECT_TRUE(ImageMatcher::find(templ, {std::nan(""), 20}, test::snapshotOf(screen), std::nullopt, 0.99).matched);
}

}  // namespace
}  // namespace tapforge::vision
