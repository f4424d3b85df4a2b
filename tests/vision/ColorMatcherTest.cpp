#include <gtest/gtest.h>

#include "VisionTestSupport.h"
#include "vision/ColorMatcher.h"

namespace tapforge::vision {
namespace {

using test::point;

struct ToleranceCase {
    Rgb screen;
    int tolerance;
    bool passes;
};

class ColorTolerance : public testing::TestWithParam<ToleranceCase> {};

// Expected (255, 0, 0): the largest single-channel difference decides, inclusively.
TEST_P(ColorTolerance, LargestChannelDifferenceDecides) {
    const auto c = GetParam();
    const auto snap = test::snapshotOf(test::solid(5, 5, uint8_t(c.screen.red), uint8_t(c.screen.green), uint8_t(c.screen.blue)));
    const auto r = ColorMatcher::check({point(2, 2, 255, 0, 0, c.tolerance)}, MatchMode::all, snap);
    ASSERT_EQ(r.details.size(), 1u);
    EXPECT_EQ(r.details[0].matched, c.passes);
    EXPECT_EQ(r.matched, c.passes);
    EXPECT_EQ(r.details[0].actual, c.screen);
}
INSTANTIATE_TEST_SUITE_P(Cases, ColorTolerance,
                         testing::Values(ToleranceCase{{246, 5, 10}, 10, true}, ToleranceCase{{245, 0, 0}, 10, true}, ToleranceCase{{244, 0, 0}, 10, false},
                                         ToleranceCase{{255, 0, 0}, 0, true}, ToleranceCase{{254, 0, 0}, 0, false},
                                         ToleranceCase{{255, 0, 0}, -1, false}, ToleranceCase{{255, 0, 11}, 10, false}));

// Three enabled points (the middle one wrong) and a disabled one between them.
struct ModeFixture : testing::Test {
    platform::RgbaImage img = test::solid(30, 10, 0, 0, 0);
    std::vector<ColorPoint> points;
    void SetUp() override {
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 30; ++x) test::setPixel(img, x, y, uint8_t(x < 10 ? 200 : x < 20 ? 50 : 120), 0, 0);
        points = {point(5, 5, 200, 0, 0), point(7, 5, 1, 2, 3, 0, false), point(15, 5, 200, 0, 0),
                  point(25, 5, 120, 0, 0)};
    }
};

TEST_F(ModeFixture, AllFailsAndAnyPassesOnOnePointAndBothReportEveryEnabledPoint) {
    const auto r = ColorMatcher::check(points, MatchMode::all, test::snapshotOf(img));
    EXPECT_FALSE(r.matched);
    ASSERT_EQ(r.details.size(), 3u);
    EXPECT_EQ(r.details[0].point.id, points[0].id);
    EXPECT_EQ(r.details[1].point.id, points[2].id);
    EXPECT_EQ(r.details[2].point.id, points[3].id);
    EXPECT_FALSE(r.details[1].matched);
    EXPECT_EQ(r.details[1].actual, (Rgb{50, 0, 0}));
    EXPECT_EQ(r.description(), "√#C80000→#C80000 ×#C80000→#320000 √#780000→#780000");
    const auto any = ColorMatcher::check(points, MatchMode::any, test::snapshotOf(img));
    EXPECT_TRUE(any.matched);
    EXPECT_EQ(any.details.size(), 3u);
}

TEST(ColorMatcher, AllPointsDisabled) {
    const auto snap = test::snapshotOf(test::solid(4, 4, 0, 0, 0));
    const std::vector<ColorPoint> none = {point(1, 1, 0, 0, 0, 10, false)};
    const auto all = ColorMatcher::check(none, MatchMode::all, snap);
    EXPECT_TRUE(all.matched);
    EXPECT_TRUE(all.details.empty());
    EXPECT_EQ(all.description(), "");
    const auto any = ColorMatcher::check(none, MatchMode::any, snap);
    EXPECT_FALSE(any.matched);
    EXPECT_TRUE(any.details.empty());
}

TEST(ColorMatcher, UnreadableSnapshotFailsWithoutDetails) {
    ScreenSnapshot broken = test::snapshotOf(test::solid(4, 4, 0, 0, 0));
    auto img = std::make_shared<platform::RgbaImage>(*broken.image);
    img->pixels.resize(3);
    broken.image = img;
    const auto r = ColorMatcher::check({point(1, 1, 0, 0, 0)}, MatchMode::all, broken);
    EXPECT_FALSE(r.matched);
    EXPECT_TRUE(r.details.empty());
    EXPECT_FALSE(ColorMatcher::check({point(1, 1, 0, 0, 0)}, MatchMode::all, ScreenSnapshot{}).matched);
}

// Snapshot 10 x 4 at origin (100, 50); the two rightmost columns differ from each other.
TEST(ColorMatcher, EdgesAndRounding) {
    platform::RgbaImage img = test::solid(10, 4, 0, 0, 0);
    for (int y = 0; y < 4; ++y) {
        test::setPixel(img, 8, y, 30, 30, 30);
        test::setPixel(img, 9, y, 90, 90, 90);
    }
    test::setPixel(img, 0, 0, 40, 40, 40);
    const auto snap = test::snapshotOf(img, 1.0, {100, 50});
    const auto r = ColorMatcher::check(
        {
            point(110, 51, 0, 0, 0, 255),             // pixel x exactly width: outside
            point(109.6, 51, 90, 90, 90, 0),          // rounds to x = 10: only column 9 counts
            point(100, 50, 10, 10, 10, 0),            // corner: 40 over 4 pixels
            point(99.99, 50, 0, 0, 0, 255),           // just left of the snapshot
            point(std::nan(""), 50, 0, 0, 0, 255),
        },
        MatchMode::any, snap);
    ASSERT_EQ(r.details.size(), 5u);
    EXPECT_FALSE(r.details[0].matched);
    EXPECT_EQ(r.details[0].actual, (Rgb{}));
    EXPECT_TRUE(r.details[1].matched) << r.details[1].actual.red;
    EXPECT_TRUE(r.details[2].matched) << r.details[2].actual.red;
    EXPECT_FALSE(r.details[3].matched);
    EXPECT_FALSE(r.details[4].matched);
}

}  // namespace
}  // namespace tapforge::vision
