// find against a slow, obviously correct exhaustive search: every position at full resolution,
// scored with two-pass means and variances, best score, ties to the top-left.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <thread>

#include "VisionTestSupport.h"
#include "vision/Fft.h"
#include "vision/FullSearch.h"
#include "vision/ImageMatcher.h"
#include "vision/PixelBuffer.h"
#include "vision/SearchPool.h"

namespace tapforge::vision {
namespace {

using platform::Rect;
using platform::RgbaImage;
using test::setPixel;
using test::solid;

struct Best {
    double score = -2;
    int x = -1, y = -1;
};

std::vector<float> grey(const RgbaImage& img) {
    std::vector<float> g(size_t(img.width) * img.height);
    for (size_t i = 0; i < g.size(); ++i)
        g[i] = grayScalar(img.pixels[i * 4], img.pixels[i * 4 + 1], img.pixels[i * 4 + 2]);
    return g;
}

// Every top-left position of the template inside the area x0, y0, w, h of the screen.
Best exhaustive(const RgbaImage& screen, const RgbaImage& templ, int x0, int y0, int w, int h) {
    const std::vector<float> img = grey(screen), t = grey(templ);
    const int tw = templ.width, th = templ.height;
    const double n = double(tw) * th;
    double meanT = 0;
    for (float v : t) meanT += v;
    meanT /= n;
    double varT = 0;
    for (float v : t) varT += (v - meanT) * (v - meanT);
    std::vector<std::pair<double, std::pair<int, int>>> scores;
    double top = -2;
    if (!(varT > 1e-6)) return {};
    for (int y = y0; y + th <= y0 + h; ++y)
        for (int x = x0; x + tw <= x0 + w; ++x) {
            double mean = 0;
            for (int j = 0; j < th; ++j)
                for (int i = 0; i < tw; ++i) mean += img[size_t(y + j) * screen.width + x + i];
            mean /= n;
            double var = 0, cross = 0;
            for (int j = 0; j < th; ++j)
                for (int i = 0; i < tw; ++i) {
                    const double d = img[size_t(y + j) * screen.width + x + i] - mean;
                    var += d * d;
                    cross += d * (t[size_t(j) * tw + i] - meanT);
                }
            if (!(var > 1e-6)) continue;
            const double score = cross / std::sqrt(var * varT);
            scores.push_back({score, {x, y}});
            top = std::max(top, score);
        }
    for (const auto& [score, at] : scores)
        if (score >= top - 1e-9) return {score, at.first, at.second};
    return {};
}

// Screens a user searches: text, icons on flat panels, tiles, gradients, noise.
enum class Content { text, icons, tiles, gradient, noise };

RgbaImage makeScreen(Content kind, int w, int h, std::mt19937& rng) {
    auto uni = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
    RgbaImage img = solid(w, h, uint8_t(uni(200, 255)), uint8_t(uni(200, 255)), uint8_t(uni(200, 255)));
    switch (kind) {
    case Content::text:   // lines of 1-2 px strokes, glyph-sized
        for (int line = 4; line + 12 < h; line += 16)
            for (int x = 2; x + 8 < w; x += uni(6, 9))
                for (int k = 0; k < 4; ++k) {
                    const int gx = x + uni(0, 5), gy = line + uni(0, 10), len = uni(2, 8);
                    const bool vertical = uni(0, 1);
                    for (int s = 0; s < len; ++s) {
                        const int px = std::min(gx + (vertical ? 0 : s), w - 1), py = std::min(gy + (vertical ? s : 0), h - 1);
                        setPixel(img, px, py, 30, 30, 40);
                    }
                }
        break;
    case Content::icons:   // flat panels, a few small icons on them
        for (int k = 0; k < 6; ++k) {
            const int px = uni(0, w - 20), py = uni(0, h - 20), pw = uni(20, w - px), ph = uni(20, h - py);
            const uint8_t c = uint8_t(uni(160, 240));
            for (int y = py; y < py + ph; ++y)
                for (int x = px; x < px + pw; ++x) setPixel(img, x, y, c, c, uint8_t(c - 10));
        }
        for (int k = 0; k < 12; ++k) {
            const int size = uni(8, 16), ix = uni(0, w - size), iy = uni(0, h - size);
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    if ((x - size / 2) * (x - size / 2) + (y - size / 2) * (y - size / 2) < size * size / 5 || x == y)
                        setPixel(img, ix + x, iy + y, uint8_t(uni(0, 120)), uint8_t(uni(0, 255)), 200);
        }
        break;
    case Content::tiles: {   // one small tile repeated, with a few altered tiles
        const int tile = uni(6, 12);
        RgbaImage t = test::noise(tile, tile, uint32_t(rng()));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) std::copy_n(t.pixel(x % tile, y % tile), 4, img.pixels.data() + (size_t(y) * w + x) * 4);
        for (int k = 0; k < 3; ++k) setPixel(img, uni(0, w - 1), uni(0, h - 1), 255, 0, 0);
        break;
    }
    case Content::gradient:
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) setPixel(img, x, y, uint8_t(x * 255 / w), uint8_t(y * 255 / h), uint8_t((x + y) % 256));
        break;
    case Content::noise:
        img = test::noise(w, h, uint32_t(rng()));
        break;
    }
    return img;
}

