#include "platform/sim/SimDesktop.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

using namespace tapforge::platform;
using namespace tapforge::platform::sim;

namespace {

Rgba colourAt(const RgbaImage& image, int x, int y) {
    const uint8_t* p = image.pixel(x, y);
    return {p[0], p[1], p[2], p[3]};
}

constexpr Rgba kBlack{0, 0, 0, 255};
constexpr Rgba kRed{255, 0, 0, 255};
constexpr Rgba kGreen{0, 255, 0, 255};
constexpr Rgba kBlue{0, 0, 255, 255};

}  // namespace

TEST(SimDesktopScreens, FramesAndPrimaryBounds) {
    auto sim = SimDesktop::create();
    EXPECT_EQ(sim->mainDisplayBounds(), (Rect{0, 0, 0, 0}));
    EXPECT_EQ(sim->mainScreenScale(), 1.0);
    // A secondary screen listed first: the primary is the one at (0, 0), not the first.
    sim->addScreen({1920, 0, 1280, 1024}, 1.0);
    sim->addScreen({0, 0, 1920, 1080}, 2.0);
    const auto list = sim->screens();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].frame, (Rect{1920, 0, 1280, 1024}));
    EXPECT_EQ(list[1].scale, 2.0);
    EXPECT_EQ(sim->mainDisplayBounds(), (Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(sim->mainScreenScale(), 2.0);
    EXPECT_EQ(sim->screen(1).image.width, 3840);
}

// Primary 100x50 at scale 1, a scale-2 screen of 40x40 points to its right whose top is 10
// points lower (window-system frame y = 50 - 10 - 40 = 0), and a screen at negative x above the
// primary's left part (frame y = 50, so global y = -20).
class SimGrab : public ::testing::Test {
protected:
    void SetUp() override {
        sim->addScreen({0, 0, 100, 50}, 1.0, kRed);
        sim->addScreen({100, 0, 40, 40}, 2.0, kGreen);
        sim->addScreen({-30, 50, 60, 20}, 1.0, kBlue);
    }
    std::shared_ptr<SimDesktop> sim = SimDesktop::create();
};

TEST_F(SimGrab, TouchingAScaleTwoScreenDoublesThePixels) {
    RgbaImage out;
    // Global rect spans the primary (x < 100) and the scale-2 screen (x >= 100, 10 <= y < 50).
    ASSERT_TRUE(sim->grab({90, 0, 20, 20}, out));
    ASSERT_EQ(out.width, 40);
    ASSERT_EQ(out.height, 40);
    EXPECT_EQ(colourAt(out, 0, 0), kRed);
    EXPECT_EQ(colourAt(out, 19, 39), kRed);     // last column of point x = 99
    EXPECT_EQ(colourAt(out, 20, 19), kBlack);   // right of the primary, above the second screen
    EXPECT_EQ(colourAt(out, 20, 20), kGreen);   // point (100, 10)
    EXPECT_EQ(colourAt(out, 39, 39), kGreen);
}

TEST_F(SimGrab, NegativePositionsAndGapsOutsideScreensAreBlack) {
    RgbaImage out;
    ASSERT_TRUE(sim->grab({-40, -25, 50, 30}, out));
    ASSERT_EQ(out.width, 50);
    EXPECT_EQ(colourAt(out, 0, 0), kBlack);      // (-40, -25): left of every screen
    EXPECT_EQ(colourAt(out, 10, 5), kBlue);      // (-30, -20): the blue screen's top-left
    EXPECT_EQ(colourAt(out, 45, 26), kRed);      // (5, 1): the primary
    EXPECT_EQ(colourAt(out, 5, 26), kBlack);     // (-35, 1): below-left, nothing there
}

TEST_F(SimGrab, RefusesEmptyOffscreenAndFailingGrabsAndReusesTheBuffer) {
    RgbaImage out;
    EXPECT_FALSE(sim->grab({10, 10, 0, 5}, out));
    EXPECT_FALSE(sim->grab(Rect::null(), out));
    EXPECT_FALSE(sim->grab({1000, 1000, 10, 10}, out));
    ASSERT_TRUE(sim->grab({0, 0, 100, 50}, out));
    const uint8_t* buffer = out.pixels.data();
    ASSERT_TRUE(sim->grab({0, 0, 10, 10}, out));
    EXPECT_EQ(out.pixels.data(), buffer);
    EXPECT_EQ(out.pixels.size(), 400u);
    sim->setGrabFails(true);
    EXPECT_FALSE(sim->grab({0, 0, 10, 10}, out));
    EXPECT_EQ(sim->grabCount(), 6);
}

TEST(SimDesktopEvents, RecordsEveryPostWithVirtualTimeAndMovesThePointer) {
    auto sim = SimDesktop::create();
    sim->setPointer({5, 6});
    EXPECT_EQ(sim->pointerLocation(), (Point{5, 6}));
    Desktop d = sim->desktop();
    EXPECT_TRUE(d.events->postButton(PointerButton::right, Press::down, {10, 20}, kFlagShift, 1));
    d.clock->sleepMs(20);
    EXPECT_TRUE(d.events->postButton(PointerButton::right, Press::up, {10, 20}, kFlagShift, 1));
    EXPECT_EQ(sim->pointer(), (Point{10, 20}));
    EXPECT_TRUE(d.events->postMove({3.5, 4}));
    EXPECT_TRUE(d.events->postKey(56, Press::down, kFlagShift));
    EXPECT_EQ(sim->pointer(), (Point{3.5, 4}));   // keys leave the pointer alone
    d.clock->sleepMs(8);
    EXPECT_TRUE(d.events->postScroll(-3, {7, 8}));
    EXPECT_EQ(sim->pointer(), (Point{7, 8}));
    EXPECT_EQ(describe(sim->postedEvents()),
              "0ms button right down (10,20) flags 0x20000 click 1\n"
              "20ms button right up (10,20) flags 0x20000 click 1\n"
              "20ms move (3.5,4)\n"
              "20ms key down 56 flags 0x20000\n"
              "28ms scroll -3 (7,8)");
    sim->clearPostedEvents();
    EXPECT_TRUE(sim->postedEvents().empty());
}

TEST(SimDesktopEvents, PostsFromSeveralThreadsAreAllKeptInOrderOfTime) {
    auto sim = SimDesktop::create();
    Desktop d = sim->desktop();
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                d.events->postKey(static_cast<uint16_t>(t), Press::down, 0);
                d.clock->sleepMicros(10);
            }
        });
    for (auto& t : threads) t.join();
    const auto events = sim->postedEvents();
    ASSERT_EQ(events.size(), 600u);
    for (size_t i = 1; i < events.size(); ++i) EXPECT_LE(events[i - 1].timeMicros, events[i].timeMicros);
}

