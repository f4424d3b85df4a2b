#include "platform/sim/SimClock.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>
#include <vector>

using tapforge::platform::sim::SimClock;

TEST(SimClock, SleepsAdvanceVirtualTimeAtOnceAndCallbacksRunAtTheirTimeInOrder) {
    SimClock clock;
    std::vector<std::pair<int, int64_t>> seen;
    clock.atMs(30, [&] { seen.emplace_back(3, clock.nowMicros()); });
    clock.atMs(10, [&] { seen.emplace_back(1, clock.nowMicros()); });
    clock.atMs(10, [&] { seen.emplace_back(2, clock.nowMicros()); });
    clock.sleepMs(9);
    clock.sleepMicros(-5);   // nothing for negative
    EXPECT_TRUE(seen.empty());
    clock.sleepMs(25);   // crosses 10 and 30; the sleep still lasts its full length
    clock.sleepMicros(15);
    EXPECT_EQ(seen, (std::vector<std::pair<int, int64_t>>{{1, 10'000}, {2, 10'000}, {3, 30'000}}));
    EXPECT_EQ(clock.nowMicros(), 34'015);
    EXPECT_EQ(clock.nowMs(), 34);
    EXPECT_EQ(clock.totalSleptMicros(), 34'015);
}

TEST(SimClock, CallbackInThePastRunsOnNextZeroSleep) {
    SimClock clock(SimClock::Mode::virtualTime, 50'000);
    int runs = 0;
    clock.atMs(1, [&] { ++runs; });
    clock.sleepMicros(0);
    EXPECT_EQ(runs, 1);
    clock.sleepMs(1);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(clock.nowMs(), 51);
}

// A stop request scheduled at 1234 ms must end the runner's 40 ms wait slice at 1234 ms, with
// the caller's mutex free while the callback runs (it will lock it to set its flag).
TEST(SimClock, WaitEndsAtCallbackTimeWithCallerLockReleased) {
    SimClock clock;
    std::mutex mutex;
    std::condition_variable cv;
    bool stopRequested = false;
    clock.atMs(1234, [&] {
        std::lock_guard guard(mutex);
        stopRequested = true;
        cv.notify_all();
    });
    std::unique_lock lock(mutex);
    int slices = 0;
    for (; !stopRequested; ++slices) {
        clock.waitFor(cv, lock, 40'000);
        ASSERT_TRUE(lock.owns_lock());
    }
    EXPECT_EQ(clock.nowMicros(), 1'234'000);
    EXPECT_EQ(slices, 31);   // 30 full slices to 1200 ms, then the one cut short at 1234 ms
    EXPECT_EQ(clock.totalSleptMicros(), 1'234'000);
}

TEST(SimClock, ConcurrentSleepsAddUp) {
    SimClock clock;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) clock.sleepMicros(1000);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(clock.nowMicros(), 4'000'000);
}

TEST(SimClock, DryRunSkipsSleepsButCountsRealTime) {
    SimClock clock(SimClock::Mode::dryRun);
    const auto realStart = std::chrono::steady_clock::now();
    clock.sleepMs(60'000);
    EXPECT_LT(std::chrono::steady_clock::now() - realStart, std::chrono::seconds(30)) << "the sleep was not skipped";
    const int64_t afterSleep = clock.nowMicros();
    EXPECT_GE(afterSleep, 60'000'000);
    // Real time spent computing moves the clock on without any sleep.
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    EXPECT_GE(clock.nowMicros() - afterSleep, 3'000);
    EXPECT_EQ(clock.totalSleptMicros(), 60'000'000);
}
