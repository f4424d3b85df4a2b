// Shared set-up of the X11 integration tests: a private Xvfb on a free display number, the
// backend opened on it, a second plain client for injecting input "from another program", and
// a helper window that covers the screen and counts what it receives.
#pragma once

// Xlib's None and Bool macros break GoogleTest's headers: a file that included Xlib first loses
// them here (use 0L and int instead).
#ifdef None
#undef None
#endif
#ifdef Bool
#undef Bool
#endif

#include <gtest/gtest.h>

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/Desktop.h"
#include "platform/MainThread.h"

typedef struct _XDisplay Display;

namespace tapforge::platform {
inline void PrintTo(const Point& p, std::ostream* os) { *os << "(" << p.x << ", " << p.y << ")"; }
inline void PrintTo(const Rect& r, std::ostream* os) {
    *os << "(" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << ")";
}
}  // namespace tapforge::platform

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
    // The characters the key presses produced, as an application reads them (the keysym of
    // each press under the mapping and modifier state of that moment), in UTF-8. Return is
    // a line feed.
    std::string typed;
    Display* display() const { return display_; }

private:
    Display* display_ = nullptr;
    unsigned long window_ = 0;
};

// Two monitors side by side: the left one (1280 x 1024, root +0+0) is secondary, the right
// one (1920 x 1080, root +1280+0) is primary, so global (0, 0) is root (1280, 0).
inline constexpr int kRootWidth = 3200;
inline constexpr int kRootHeight = 1080;
inline constexpr int kPrimaryRootX = 1280;

// Defines the two monitors on `display`; false when RandR 1.5 is not there.
bool defineTwoMonitors(Display* display);

// XTest input from a connection of its own, as another program would send it.
class OtherClient {
public:
    explicit OtherClient(const std::string& display);
    ~OtherClient();
    void key(unsigned keysym);           // press and release
    void press(unsigned keysym, bool down);
    void button(unsigned number, bool down);
    void click(int rootX, int rootY, unsigned button);
    void move(int rootX, int rootY);
    Display* display() const { return display_; }

private:
    Display* display_ = nullptr;
};

// Keycodes and pointer buttons (X masks) held, as the server sees them.
std::vector<int> keysHeld(Display* display);
unsigned buttonsHeld(Display* display);
platform::Point queryPointer(Display* display);   // root coordinates

// tapforge-cli next to the test binaries (<build>/bin).
std::filesystem::path cliPath();

// A child process with DISPLAY set, its stdout and stderr read through a pipe; killed if still
// running at destruction.
class Child {
public:
    Child(const std::vector<std::string>& args, const std::string& display);
    ~Child();
    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Reads output until it holds `text` or `timeout` passes.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    // The exit status; -1 on timeout.
    int wait(std::chrono::milliseconds timeout);
    const std::string& output() const { return output_; }

private:
    bool readSome(int waitMs);
    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
};

class X11Test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::unique_ptr<XvfbServer> server;
    std::unique_ptr<MainQueue> mainQueue;
    std::optional<platform::Desktop> desktop;
    bool twoMonitors = false;
    // Root x of global x = 0.
    int originX() const { return twoMonitors ? kPrimaryRootX : 0; }

private:
    Display* monitorClient_ = nullptr;
};

}  // namespace tapforge::testing
