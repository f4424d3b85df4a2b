// A minimal main-thread task loop for hosts without a toolkit (the CLI, tests, benchmarks):
// other threads post tasks through poster(); the owning thread runs them in order.
// poster() stays valid after the loop is gone (late tasks are then dropped).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/MainThread.h"

namespace tapforge {

class MainLoop {
public:
    MainLoop() : queue_(std::make_shared<Queue>()) {}
    ~MainLoop() {
        std::lock_guard lock(queue_->mutex);
        queue_->closed = true;
        queue_->tasks.clear();
    }

    platform::MainThreadPoster poster() const {
        std::weak_ptr<Queue> weak = queue_;
        return [weak](std::function<void()> task) {
            if (auto queue = weak.lock()) queue->push(std::move(task));
        };
    }

    // Runs tasks until `done()` holds (checked before each wait and after each task), calling
    // `idle()` at least every `idlePeriod`, however many tasks arrive (signals are handled there).
    // Returns false when `timeout` passed first (real time).
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::hours(24 * 365),
                  const std::function<void()>& idle = {},
                  std::chrono::milliseconds idlePeriod = std::chrono::milliseconds(10)) {
        using SteadyClock = std::chrono::steady_clock;
        const auto deadline = SteadyClock::now() + timeout;
        auto idleDue = SteadyClock::now() + idlePeriod;
        while (!done()) {
            std::function<void()> task;
            {
                std::unique_lock lock(queue_->mutex);
                queue_->arrived.wait_until(lock, std::min(deadline, idleDue), [&] { return !queue_->tasks.empty(); });
                if (!queue_->tasks.empty()) {
                    task = std::move(queue_->tasks.front());
                    queue_->tasks.pop_front();
                }
            }
            if (task) task();
            const auto now = SteadyClock::now();
            if (now >= deadline) return done();
            if (now >= idleDue || !task) {
                if (idle) idle();
                idleDue = now + idlePeriod;
            }
        }
        return true;
    }

    // Runs every task already queued (and those they queue) without waiting.
    void drain() {
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(queue_->mutex);
                if (queue_->tasks.empty()) return;
                task = std::move(queue_->tasks.front());
                queue_->tasks.pop_front();
            }
            task();
        }
    }

private:
    struct Queue {
        std::mutex mutex;
        std::condition_variable arrived;
        std::deque<std::function<void()>> tasks;
        bool closed = false;

        void push(std::function<void()> task) {
            {
                std::lock_guard lock(mutex);
                if (closed) return;
                tasks.push_back(std::move(task));
            }
            arrived.notify_one();
        }
    };
    std::shared_ptr<Queue> queue_;
};

}  // namespace tapforge
