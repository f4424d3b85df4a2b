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

struct FakeScreens : platform::Screens {
    std::vector<platform::ScreenInfo> list;
    Rect main{0, 0, 800, 600};
    std::vector<platform::ScreenInfo> screens() const override { return list; }
    Rect mainDisplayBounds() const override { return main; }
    double mainScreenScale() const override { return 1.0; }
};

// Answers every grab with a fixed image, whatever the rectangle.
struct FixedGrab : platform::ScreenGrab {
    platform::RgbaImage image;
    std::vector<Rect> asked;
    bool grab(const Rect& rect, platform::RgbaImage& out) override {
        asked.push_back(rect);
        out = image;
        return true;
    }
};

class CaptureAtScale : public testing::TestWithParam<double> {};

TEST_P(CaptureAtScale, OnePointWithMarginGrabsItsBox) {
    const double scale = GetParam();
    auto sim = SimDesktop::create();
    sim->addScreen({0, 0, 1920, 1080}, scale, {10, 20, 30, 255});
    sim->fill({100, 200, 1, 1}, {200, 100, 50, 255});
    ScreenCapture capture(sim->desktop());
    const auto snap = capture.capture({at(100, 200)}, 12);
    ASSERT_TRUE(snap);
    EXPECT_EQ(snap->origin, (platform::Point{88, 188}));
    EXPECT_EQ(snap->scale, scale);
    EXPECT_EQ(snap->image->width, int(24 * scale));
    EXPECT_EQ(snap->image->height, int(24 * scale));
    // The point's pixel carries the painted colour; a margin pixel the background.
    const platform::Point px = snap->pixelFromGlobal({100, 200});
    EXPECT_EQ(snap->image->pixel(int(px.x), int(px.y))[0], 200);
    EXPECT_EQ(snap->image->pixel(0, 0)[0], 10);
}
INSTANTIATE_TEST_SUITE_P(Scales, CaptureAtScale, testing::Values(1.0, 2.0));

TEST(ScreenCapture, BoundingBoxOfEnabledPointsOnly) {
    auto sim = SimDesktop::create();
    sim->addScreen({0, 0, 1000, 800});
    ScreenCapture capture(sim->desktop());
    const auto snap = capture.capture({at(50, 60), at(900, 700, false), at(80.5, 40)}, 12);
    ASSERT_TRUE(snap);
    EXPECT_EQ(snap->origin, (platform::Point{38, 28}));
    // x: 38 .. 92.5 -> integral 38 .. 93; y: 28 .. 72.
    EXPECT_EQ(snap->image->width, 55);
    EXPECT_EQ(snap->image->height, 44);
}

TEST(ScreenCapture, ClipsToTheDesktopAndRefusesBoxesOffIt) {
    auto sim = SimDesktop::create();
    sim->addScreen({0, 0, 1920, 1080});
    ScreenCapture capture(sim->desktop());
    const auto corner = capture.capture({at(5, 5)}, 12);
    ASSERT_TRUE(corner);
    EXPECT_EQ(corner->origin, (platform::Point{0, 0}));
    EXPECT_EQ(corner->image->width, 17);
    EXPECT_EQ(corner->image->height, 17);

    const auto edge = capture.capture({at(1915, 1075)}, 12);
    ASSERT_TRUE(edge);
    EXPECT_EQ(edge->origin, (platform::Point{1903, 1063}));
    EXPECT_EQ(edge->image->width, 17);

    EXPECT_FALSE(capture.capture({at(-100, -100)}, 12));
    EXPECT_FALSE(capture.capture({at(1932, 500)}, 12));   // box touches the right edge only
}

TEST(ScreenCapture, NothingWithoutAnEnabledPointAFailedGrabOrANonFiniteRectangle) {
    auto sim = SimDesktop::create();
    sim->addScreen({0, 0, 100, 100});
    ScreenCapture capture(sim->desktop());
    EXPECT_FALSE(capture.capture({}, 12));
    EXPECT_FALSE(capture.capture({at(10, 10, false), at(20, 20, false)}, 12));
    EXPECT_EQ(sim->grabCount(), 0);
    sim->setGrabFails(true);
    EXPECT_FALSE(capture.capture({at(50, 50)}, 12));
    sim->setGrabFails(false);
    EXPECT_FALSE(capture.grab({std::nan(""), 0, 10, 10}));
    EXPECT_FALSE(capture.capture({at(50, std::numeric_limits<double>::infinity())}, 12));
    EXPECT_TRUE(capture.capture({at(50, 50)}, 12));
}