TEST(SimDesktopTap, DeliversInjectedEventsOnlyWhileRunningAndEnabled) {
    auto sim = SimDesktop::create();
    EventTap& tap = *sim->desktop().tap;
    std::vector<TapEventType> seen;
    TapEvent click;
    click.type = TapEventType::leftMouseDown;
    EXPECT_FALSE(sim->tap().inject(click));
    ASSERT_TRUE(tap.start([&](const TapEvent& e) { seen.push_back(e.type); }));
    EXPECT_TRUE(tap.isRunning());
    EXPECT_TRUE(sim->tap().inject(click));
    sim->tap().disable(TapEventType::tapDisabledByTimeout);
    EXPECT_FALSE(sim->tap().inject(click));
    tap.reenable();
    EXPECT_EQ(sim->tap().reenableCount(), 1);
    EXPECT_TRUE(sim->tap().inject(click));
    tap.stop();
    EXPECT_FALSE(sim->tap().inject(click));
    EXPECT_EQ(seen, (std::vector<TapEventType>{TapEventType::leftMouseDown, TapEventType::tapDisabledByTimeout,
                                               TapEventType::leftMouseDown}));
    sim->tap().setCreationFails(true);
    EXPECT_FALSE(tap.start([](const TapEvent&) {}));
    EXPECT_FALSE(tap.isRunning());
}

TEST(SimDesktopDryRun, ScreenshotDesktopHasOneScaleOneDisplayOfTheImageSize) {
    RgbaImage shot{30, 20, std::vector<uint8_t>(30 * 20 * 4, 7)};
    auto sim = SimDesktop::createWithScreenshot(shot);
    EXPECT_EQ(sim->clock().mode(), SimClock::Mode::dryRun);
    EXPECT_EQ(sim->mainDisplayBounds(), (Rect{0, 0, 30, 20}));
    RgbaImage out;
    ASSERT_TRUE(sim->grab({0, 0, 30, 20}, out));
    EXPECT_EQ(out.pixels, shot.pixels);
    // A long dry run must not grow with every event it posts.
    EXPECT_TRUE(sim->postMove({5, 6}));
    EXPECT_TRUE(sim->postKey(1, Press::down, 0));
    EXPECT_TRUE(sim->postedEvents().empty());
    EXPECT_EQ(sim->pointer(), (Point{5, 6}));
}
