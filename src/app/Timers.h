// Delayed main-thread tasks (the autosave debounce, the short wait before a capture), behind
// an interface so tests run them on a virtual clock with exact timing.
// Threads: main thread only; tasks run on the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

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

// Timers on a virtual clock (tests, benchmarks): tasks run only inside `advance`, in due order.
class VirtualTimers final : public Timers {
public:
    TaskId runAfter(int64_t delayMs, std::function<void()> task) override;
    void cancel(TaskId id) override;
    // Moves the clock `ms` forward, running every task that falls due on the way.
    void advance(int64_t ms);
    size_t pending() const { return tasks_.size(); }

private:
    int64_t now_ = 0;
    TaskId lastId_ = 0;
    std::map<std::pair<int64_t, TaskId>, std::function<void()>> tasks_;
};

}  // namespace tapforge::app
