// Test support: a private Xvfb on a free display number, and a helper X client whose window
// covers the screen and counts what it receives.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MainThread.h"

typedef struct _XDisplay Display;

namespace tapforge::testing {

class XvfbServer {
public:
    // Starts Xvfb with one screen of width × height at depth 24; empty display() on failure.
    XvfbServer(int width, int height);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    const std::string& display() const { return display_; }
    bool running() const { return pid_ > 0; }
    // Kills the server at once (SIGKILL), as a crash would.
    void kill();
    const std::string& failure() const { return failure_; }

private:
    pid_t pid_ = -1;
    std::string display_;
    std::string failure_;
};

// The test's main thread: services post into it, the test drains it.
class MainQueue {
public:
    platform::MainThreadPoster poster();
    // Runs queued work until `done` answers true or `timeout` passes; answers `done()`.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Runs whatever arrives during `duration`.
    void runFor(std::chrono::milliseconds duration);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
};

// A window on its own connection covering the given root rectangle, counting input events.
class CountingWindow {
public:
    CountingWindow(const std::string& display, int x, int y, int width, int height);
    ~CountingWindow();

    // Reads the events that have arrived (waits up to `settle` for the server to deliver).
    void pump(std::chrono::milliseconds settle = std::chrono::milliseconds(150));
    // Fills a root rectangle (relative to the window) with a colour 0xRRGGBB and waits for it.
    void fill(int x, int y, int width, int height, unsigned long rgb);

    int buttonPresses[16] = {};
    int buttonReleases[16] = {};
    int motions = 0;
    int keyPresses = 0;
    int keyReleases = 0;
    unsigned lastButtonState = 0;     // modifier state of the last button press
    unsigned lastKeyState = 0;
    unsigned lastKeycode = 0;
    struct Click {   // a button press or release at its root point, in arrival order
        bool press;
        unsigned button;
        int x, y;
        friend bool operator==(const Click&, const Click&) = default;
    };
    std::vector<Click> clicks;
    Display* display() const { return display_; }

private:
    Display* display_ = nullptr;
    unsigned long window_ = 0;
};

}  // namespace tapforge::testing
