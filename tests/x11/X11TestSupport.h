// Shared set-up of the X11 integration tests: a private server, the backend opened on it, and
// a second plain client for injecting input "from another program".
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
#include <filesystem>
#include <memory>
#include <vector>
#include <ostream>
#include <optional>
#include <string>

#include "XvfbServer.h"
#include "platform/Desktop.h"

namespace tapforge::platform {
inline void PrintTo(const Point& p, std::ostream* os) { *os << "(" << p.x << ", " << p.y << ")"; }
inline void PrintTo(const Rect& r, std::ostream* os) {
    *os << "(" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << ")";
}
}  // namespace tapforge::platform

namespace tapforge::testing {

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
