// Shared set-up of the X11 integration tests: a private Xvfb on a free display number, the
// backend opened on it, a second plain client for injecting input "from another program", and
// a helper window that covers the screen and counts what it receives.
#pragma once

// Xlib's None and Bool macros break GoogleTest's headers: a file that included Xlib first loses
// them here (use 0L and int instead).
#undef None
#undef Bool

#include <gtest/gtest.h>

#include <sys/types.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "engine/MainLoop.h"
#include "platform/Desktop.h"

typedef struct _XDisplay Display;

namespace tapforge::platform {
inline void PrintTo(const Point& p, std::ostream* os) { *os << "(" << p.x << ", " << p.y << ")"; }
inline void PrintTo(const Rect& r, std::ostream* os) {
    *os << "(" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << ")";
}
}  // namespace tapforge::platform

namespace tapforge::testing {

using namespace std::chrono_literals;

// Starts Xvfb with one screen of width × height at depth 24; empty display() on failure.
class XvfbServer {
public:
    XvfbServer(int width, int height);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;

    const std::string& display() const { return display_; }
    bool running() const { return pid_ > 0; }
    void kill();   // at once (SIGKILL), as a crash would
    const std::string& failure() const { return failure_; }

private:
    pid_t pid_ = -1;
    std::string display_, failure_;
};

// Two monitors side by side: the left one (1280 x 1024, root +0+0) is secondary, the right
// one (1920 x 1080, root +1280+0) is primary, so global (0, 0) is root (1280, 0).
inline constexpr int kRootWidth = 3200;
inline constexpr int kRootHeight = 1080;
inline constexpr int kPrimaryRootX = 1280;

// Defines the two monitors on `display`; false when RandR 1.5 is not there.
bool defineTwoMonitors(Display* display);

// A window on its own connection covering the given root rectangle (the whole root unless
// told), holding the keyboard focus and counting input events.
class CountingWindow {
public:
    explicit CountingWindow(const std::string& display, int x = 0, int y = 0, int width = kRootWidth,
                            int height = kRootHeight);
    ~CountingWindow();
    CountingWindow(const CountingWindow&) = delete;

    // Reads the events that have arrived (waits up to `settle` for the server to deliver).
    void pump(std::chrono::milliseconds settle = 150ms);
    // Fills a rectangle (relative to the window) with a colour 0xRRGGBB and waits for it.
    void fill(int x, int y, int width, int height, unsigned long rgb);

    int buttonPresses[16] = {};
    int buttonReleases[16] = {};
    int motions = 0, keyPresses = 0, keyReleases = 0;
    unsigned lastButtonState = 0, lastKeyState = 0, lastKeycode = 0;   // of the last press
    struct Click {   // a button press or release at its root point, in arrival order
        bool press;
        unsigned button;
        int x, y;
        friend bool operator==(const Click&, const Click&) = default;
    };
    std::vector<Click> clicks;
    // The characters the key presses produced, as an application reads them (under the mapping
    // and modifier state of that moment), in UTF-8; Return is a line feed.
    std::string typed;
    Display* display() const { return display_; }

private:
    Display* display_ = nullptr;
    unsigned long window_ = 0;
};

// XTest input from a connection of its own, as another program would send it.
class OtherClient {
public:
    explicit OtherClient(const std::string& display);
    ~OtherClient();
    OtherClient(const OtherClient&) = delete;
    void key(unsigned keysym);   // press and release
    void press(unsigned keysym, bool down);
    void button(unsigned number, bool down);
    void click(unsigned button);   // where the pointer is
    void move(int rootX, int rootY);
    Display* display() const { return display_; }

private:
    Display* display_ = nullptr;
};

// Keycodes and pointer buttons (X masks) held, as the server sees them.
std::vector<int> keysHeld(Display* display);
unsigned buttonsHeld(Display* display);
// Success when the server holds no key and no button; else says what it holds.
::testing::AssertionResult nothingHeld(Display* display);
platform::Point queryPointer(Display* display);   // root coordinates
// Polls `done` until it answers true or `timeout` passes; answers `done()`.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
// One pixel's red, green, blue and alpha.
std::array<int, 4> rgbaAt(const platform::RgbaImage& image, int x, int y);

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
    // The exit status (128 + the signal that ended it); -1 on timeout.
    int wait(std::chrono::milliseconds timeout);
    const std::string& output() const { return output_; }

private:
    bool readSome(int waitMs);
    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
};

// A fresh folder under the temporary directory, removed with everything in it at the end.
struct TempFolder {
    explicit TempFolder(const std::string& name);
    ~TempFolder();
    std::string operator/(const std::string& file) const { return (path / file).string(); }
    std::filesystem::path path;
};

class X11Test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the main loop until `done` or `timeout`; answers `done()`.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s) {
        return loop.runUntil(done, timeout);
    }
    void runFor(std::chrono::milliseconds duration) { loop.runUntil([] { return false; }, duration); }
    // Runs tapforge-cli with `args` to its end: exit status and output.
    std::pair<int, std::string> runCli(std::vector<std::string> args);
    // Root x of global x = 0.
    int originX() const { return twoMonitors ? kPrimaryRootX : 0; }

    bool usesCli = false;   // skipped when tapforge-cli is not built
    std::unique_ptr<XvfbServer> server;
    MainLoop loop;
    std::optional<platform::Desktop> desktop;
    std::unique_ptr<OtherClient> other;   // closed before the server goes: Xlib ends a process on a lost connection
    bool twoMonitors = false;

private:
    Display* monitorClient_ = nullptr;
};

}  // namespace tapforge::testing
