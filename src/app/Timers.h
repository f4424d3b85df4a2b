// Delayed main-thread tasks (the autosave debounce, the short wait before a capture), behind
// an interface so tests run them on a virtual clock with exact timing.
// Threads: main thread only; tasks run on the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace tapforge::app {

class Timers {
public:
    using TaskId = uint64_t;   // never 0
    virtual ~Timers() = default;
    // Runs `task` once, `delayMs` milliseconds from now.
    virtual TaskId runAfter(int64_t delayMs, std::function<void()> task) = 0;
    // A task not yet run is dropped; unknown or finished ids are ignored.
    virtual void cancel(TaskId id) = 0;
};

// Single-shot Qt timers in the calling thread's event loop.
std::shared_ptr<Timers> makeQtTimers();

}  // namespace tapforge::app