TEST(ScreenCapture, ScaleNeverBelowOne) {
    auto screens = std::make_shared<FakeScreens>();
    screens->list = {{{0, 0, 800, 600}, 1.0}};
    auto grab = std::make_shared<FixedGrab>();
    grab->image = test::solid(10, 24, 1, 2, 3);   // narrower in pixels than the 24-point box
    ScreenCapture capture(screens, grab);
    const auto snap = capture.capture({at(100, 100)}, 12);
    ASSERT_TRUE(snap);
    EXPECT_EQ(snap->scale, 1.0);
    ASSERT_EQ(grab->asked.size(), 1u);
    EXPECT_EQ(grab->asked[0], (Rect{88, 88, 24, 24}));

    grab->image = test::solid(60, 60, 1, 2, 3);
    EXPECT_DOUBLE_EQ(capture.capture({at(100, 100)}, 12)->scale, 2.5);
}

TEST(ScreenCapture, AGrabNeverOverwritesAHeldSnapshot) {
    auto sim = SimDesktop::create();
    sim->addScreen({0, 0, 100, 100}, 1.0, {1, 1, 1, 255});
    ScreenCapture capture(sim->desktop());
    const auto first = capture.grab({10, 10, 20, 20});
    ASSERT_TRUE(first);
    sim->fill({0, 0, 100, 100}, {9, 9, 9, 255});
    const auto second = capture.grab({10, 10, 20, 20});
    ASSERT_TRUE(second);
    EXPECT_NE(first->image.get(), second->image.get());
    EXPECT_EQ(first->image->pixel(5, 5)[0], 1);
    EXPECT_EQ(second->image->pixel(5, 5)[0], 9);
}

// Several threads sharing one capture object: each snapshot keeps its own pixels.
TEST(ScreenCapture, ConcurrentGrabsKeepTheirOwnPixels) {
    auto sim = SimDesktop::create();
    sim->addScreen({0, 0, 200, 100}, 1.0, {0, 0, 0, 255});
    for (int t = 0; t < 4; ++t) sim->fill({t * 50.0, 0, 50, 100}, {uint8_t(10 + t), 0, 0, 255});
    ScreenCapture capture(sim->desktop());
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::vector<ScreenSnapshot> held;
            for (int k = 0; k < 40; ++k) {
                auto snap = capture.grab({t * 50.0 + 5, 10, 20, 20});
                if (!snap) {
                    ++wrong;
                    continue;
                }
                if (k % 3 == 0) held.push_back(*snap);
                for (const auto& h : held)
                    if (h.image->pixel(3, 3)[0] != 10 + t) ++wrong;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(ScreenCoordinates, PrimaryHeightAndDesktopBounds) {
    using platform::ScreenInfo;
    EXPECT_EQ(ScreenCoordinates::primaryHeight(std::vector<ScreenInfo>{}), 0);
    EXPECT_EQ(ScreenCoordinates::primaryHeight({{{-800, 0, 800, 600}, 1}, {{0, 0, 1920, 1080}, 1}}), 1080);
    // No frame at (0, 0): the first listed screen decides every conversion.
    EXPECT_EQ(ScreenCoordinates::primaryHeight({{{5, 0, 800, 600}, 1}, {{900, 0, 1920, 1080}, 1}}), 600);

    auto screens = std::make_shared<FakeScreens>();
    screens->list = {{{5, 0, 800, 600}, 1}, {{805, 100, 400, 300}, 1}};
    ScreenCapture capture(screens, std::make_shared<FixedGrab>());
    // Second screen: global y = 600 - 100 - 300 = 200.
    EXPECT_EQ(capture.desktopBounds(), (Rect{5, 0, 1200, 600}));
    EXPECT_EQ(capture.primaryScreenHeight(), 600);

    // Side by side on the simulated desktop: the second display's global frame is (1920, 56, 1280, 1024).
    auto sim = SimDesktop::create();
    sim->addScreen({0, 0, 1920, 1080});
    sim->addScreen({1920, 0, 1280, 1024});
    EXPECT_EQ(ScreenCoordinates::unionFrame(*sim), (Rect{0, 0, 3200, 1080}));
    EXPECT_TRUE(ScreenCapture(sim->desktop()).grab({2000, 60, 10, 10}));
}

}  // namespace
}  // namespace tapforge::vision