// Many seeded cases: whole screens and regions, scale 1 and 2, templates 8 to 300 pixels cut
// from the screen (sometimes altered, sometimes from another screen, so that no exact copy exists).
TEST(ExhaustiveSearch, FindAgreesWithExhaustiveSearch) {
    std::mt19937 rng(20261207);
    auto uni = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
    int checked = 0;
    for (int trial = 0; trial < 150; ++trial) {
        const Content kind = Content(trial % 5);
        const bool big = trial % 6 == 0;   // whole screens over 300 px: the pyramid proposes
        const int w = big ? uni(320, 480) : uni(40, 300), h = big ? uni(200, 300) : uni(30, 200);
        RgbaImage screen = makeScreen(kind, w, h, rng);
        const int maxT = big ? 40 : 300;
        const int tw = std::min(uni(8, maxT), w), th = std::min(uni(8, maxT), h);
        const int cx = uni(0, w - tw), cy = uni(0, h - th);
        RgbaImage templ = test::cut(screen, cx, cy, tw, th);
        if (trial % 4 == 3) setPixel(templ, uni(0, tw - 1), uni(0, th - 1), 255, 255, 0);
        if (trial % 8 == 5) templ = test::cut(makeScreen(kind, w, h, rng), uni(0, w - tw), uni(0, h - th), tw, th);   // absent
        const double scale = trial % 3 == 2 ? 2.0 : 1.0;
        int ax = 0, ay = 0, aw = w, ah = h;
        std::optional<Rect> region;
        if (trial % 2 == 1) {   // a region around the copy, or anywhere
            ax = std::max(0, cx - uni(0, 40)), ay = std::max(0, cy - uni(0, 40));
            aw = std::min(w - ax, cx - ax + tw + uni(0, 40)), ah = std::min(h - ay, cy - ay + th + uni(0, 40));
            region = Rect{double(ax), double(ay), double(aw), double(ah)};
        }
        // Keep the reference affordable.
        if (double(aw - tw + 1) * (ah - th + 1) * tw * th > 1.2e7) continue;
        SCOPED_TRACE(testing::Message() << "trial " << trial << " content " << int(kind) << " screen " << w << "x" << h
                                        << " template " << tw << "x" << th << " at " << cx << "," << cy << " area " << ax
                                        << "," << ay << " " << aw << "x" << ah << " scale " << scale);
        const Best want = exhaustive(screen, templ, ax, ay, aw, ah);
        const ImageMatchResult got =
            ImageMatcher::find(templ, {tw / scale, th / scale}, test::snapshotOf(screen, scale), region, 0.5);
        ++checked;
        if (want.score <= -0.5) {
            EXPECT_FALSE(got.found());
            continue;
        }
        ASSERT_TRUE(got.found());
        EXPECT_NEAR(got.score, std::clamp(want.score, 0.0, 1.0), 1e-6);
        EXPECT_EQ(got.rect->x, want.x / scale);
        EXPECT_EQ(got.rect->y, want.y / scale);
    }
    EXPECT_GT(checked, 100) << "too few cases within the reference's budget";
}

