// The life of a listener thread that waits on one X connection's socket (the thread, a pipe that
// wakes it to stop, the stopping and running flags) and the hand-over of what it reads to the
// main thread. Shared by the recording tap and the hotkey monitor. Internal to platform/x11.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/MainThread.h"

namespace tapforge::platform::x11 {

// Threads: openWakePipe(), start() and stop() are called by the owner; stop() may also be called
// from the listener thread itself (a handler run there), which then only asks it to end. The body
// calls stopping(), wait() and markEnded() on the listener thread.
class X11ListenerThread {
public:
    X11ListenerThread() = default;
    ~X11ListenerThread() { stop(); }
    X11ListenerThread(const X11ListenerThread&) = delete;
    X11ListenerThread& operator=(const X11ListenerThread&) = delete;

    // Opens the wake pipe; false when the system refuses one. Call before start().
    bool openWakePipe();
    // Runs `body` on a new thread, marked running. Needs the pipe from openWakePipe().
    void start(std::function<void()> body);

    // Ends the thread, joins it and closes the pipe; true when the owner may now release what
    // the thread used. Called on the listener thread itself the thread cannot be joined: it is
    // only told to end after the current event (joined by the next start or by the owner's
    // destructor) and the answer is false.
    bool stop();

    bool running() const { return running_.load(); }
    bool stopping() const { return stopping_.load(); }
    // The body has ended on its own (connection lost): no longer running.
    void markEnded() { running_.store(false); }
    // Waits up to 250 ms for `fd` to be readable or for stop(); the revents seen on `fd`.
    short wait(int fd) const;

private:
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> running_{false};
    int wake_[2] = {-1, -1};
};

// Where a listener's events go on the main thread: the handler, and a generation that drops the
// events still queued from an earlier start once the listener is stopped or started again. Copies
// share one state, which the posted tasks keep alive after the owner is gone. Any thread.
template <typename Event>
class ListenerDelivery {
public:
    using Handler = std::function<void(const Event&)>;

    // The running listener's events, queued ones included, go to `handler` from now on.
    void replaceHandler(Handler handler) {
        std::lock_guard guard(state_->mutex);
        state_->handler = std::move(handler);
    }
    // A new start: the generation the new listener stamps its events with.
    uint64_t begin(Handler handler) {
        std::lock_guard guard(state_->mutex);
        state_->handler = std::move(handler);
        return ++state_->generation;
    }
    // Events already queued for the main thread are dropped.
    void end() {
        std::lock_guard guard(state_->mutex);
        ++state_->generation;
        state_->handler = nullptr;
    }
    // From the listener thread: `event` reaches the handler on the main thread unless the
    // listener it came from has been stopped or started again by then.
    void post(const MainThreadPoster& poster, uint64_t generation, const Event& event) const {
        std::shared_ptr<State> state = state_;
        poster([state, generation, event] {
            Handler handler;
            {
                std::lock_guard guard(state->mutex);
                if (state->generation != generation || !state->handler) return;
                handler = state->handler;
            }
            handler(event);
        });
    }

private:
    struct State {
        std::mutex mutex;
        Handler handler;
        uint64_t generation = 0;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace tapforge::platform::x11
