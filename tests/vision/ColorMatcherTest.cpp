#include <gtest/gtest.h>

#include "VisionTestSupport.h"
#include "vision/ColorMatcher.h"

namespace tapforge::vision {
namespace {

using test::point;

// Expected (255, 0, 0): the largest single-channel difference decides, inclusively.
TEST(ColorMatcher, LargestChannelDifferenceDecides) {
    struct Case { uint8_t r, g, b; int tolerance; bool passes; };
    const Case cases[] = {
        {246, 5, 10, 10, true}, {245, 0, 0, 10, true}, {244, 0, 0, 10, false}, {255, 0, 0, 0, true},
        {254, 0, 0, 0, false}, {255, 0, 0, -1, false}, {255, 0, 11, 10, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        const auto r = ColorMatcher::check({point(2, 2, 255, 0, 0, c.tolerance)}, MatchMode::all,
                                           test::snapshotOf(test::solid(5, 5, c.r, c.g, c.b)));
        ASSERT_EQ(r.details.size(), 1u);
        EXPECT_EQ((std::pair{r.matched, r.details[0].matched}), (std::pair{c.passes, c.passes}));
        EXPECT_EQ(r.details[0].actual, (Rgb{c.r, c.g, c.b}));
    }
}

TEST(ColorMatcher, AllFailsAndAnyPassesOnOnePointAndBothReportEveryEnabledPoint) {
    platform::RgbaImage img = test::solid(30, 10, 200, 0, 0);
    for (int y = 0; y < 10; ++y)
        for (int x = 10; x < 30; ++x) test::setPixel(img, x, y, x < 20 ? 50 : 120, 0, 0);
    const std::vector<ColorPoint> points = {point(5, 5, 200, 0, 0), point(7, 5, 1, 2, 3, 0, false),
                                            point(15, 5, 200, 0, 0), point(25, 5, 120, 0, 0)};
    const auto all = ColorMatcher::check(points, MatchMode::all, test::snapshotOf(img));
    EXPECT_FALSE(all.matched);
    ASSERT_EQ(all.details.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(all.details[i].point.id, points[i + (i > 0)].id);
    EXPECT_EQ(all.description(), "√#C80000→#C80000 ×#C80000→#320000 √#780000→#780000");
    const auto any = ColorMatcher::check(points, MatchMode::any, test::snapshotOf(img));
    EXPECT_TRUE(any.matched);
    EXPECT_EQ(any.details.size(), 3u);
}

TEST(ColorMatcher, NoEnabledPointOrNoPixels) {
    auto matched = [](const std::vector<ColorPoint>& points, MatchMode mode, const ScreenSnapshot& snap) {
        const auto r = ColorMatcher::check(points, mode, snap);
        EXPECT_TRUE(r.details.empty());
        return r.matched;
    };
    platform::RgbaImage cutShort = test::solid(4, 4, 0, 0, 0);
    const auto black = test::snapshotOf(cutShort);
    cutShort.pixels.resize(3);
    EXPECT_TRUE(matched({point(1, 1, 0, 0, 0, 10, false)}, MatchMode::all, black));
    EXPECT_FALSE(matched({point(1, 1, 0, 0, 0, 10, false)}, MatchMode::any, black));
    EXPECT_FALSE(matched({point(1, 1)}, MatchMode::all, test::snapshotOf(cutShort)));
    EXPECT_FALSE(matched({point(1, 1)}, MatchMode::all, ScreenSnapshot{}));
}

// The snapshot starts at (100, 50): the nearest pixel counts, averaged with its neighbours inside.
TEST(ColorMatcher, EdgesAndRounding) {
    platform::RgbaImage img = test::solid(10, 4, 0, 0, 0);
    for (int y = 0; y < 4; ++y) test::setPixel(img, 8, y, 30, 30, 30), test::setPixel(img, 9, y, 90, 90, 90);
    test::setPixel(img, 0, 0, 40, 40, 40);
    const auto r = ColorMatcher::check({point(110, 51, 0, 0, 0, 255),      // pixel x exactly width: outside
                                        point(109.6, 51, 90, 90, 90, 0),   // rounds to 10: column 9 only
                                        point(100, 50, 10, 10, 10, 0),     // corner: 40 over 4 pixels
                                        point(99.99, 50, 0, 0, 0, 255),    // just left of the snapshot
                                        point(std::nan(""), 50, 0, 0, 0, 255)},
                                       MatchMode::any, test::snapshotOf(img, 1.0, {100, 50}));
    EXPECT_EQ(r.description(),
              "×#000000→#000000 √#5A5A5A→#5A5A5A √#0A0A0A→#0A0A0A ×#000000→#000000 ×#000000→#000000");
}

}  // namespace
}  // namespace tapforge::vision