// The transform behind the FFT path against the textbook sum, on shapes with an even and an odd
// number of stages per axis; inputs with rows left zero, outputs with rows left out.
TEST(ExhaustiveSearch, FftAgreesWithTheDefiningSum) {
    struct Shape {
        int w, h, rowsIn, rowsOut;
    };
    std::mt19937 rng(4);
    for (const Shape& sh : {Shape{8, 4, 4, 4}, Shape{16, 32, 32, 32}, Shape{64, 8, 3, 8}, Shape{32, 128, 50, 17}}) {
        SCOPED_TRACE(testing::Message() << sh.w << "x" << sh.h);
        const size_t size = size_t(sh.w) * sh.h;
        std::vector<double> re(size, 0.0), im(size, 0.0);
        for (size_t k = 0; k < size_t(sh.rowsIn) * sh.w; ++k) re[k] = double(rng() % 256) - 128, im[k] = double(rng() % 256);
        const std::vector<double> re0 = re, im0 = im;
        ASSERT_TRUE(fftForward(re.data(), im.data(), sh.w, sh.h, sh.rowsIn, nullptr));
        double worst = 0;
        for (int v = 0; v < sh.h; v += 3)
            for (int u = 0; u < sh.w; u += 5) {
                std::complex<double> sum = 0;
                for (int y = 0; y < sh.h; ++y)
                    for (int x = 0; x < sh.w; ++x)
                        sum += std::complex<double>(re0[size_t(y) * sh.w + x], im0[size_t(y) * sh.w + x]) *
                               std::polar(1.0, -2 * std::numbers::pi * (double(u) * x / sh.w + double(v) * y / sh.h));
                worst = std::max(worst, std::abs(sum - std::complex<double>(re[size_t(v) * sh.w + u], im[size_t(v) * sh.w + u])));
            }
        EXPECT_LT(worst, 1e-9 * 256 * double(size));
        ASSERT_TRUE(fftInverse(re.data(), im.data(), sh.w, sh.h, sh.rowsOut, nullptr));
        for (size_t k = 0; k < size_t(sh.rowsOut) * sh.w; ++k) {
            ASSERT_NEAR(re[k] / double(size), re0[k], 1e-9) << k;
            ASSERT_NEAR(im[k] / double(size), im0[k], 1e-9) << k;
        }
    }
}

// Each way of covering the positions on its own: the FFT's with tiles small enough that there
// are many, an odd count, and tiles cut by the image's edges.
TEST(ExhaustiveSearch, PruningAndFftEachAgreeWithExhaustiveSearch) {
    struct Row {
        Content kind;
        int w, h, tw, th;
        bool absent;
        int tilePoints;
    };
    const Row rows[] = {
        {Content::text, 200, 120, 20, 12, false, 4096},  {Content::icons, 180, 150, 16, 16, true, 4096},
        {Content::noise, 160, 100, 40, 30, true, 8192},  {Content::tiles, 150, 130, 25, 25, false, 2048},
        {Content::gradient, 190, 90, 60, 40, true, 16384},
        {Content::icons, 120, 100, 90, 70, true, 1 << 20},   // a big template in a small area
    };
    std::mt19937 rng(31);
    for (const Row& r : rows) {
        const RgbaImage screen = makeScreen(r.kind, r.w, r.h, rng);
        const RgbaImage source = r.absent ? makeScreen(r.kind, r.w, r.h, rng) : screen;
        const RgbaImage templ = test::cut(source, int(rng() % (r.w - r.tw)), int(rng() % (r.h - r.th)), r.tw, r.th);
        const Best want = exhaustive(screen, templ, 0, 0, r.w, r.h);
        const std::vector<float> img = grey(screen), t = grey(templ);
        for (SearchMethod method : {SearchMethod::pruning, SearchMethod::fft}) {
            SCOPED_TRACE(testing::Message() << "content " << int(r.kind) << " template " << r.tw << "x" << r.th
                                            << " method " << int(method));
            const FullSearchHit got = fullSearch(img.data(), r.w, r.h, size_t(r.w), t.data(), r.tw, r.th, -1, -1, nullptr,
                                                 SearchTuning{method, r.tilePoints});
            if (want.score <= -0.5) {
                EXPECT_LT(got.score, -0.5);
                continue;
            }
            EXPECT_NEAR(got.score, want.score, 1e-6);
            EXPECT_EQ(got.x, want.x);
            EXPECT_EQ(got.y, want.y);
        }
    }
}

// Results do not depend on how many threads share the rows.
TEST(ExhaustiveSearch, SameResultOnOneThreadAndOnThePool) {
    std::mt19937 rng(5);
    const RgbaImage screen = makeScreen(Content::text, 480, 300, rng);
    const RgbaImage templ = test::cut(screen, 200, 100, 24, 14);
    const ScreenSnapshot snap = test::snapshotOf(screen);
    SearchPool& pool = SearchPool::shared();
    const int threads = pool.maxThreads();
    pool.setMaxThreads(1);
    const ImageMatchResult one = ImageMatcher::find(templ, {24, 14}, snap, std::nullopt, 0.9);
    pool.setMaxThreads(threads);
    const ImageMatchResult all = ImageMatcher::find(templ, {24, 14}, snap, std::nullopt, 0.9);
    ASSERT_TRUE(one.found() && all.found());
    EXPECT_EQ(one.rect->x, all.rect->x);
    EXPECT_EQ(one.rect->y, all.rect->y);
    EXPECT_EQ(one.score, all.score);
}

