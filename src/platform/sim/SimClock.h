// The simulated desktop's clock. Two modes:
//  - virtualTime: time moves only when something sleeps or waits, by exactly the amount asked,
//    so a test of a long script runs in microseconds and can assert every pause;
//  - dryRun: sleeps are skipped as well, but the real time spent between them is added too, so a
//    CPU-bound Lua loop still reaches its time limit.
// Tests can schedule callbacks at virtual times (`at`); they run on the thread whose sleep or
// wait carries time past them, with no clock lock and no caller lock held. Time is shared: two
// threads sleeping 1 ms each advance it by 2 ms. Every member may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "platform/Clock.h"

namespace tapforge::platform::sim {

class SimClock final : public Clock {
public:
    enum class Mode { virtualTime, dryRun };

    explicit SimClock(Mode mode = Mode::virtualTime, int64_t startMicros = 0);

    int64_t nowMicros() const override;
    // Advances time by `micros` at once, running the callbacks that come due on the way.
    void sleepMicros(int64_t micros) override;
    // Advances by the whole `micros` and returns without blocking (the caller's lock is released
    // and re-taken, as a real wait would). When a scheduled callback comes due inside the slice,
    // the wait ends at that callback's time, as a notification would have ended a real wait.
    void waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int64_t micros) override;

    // Moves time forward from the test's side (same rules as sleepMicros).
    void advance(int64_t micros) { sleepMicros(micros); }
    // Runs `fn` once when time reaches `atMicros` (or on the next sleep/wait if it is already past).
    // Callbacks due at the same time run in the order they were scheduled.
    void at(int64_t atMicros, std::function<void()> fn);
    void atMs(int64_t atMs, std::function<void()> fn) { at(atMs * 1000, std::move(fn)); }

    // Sum of all time requested through sleepMicros and waitFor (not the real time in dryRun).
    int64_t totalSleptMicros() const;
    Mode mode() const { return mode_; }

private:
    enum class Stop { atEnd, atFirstCallback };
    // Advances by up to `micros`, running due callbacks; `lock` (may be null) is released while
    // callbacks run.
    void advanceBy(int64_t micros, Stop stop, std::unique_lock<std::mutex>* callerLock);
    int64_t nowLocked() const;

    const Mode mode_;
    mutable std::mutex mutex_;
    int64_t virtualMicros_;   // in dryRun: the sum of the sleeps, added to the real elapsed time
    int64_t slept_ = 0;
    int64_t realStartMicros_ = 0;
    std::multimap<int64_t, std::function<void()>> scheduled_;
};

}  // namespace tapforge::platform::sim
