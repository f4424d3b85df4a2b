#include "platform/sim/SimDesktop.h"

#include <gtest/gtest.h>

#include <thread>

using namespace tapforge::platform;
using namespace tapforge::platform::sim;

namespace {

constexpr Rgba kBlack{0, 0, 0, 255}, kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255};

// Primary 100x50 (listed second); right of it a scale-2 40x40 screen 10 points lower; above its left part
// one at negative x (global y -20). A grab touching the scale-2 screen doubles pixels; gaps are black.
TEST(SimDesktop, ScreensAndGrabsAcrossThemScalesAndGaps) {
    auto sim = SimDesktop::create();
    EXPECT_TRUE(sim->mainDisplayBounds() == (Rect{0, 0, 0, 0}) && sim->mainScreenScale() == 1.0);
    sim->addScreen({100, 0, 40, 40}, 2.0, kGreen);
    EXPECT_EQ(sim->mainScreenScale(), 2.0) << "no screen at the origin yet: the first one";
    sim->addScreen({0, 0, 100, 50}, 1.0, kRed);
    sim->addScreen({-30, 50, 60, 20}, 1.0, kBlue);
    ASSERT_EQ(sim->screens().size(), 3u);
    EXPECT_TRUE(sim->mainDisplayBounds() == (Rect{0, 0, 100, 50}) && sim->mainScreenScale() == 1.0);
    EXPECT_EQ(sim->screen(0).image.width, 80);
    RgbaImage out, other;
    // Points x < 100 on the primary, x >= 100 and 10 <= y < 50 on the second screen.
    ASSERT_TRUE(sim->grab({90, 0, 20, 20}, out));
    // (-40, -25) left of every screen, (-30, -20) the blue top-left, (5, 1) the primary, (-35, 1) nothing.
    ASSERT_TRUE(sim->grab({-40, -25, 50, 30}, other));
    EXPECT_EQ((std::vector{out.width, out.height, other.width, other.height}), (std::vector{40, 40, 50, 30}));
    const std::tuple<const RgbaImage&, int, int, Rgba> probes[] = {
        {out, 0, 0, kRed}, {out, 19, 39, kRed}, {out, 20, 19, kBlack}, {out, 20, 20, kGreen},
        {out, 39, 39, kGreen}, {other, 0, 0, kBlack}, {other, 10, 5, kBlue}, {other, 45, 26, kRed},
        {other, 5, 26, kBlack}};
    for (const auto& [image, x, y, colour] : probes)
        EXPECT_TRUE(std::equal(colour.begin(), colour.end(), image.pixel(x, y))) << x << "," << y;
    for (Rect bad : {Rect{10, 10, 0, 5}, Rect::null(), Rect{1000, 1000, 10, 10}})
        EXPECT_FALSE(sim->grab(bad, out));
    const uint8_t* buffer = out.pixels.data();   // a smaller grab into it needs no new memory
    ASSERT_TRUE(sim->grab({0, 0, 10, 10}, out));
    EXPECT_TRUE(out.pixels.data() == buffer && out.pixels.size() == 400u);
    sim->setGrabFails(true);
    EXPECT_FALSE(sim->grab({0, 0, 10, 10}, out));
    EXPECT_EQ(sim->grabCount(), 7);
}

TEST(SimDesktop, RecordsEveryPostWithVirtualTimeAndMovesThePointer) {
    auto sim = SimDesktop::create();
    sim->setPointer({5, 6});
    Desktop d = sim->desktop();
    std::vector<Point> pointer{sim->pointerLocation().value()};
    const auto posted = [&](bool ok) { pointer.push_back(sim->pointer()); EXPECT_TRUE(ok); };
    posted(d.events->postButton(PointerButton::right, Press::down, {10, 20}, kFlagShift, 1));
    d.clock->sleepMs(20);
    posted(d.events->postButton(PointerButton::right, Press::up, {10, 20}, kFlagShift, 1));
    posted(d.events->postMove({3.5, 4}));
    posted(d.events->postKey(56, Press::down, kFlagShift));   // keys leave the pointer alone
    d.clock->sleepMs(8);
    posted(d.events->postScroll(-3, {7, 8}));
    EXPECT_EQ(pointer, (std::vector<Point>{{5, 6}, {10, 20}, {10, 20}, {3.5, 4}, {3.5, 4}, {7, 8}}));
    EXPECT_EQ(describe(sim->postedEvents()),
              "0ms button right down (10,20) flags 0x20000 click 1\n"
              "20ms button right up (10,20) flags 0x20000 click 1\n"
              "20ms move (3.5,4)\n20ms key down 56 flags 0x20000\n28ms scroll -3 (7,8)");
    sim->clearPostedEvents();
    EXPECT_TRUE(sim->postedEvents().empty());
}

TEST(SimDesktop, PostsAndSleepsFromSeveralThreadsAreAllKeptInOrderOfTime) {
    auto sim = SimDesktop::create();
    Desktop d = sim->desktop();
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i, d.clock->sleepMicros(1000))
                d.events->postKey(uint16_t(t), Press::down, 0);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(d.clock->nowMicros(), 600'000) << "concurrent sleeps add up";
    const auto events = sim->postedEvents();
    EXPECT_TRUE(events.size() == 600 && std::ranges::is_sorted(events, {}, &PostedEvent::timeMicros));
}

TEST(SimDesktop, TapDeliversInjectedEventsOnlyWhileRunningAndEnabled) {
    using enum TapEventType;
    auto sim = SimDesktop::create();
    EventTap& tap = *sim->desktop().tap;
    std::vector<TapEventType> seen;
    TapEvent click;
    click.type = leftMouseDown;
    const auto inject = [&] { return sim->tap().inject(click); };
    EXPECT_FALSE(inject());
    ASSERT_TRUE(tap.start([&](const TapEvent& e) { seen.push_back(e.type); }));
    EXPECT_TRUE(tap.isRunning() && inject());
    sim->tap().disable(tapDisabledByTimeout);
    EXPECT_FALSE(inject());
    tap.reenable();
    EXPECT_TRUE(sim->tap().reenableCount() == 1 && inject());
    tap.stop();
    EXPECT_FALSE(inject());
    EXPECT_EQ(seen, (std::vector{leftMouseDown, tapDisabledByTimeout, leftMouseDown}));
    sim->tap().setCreationFails(true);
    EXPECT_FALSE(tap.start([](const TapEvent&) {}));
    EXPECT_FALSE(tap.isRunning());
}

TEST(SimDesktop, ScreenshotDesktopIsOneScaleOneDisplayOfTheImageAndKeepsNoEvents) {
    RgbaImage shot{30, 20, std::vector<uint8_t>(30 * 20 * 4, 7)};
    auto sim = SimDesktop::createWithScreenshot(shot);
    EXPECT_EQ(sim->clock().mode(), SimClock::Mode::dryRun);
    EXPECT_EQ(sim->mainDisplayBounds(), (Rect{0, 0, 30, 20}));
    RgbaImage out;
    ASSERT_TRUE(sim->grab({0, 0, 30, 20}, out));
    EXPECT_EQ(out.pixels, shot.pixels);
    // A long dry run must not grow with every event it posts.
    EXPECT_TRUE(sim->postMove({5, 6}) && sim->postKey(1, Press::down, 0));
    EXPECT_TRUE(sim->postedEvents().empty() && sim->pointer() == (Point{5, 6}));
}

}  // namespace
