#include <gtest/gtest.h>

#include <thread>

#include "VisionTestSupport.h"
#include "platform/sim/SimDesktop.h"
#include "vision/ScreenCapture.h"
#include "vision/ScreenCoordinates.h"

namespace tapforge::vision {
namespace {

using platform::Rect;
using platform::sim::SimDesktop;

ColorPoint at(double x, double y, bool enabled = true) { return test::point(x, y, 0, 0, 0, 10, enabled); }

// The grabbed rectangle: origin in points, size in pixels.
Rect boxOf(const ScreenSnapshot& s) {
    return {s.origin.x, s.origin.y, double(s.image->width), double(s.image->height)};
}

struct FixedGrab : platform::ScreenGrab {
    platform::RgbaImage image;
    bool grab(const Rect&, platform::RgbaImage& out) override { return out = image, true; }
};

TEST(ScreenCapture, OnePointWithMarginGrabsItsBoxAtTheScreensScale) {
    for (double scale : {1.0, 2.0, 2.5}) {
        auto sim = SimDesktop::create();
        sim->addScreen({0, 0, 1920, 1080}, scale, {10, 20, 30, 255});
        sim->fill({100, 200, 1, 1}, {200, 100, 50, 255});
        const auto snap = ScreenCapture(sim->desktop()).capture({at(100, 200)}, 12);
        ASSERT_TRUE(snap);
        EXPECT_EQ(snap->scale, scale);
        EXPECT_EQ(boxOf(*snap), (Rect{88, 188, 24 * scale, 24 * scale}));
        const platform::Point px = snap->pixelFromGlobal({100, 200});
        EXPECT_EQ(snap->image->pixel(int(px.x), int(px.y))[0], 200);
        EXPECT_EQ(snap->image->pixel(0, 0)[0], 10);
    }
}

// No grab at all without an enabled point, off the desktop or at a non-finite position.
TEST(ScreenCapture, GrabsTheBoxOfTheEnabledPointsClippedToTheDesktop) {
    auto sim = SimDesktop::create();
    sim->addScreen({0, 0, 1920, 1080});
    ScreenCapture capture(sim->desktop());
    const std::pair<std::vector<ColorPoint>, std::optional<Rect>> cases[] = {
        {{at(50, 60), at(900, 700, false), at(80.5, 40)}, Rect{38, 28, 55, 44}},   // 92.5 rounds out to 93
        {{at(5, 5)}, Rect{0, 0, 17, 17}},
        {{at(1915, 1075)}, Rect{1903, 1063, 17, 17}},
        {{at(-100, -100)}, std::nullopt},
        {{at(1932, 500)}, std::nullopt},   // the box touches the right edge only
        {{}, std::nullopt},
        {{at(10, 10, false), at(20, 20, false)}, std::nullopt},
        {{at(50, std::numeric_limits<double>::infinity())}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const auto& [points, box] = c;
        const int grabs = sim->grabCount();
        const auto snap = capture.capture(points, 12);
        ASSERT_EQ(snap.has_value(), box.has_value());
        if (!box) EXPECT_EQ(sim->grabCount(), grabs);
        else EXPECT_EQ(boxOf(*snap), *box);
    }
    EXPECT_FALSE(capture.grab({std::nan(""), 0, 10, 10}));
    sim->setGrabFails(true);
    EXPECT_FALSE(capture.capture({at(50, 50)}, 12));
    auto narrow = std::make_shared<FixedGrab>();   // fewer pixels than the 24-point box: scale stays 1
    narrow->image = test::solid(10, 24, 1, 2, 3);
    EXPECT_EQ(ScreenCapture(sim->desktop().screens, narrow).capture({at(100, 100)}, 12)->scale, 1.0);
}

// Each thread grabs the four regions in turn, so reused storage under a held snapshot shows.
TEST(ScreenCapture, AGrabNeverOverwritesAHeldSnapshot) {
    auto sim = SimDesktop::create();
    sim->addScreen({0, 0, 200, 100});
    ScreenCapture capture(sim->desktop());
    for (int t = 0; t < 4; ++t) sim->fill({t * 50.0, 0, 50, 100}, {uint8_t(10 + t), 0, 0, 255});
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            std::vector<std::pair<ScreenSnapshot, int>> held;
            for (int k = 0; k < 40; ++k) {
                const int region = (t + k) % 4;
                const auto snap = capture.grab({region * 50.0 + 5, 10, 20, 20});
                if (!snap) ++wrong;
                else if (k % 3 == 0) held.emplace_back(*snap, 10 + region);
                for (const auto& [h, want] : held) wrong += h.image->pixel(3, 3)[0] != want;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(ScreenCoordinates, PrimaryHeightAndDesktopBounds) {
    EXPECT_EQ(ScreenCoordinates::primaryHeight(std::vector<platform::ScreenInfo>{}), 0);
    EXPECT_EQ(ScreenCoordinates::primaryHeight({{{-800, 0, 800, 600}, 1}, {{0, 0, 1920, 1080}, 1}}), 1080);
    auto sim = SimDesktop::create();
    sim->addScreen({5, 0, 800, 600});
    sim->addScreen({805, 100, 400, 300});   // window-system frame: global y 200 to 500
    ScreenCapture capture(sim->desktop());
    EXPECT_EQ(capture.desktopBounds(), (Rect{5, 0, 1200, 600}));
    EXPECT_EQ(capture.primaryScreenHeight(), 600);
    EXPECT_EQ(ScreenCoordinates::unionFrame(*sim), (Rect{0, 0, 1205, 600}));
    EXPECT_TRUE(capture.grab({900, 450, 10, 10}));
}

}  // namespace
}  // namespace tapforge::vision
