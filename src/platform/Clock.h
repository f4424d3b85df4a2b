// Monotonic time and sleeping for everything that paces itself (player, runner, Lua).
// The real clock sleeps; the simulated one advances virtual time at once, so a test
// can assert exact pauses. Every member may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tapforge::platform {

class Clock {
public:
    virtual ~Clock() = default;

    // Monotonic time in microseconds since an arbitrary fixed start.
    virtual int64_t nowMicros() const = 0;
    int64_t nowMs() const { return nowMicros() / 1000; }

    // Blocks the calling thread for `micros` microseconds (nothing for <= 0).
    virtual void sleepMicros(int64_t micros) = 0;
    void sleepMs(int64_t ms) { sleepMicros(ms * 1000); }

    // Waits on `cv` (with `lock` held by the caller) for at most `micros` microseconds,
    // or until notified. Spurious wake-ups are allowed: callers re-check their state.
    // The simulated clock advances by the whole `micros` and returns without blocking.
    virtual void waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int64_t micros) = 0;
};

// The steady system clock.
class SystemClock final : public Clock {
public:
    int64_t nowMicros() const override {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void sleepMicros(int64_t micros) override;
    void waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int64_t micros) override {
        if (micros > 0) cv.wait_for(lock, std::chrono::microseconds(micros));
    }
};

}  // namespace tapforge::platform
