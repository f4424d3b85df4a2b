// A private Xvfb, the backend opened on it, another client's XTest input and a counting window.
#pragma once

// Xlib's None and Bool break GoogleTest's headers.
#undef None
#undef Bool

#include <gtest/gtest.h>

#include <sys/types.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>

#include "engine/MainLoop.h"
#include "platform/Desktop.h"

typedef struct _XDisplay Display;

namespace tapforge::platform {
inline void PrintTo(const Point& p, std::ostream* os) { *os << "(" << p.x << ", " << p.y << ")"; }
inline void PrintTo(const Rect& r, std::ostream* os) {
    *os << r.x << "," << r.y << " " << r.width << "x" << r.height;
}
}  // namespace tapforge::platform

namespace tapforge::testing {

using namespace std::chrono_literals;

class XvfbServer {
public:
    XvfbServer(int width, int height);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;

    const std::string& display() const { return display_; }
    bool running() const { return pid_ > 0; }
    void kill();   // SIGKILL, as a crash would
    const std::string& failure() const { return failure_; }

private:
    pid_t pid_ = -1;
    std::string display_, failure_;
};

// Secondary 1280x1024 at root +0+0, primary 1920x1080 at root +1280+0 (global 0,0).
inline constexpr int kRootWidth = 3200, kRootHeight = 1080, kPrimaryRootX = 1280;

bool defineTwoMonitors(Display* display);   // false without RandR 1.5

// A focused window on its own connection over a root rectangle, noting the input it receives.
class CountingWindow {
public:
    explicit CountingWindow(const std::string& display, int x = 0, int y = 0, int width = kRootWidth,
                            int height = kRootHeight);
    ~CountingWindow();
    CountingWindow(const CountingWindow&) = delete;

    void pump(std::chrono::milliseconds settle = 150ms);
    void fill(int x, int y, int width, int height, unsigned long rgb);

    int buttonPresses[16] = {};
    struct Click {   // at its root point
        bool press; unsigned button; int x, y;
        friend bool operator==(const Click&, const Click&) = default;
    };
    std::vector<Click> clicks;
    std::string input;   // presses and releases in order: "+Shift_L +a -a -Shift_L +1 -1" (keysyms, buttons)
    std::string typed;   // as an application reads the presses then, in UTF-8
    Display* display() const { return display_; }

private:
    Display* display_ = nullptr;
    unsigned long window_ = 0;
};

class OtherClient {
public:
    explicit OtherClient(const std::string& display);
    ~OtherClient();
    OtherClient(const OtherClient&) = delete;
    void key(unsigned keysym) { press(keysym, true), press(keysym, false); }
    void press(unsigned keysym, bool down);
    void button(unsigned number, bool down);
    void click(unsigned number) { button(number, true), button(number, false); }
    void move(int rootX, int rootY);
    Display* display() const { return display_; }

private:
    Display* display_ = nullptr;
};

unsigned buttonsHeld(Display* display);        // X button mask
::testing::AssertionResult nothingHeld(Display* display);
platform::Point queryPointer(Display* display);   // root coordinates
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
std::array<int, 4> rgbaAt(const platform::RgbaImage& image, int x, int y);
std::filesystem::path cliPath();   // <build>/bin/tapforge-cli

// A child with DISPLAY set, stdout and stderr kept in memory, killed at destruction.
class Child {
public:
    Child(std::vector<std::string> args, const std::string& display);
    ~Child();
    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    int wait(std::chrono::milliseconds timeout);   // 128 + signal if killed; -1 on timeout
    std::string output() const;

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

// A fresh temporary folder, removed with its contents.
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

    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s) {
        return loop.runUntil(done, timeout);
    }
    void runFor(std::chrono::milliseconds duration) { loop.runUntil([] { return false; }, duration); }
    std::pair<int, std::string> runCli(std::vector<std::string> args);
    int originX() const { return twoMonitors ? kPrimaryRootX : 0; }

    bool usesCli = false;   // skipped when tapforge-cli is not built
    std::unique_ptr<XvfbServer> server;
    MainLoop loop;
    std::optional<platform::Desktop> desktop;
    std::unique_ptr<OtherClient> other;   // closed before the server: a lost connection ends the process
    bool twoMonitors = false;

private:
    Display* monitorClient_ = nullptr;
};

}  // namespace tapforge::testing