// Named after the faults of the old pyramid-only search, each on a 1280 x 720 screen (reduced
// 2.4 to 4 times at the coarsest level).
struct Regression {
    const char* name;
    RgbaImage screen;
    Rect cutAt;
};

void expectExactCopyFound(const Regression& r) {
    SCOPED_TRACE(r.name);
    const RgbaImage templ = test::cut(r.screen, int(r.cutAt.x), int(r.cutAt.y), int(r.cutAt.width), int(r.cutAt.height));
    const ImageMatchResult got =
        ImageMatcher::find(templ, {r.cutAt.width, r.cutAt.height}, test::snapshotOf(r.screen), std::nullopt, 0.8);
    ASSERT_TRUE(got.found());
    EXPECT_TRUE(got.matched);
    EXPECT_NEAR(got.score, 1.0, 1e-9);
    EXPECT_EQ(got.rect->x, r.cutAt.x);
    EXPECT_EQ(got.rect->y, r.cutAt.y);
}

TEST(ExhaustiveSearch, ThinStrokesVanishingWhenReduced) {
    std::mt19937 rng(11);
    RgbaImage screen = makeScreen(Content::text, 1280, 720, rng);
    expectExactCopyFound({"a word of 1 px strokes", screen, Rect{901, 420, 30, 12}});
}

TEST(ExhaustiveSearch, SmallIconOnFlatPanel) {
    RgbaImage screen = solid(1280, 720, 236, 236, 236);
    for (int k = 0; k < 16; ++k)   // icons alike but for one stroke
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 12; ++x)
                if (x == 6 || y == 6 || (k == 5 && x == y)) setPixel(screen, 40 + k * 70 + x, 200 + y, 40, 90, 200);
    expectExactCopyFound({"the icon with the extra stroke", screen, Rect{40 + 5 * 70 - 2, 198, 16, 16}});
}

TEST(ExhaustiveSearch, RepeatedTilesGiveTheTopLeftCopy) {
    RgbaImage screen = solid(1280, 720, 0, 0, 0);
    const RgbaImage tile = test::noise(10, 10, 3);
    for (int y = 0; y < 720; ++y)
        for (int x = 0; x < 1280; ++x) std::copy_n(tile.pixel(x % 10, y % 10), 4, screen.pixels.data() + (size_t(y) * 1280 + x) * 4);
    // Every copy scores 1: the top-left one, at (3, 4), is the answer.
    const RgbaImage templ = test::cut(screen, 203, 104, 25, 25);
    const ImageMatchResult got = ImageMatcher::find(templ, {25, 25}, test::snapshotOf(screen), std::nullopt, 0.8);
    ASSERT_TRUE(got.found());
    EXPECT_EQ(got.rect->x, 3);
    EXPECT_EQ(got.rect->y, 4);
}

TEST(ExhaustiveSearch, PartialOverlapDoesNotBeatTheExactCopy) {
    // A blocky two-colour mark; beside a second, shifted copy of itself, half a mark plus the
    // background looks more alike at coarse levels than the mark.
    RgbaImage screen = solid(1280, 720, 20, 160, 64);
    auto mark = [&](int x0, int y0) {
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x)
                if (y < 20) setPixel(screen, x0 + x, y0 + y, x < 20 ? 51 : 255, x < 20 ? 102 : 136, x < 20 ? 204 : 0);
    };
    mark(100, 100);
    mark(400, 220);
    mark(420, 220);
    expectExactCopyFound({"the mark, not its overlap", screen, Rect{100, 100, 40, 40}});
}

TEST(ExhaustiveSearch, StopFlagEndsTheSearchWithNothingFound) {
    std::mt19937 rng(2);
    const RgbaImage screen = makeScreen(Content::noise, 1920, 1080, rng);
    const RgbaImage templ = test::noise(120, 80, 9);   // absent: nothing prunes well
    std::atomic<bool> stop{true};
    EXPECT_FALSE(ImageMatcher::find(templ, {120, 80}, test::snapshotOf(screen), std::nullopt, 0.5, &stop).found());

    // Set while the search runs: it gives up instead of finishing.
    stop = false;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        stop = true;
    });
    const ImageMatchResult r = ImageMatcher::find(templ, {120, 80}, test::snapshotOf(screen), std::nullopt, 0.5, &stop);
    stopper.join();
    EXPECT_FALSE(r.found());
}

}  // namespace
}  // namespace tapforge::vision
