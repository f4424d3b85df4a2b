#include "platform/sim/SimClock.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using tapforge::platform::sim::SimClock;

TEST(SimClock, SleepsAdvanceVirtualTimeAtOnceAndCallbacksRunAtTheirTimeInOrder) {
    SimClock clock(SimClock::Mode::virtualTime, 50'000);
    std::vector<std::pair<int, int64_t>> seen, expected{{0, 50'000}, {1, 60'000}, {2, 60'000}, {3, 80'000}};
    auto at = [&](int ms, int id) { clock.atMs(ms, [&, id] { seen.emplace_back(id, clock.nowMicros()); }); };
    at(80, 3), at(60, 1), at(60, 2), at(1, 0);   // 1 ms is past: due at the next sleep, even of nothing
    clock.sleepMicros(0);
    clock.sleepMs(9);
    clock.sleepMicros(-5);   // nothing for negative
    EXPECT_EQ(seen.size(), 1u);
    clock.sleepMs(25);   // crosses 60 and 80; the sleep still lasts its full length
    clock.sleepMicros(15);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(std::tuple(clock.nowMicros(), clock.nowMs(), clock.totalSleptMicros()),
              std::tuple(84'015, 84, 34'015));
}

TEST(SimClock, DryRunSkipsSleepsButCountsRealTime) {
    SimClock clock(SimClock::Mode::dryRun);
    const auto realStart = std::chrono::steady_clock::now();
    clock.sleepMs(60'000);
    EXPECT_LT(std::chrono::steady_clock::now() - realStart, std::chrono::seconds(30)) << "not skipped";
    const int64_t afterSleep = clock.nowMicros();
    EXPECT_TRUE(afterSleep >= 60'000'000 && clock.totalSleptMicros() == 60'000'000) << afterSleep;
    // Real time spent computing moves the clock on without any sleep.
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    EXPECT_GE(clock.nowMicros() - afterSleep, 3'000);
}
