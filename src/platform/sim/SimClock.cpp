#include "platform/sim/SimClock.h"

#include <chrono>
#include <vector>

namespace tapforge::platform::sim {

namespace {
int64_t realMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

SimClock::SimClock(Mode mode, int64_t startMicros) : mode_(mode), virtualMicros_(startMicros) {
    if (mode_ == Mode::dryRun) realStartMicros_ = realMicros();
}

int64_t SimClock::nowLocked() const {
    if (mode_ == Mode::dryRun) return virtualMicros_ + (realMicros() - realStartMicros_);
    return virtualMicros_;
}

int64_t SimClock::nowMicros() const {
    std::lock_guard guard(mutex_);
    return nowLocked();
}

int64_t SimClock::totalSleptMicros() const {
    std::lock_guard guard(mutex_);
    return slept_;
}

void SimClock::at(int64_t atMicros, std::function<void()> fn) {
    std::lock_guard guard(mutex_);
    scheduled_.emplace(atMicros, std::move(fn));
}

void SimClock::advanceBy(int64_t micros, Stop stop, std::unique_lock<std::mutex>* callerLock) {
    if (micros < 0) micros = 0;
    std::unique_lock guard(mutex_);
    slept_ += micros;
    // In dryRun the real part of now() keeps moving; only the virtual part is ours to advance.
    const int64_t target = nowLocked() + micros;
    for (;;) {
        const int64_t now = nowLocked();
        auto due = scheduled_.begin();
        if (due == scheduled_.end() || due->first > target) {
            virtualMicros_ += target - now > 0 ? target - now : 0;
            return;
        }
        if (due->first > now) virtualMicros_ += due->first - now;
        std::function<void()> fn = std::move(due->second);
        scheduled_.erase(due);
        // Callbacks may call into anything (stop a runner, post a key), including this clock.
        guard.unlock();
        if (callerLock && callerLock->owns_lock()) {
            callerLock->unlock();
            fn();
            callerLock->lock();
        } else {
            fn();
        }
        guard.lock();
        if (stop == Stop::atFirstCallback) {
            // The rest of the slice was never waited for.
            const int64_t unused = target - nowLocked();
            if (unused > 0) slept_ -= unused;
            return;
        }
    }
}

void SimClock::sleepMicros(int64_t micros) { advanceBy(micros, Stop::atEnd, nullptr); }

void SimClock::waitFor(std::condition_variable&, std::unique_lock<std::mutex>& lock, int64_t micros) {
    advanceBy(micros, Stop::atFirstCallback, &lock);
}

}  // namespace tapforge::platform::sim
