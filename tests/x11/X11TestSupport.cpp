#include "X11TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string_view>
#include <thread>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
// Xlib macros that clash with GoogleTest names.
#undef Bool
#undef None

#include "lua/LuaText.h"
#include "platform/x11/X11Desktop.h"

extern char** environ;

namespace tapforge::testing {

XvfbServer::XvfbServer(int width, int height) {
    int fds[2];
    if (pipe(fds) != 0) {
        failure_ = "pipe failed";
        return;
    }
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const std::string fd = std::to_string(fds[1]);
    pid_ = fork();
    if (pid_ == 0) {
        close(fds[0]);
        const int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0) {
            dup2(devnull, 1);
            dup2(devnull, 2);
        }
        // -displayfd: the server picks a free display number and writes it when it is ready.
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
               "-noreset", "+extension", "RECORD", "+extension", "XTEST", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
        failure_ = "fork failed";
        close(fds[0]);
        return;
    }
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (poll(&p, 1, 100) <= 0) continue;
        char c;
        const ssize_t n = read(fds[0], &c, 1);
        if (n <= 0) break;
        if (c == '\n') break;
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        failure_ = "Xvfb did not start (is it installed?)";
        kill();
        return;
    }
    display_ = ":" + number;
}

void XvfbServer::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

XvfbServer::~XvfbServer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill();
}

platform::MainThreadPoster MainQueue::poster() {
    return [this](std::function<void()> fn) {
        {
            std::lock_guard guard(mutex_);
            queue_.push_back(std::move(fn));
        }
        cv_.notify_all();
    };
}

bool MainQueue::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::deque<std::function<void()>> work;
        {
            std::unique_lock lock(mutex_);
            cv_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(20)),
                           [&] { return !queue_.empty(); });
            work.swap(queue_);
        }
        for (auto& fn : work) fn();
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return done();
    }
}

void MainQueue::runFor(std::chrono::milliseconds duration) {
    runUntil([] { return false; }, duration);
}

CountingWindow::CountingWindow(const std::string& name, int x, int y, int width, int height) {
    display_ = XOpenDisplay(name.c_str());
    if (!display_) return;
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;   // no window manager here, but keep it exact anyway
    attributes.event_mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask | KeyReleaseMask |
                            ExposureMask | StructureNotifyMask;
    attributes.background_pixel = BlackPixel(display_, DefaultScreen(display_));
    window_ = XCreateWindow(display_, DefaultRootWindow(display_), x, y, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                            CWOverrideRedirect | CWEventMask | CWBackPixel, &attributes);
    XMapRaised(display_, window_);
    XSync(display_, False);
    // Wait until it is mapped, then give it the keyboard focus so key events reach it.
    for (int i = 0; i < 100; ++i) {
        XEvent e;
        if (XCheckTypedWindowEvent(display_, window_, MapNotify, &e)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
    XSync(display_, False);
}

CountingWindow::~CountingWindow() {
    if (display_) XCloseDisplay(display_);
}

namespace {

// Appends the character of a keysym (Latin-1, Unicode keysyms, Return) in UTF-8.
void appendKeysymText(std::string& out, unsigned long keysym) {
    unsigned long cp = 0;
    if (keysym == XK_Return) cp = '\n';
    else if (keysym == XK_Tab) cp = '\t';
    else if ((keysym >= 0x20 && keysym <= 0x7E) || (keysym >= 0xA0 && keysym <= 0xFF)) cp = keysym;
    else if ((keysym & 0xFF000000) == 0x01000000) cp = keysym & 0x00FFFFFF;
    else return;   // modifiers and other function keys produce no character
    appendUtf8(static_cast<char32_t>(cp), out);
}

}  // namespace

void CountingWindow::pump(std::chrono::milliseconds settle) {
    if (!display_) return;
    const auto deadline = std::chrono::steady_clock::now() + settle;
    do {
        XSync(display_, False);
        while (XPending(display_) > 0) {
            XEvent e;
            XNextEvent(display_, &e);
            switch (e.type) {
            case ButtonPress:
                if (e.xbutton.button < 16) ++buttonPresses[e.xbutton.button];
                lastButtonState = e.xbutton.state;
                clicks.push_back({true, e.xbutton.button, e.xbutton.x_root, e.xbutton.y_root});
                break;
            case ButtonRelease:
                if (e.xbutton.button < 16) ++buttonReleases[e.xbutton.button];
                clicks.push_back({false, e.xbutton.button, e.xbutton.x_root, e.xbutton.y_root});
                break;
            case MotionNotify:
                ++motions;
                break;
            case KeyPress: {
                ++keyPresses;
                lastKeyState = e.xkey.state;
                lastKeycode = e.xkey.keycode;
                KeySym keysym = 0;
                char latin1[8];
                XLookupString(&e.xkey, latin1, sizeof latin1, &keysym, nullptr);
                appendKeysymText(typed, static_cast<unsigned long>(keysym));
                break;
            }
            case MappingNotify:
                XRefreshKeyboardMapping(&e.xmapping);
                break;
            case KeyRelease: ++keyReleases; break;
            default: break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
}

void CountingWindow::fill(int x, int y, int width, int height, unsigned long rgb) {
    if (!display_) return;
    GC gc = XCreateGC(display_, window_, 0, nullptr);
    XSetForeground(display_, gc, rgb);   // TrueColor 24-bit: the pixel value is 0xRRGGBB
    XFillRectangle(display_, window_, gc, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFreeGC(display_, gc);
    XSync(display_, False);
}

bool defineTwoMonitors(Display* d) {
    int eventBase, errorBase, major = 0, minor = 0;
    if (!XRRQueryExtension(d, &eventBase, &errorBase) || !XRRQueryVersion(d, &major, &minor) ||
        (major == 1 && minor < 5))
        return false;
    const Window root = DefaultRootWindow(d);
    XRRScreenResources* resources = XRRGetScreenResources(d, root);
    if (!resources || resources->noutput < 1) return false;
    RROutput output = resources->outputs[0];
    XRRSetOutputPrimary(d, root, output);

    // The monitor holding the server's one output replaces that output's own monitor and is
    // primary because the output is.
    auto define = [&](const char* name, int x, int width, int height, bool isPrimary) {
        XRRMonitorInfo m{};
        m.name = XInternAtom(d, name, False);
        m.x = x, m.y = 0, m.width = width, m.height = height;
        m.mwidth = width / 4, m.mheight = height / 4;
        m.primary = isPrimary;
        m.noutput = isPrimary ? 1 : 0;
        m.outputs = isPrimary ? &output : nullptr;
        XRRSetMonitor(d, root, &m);
    };
    define("TF-PRIMARY", kPrimaryRootX, 1920, 1080, true);
    define("TF-LEFT", 0, 1280, 1024, false);
    XRRFreeScreenResources(resources);
    XSync(d, False);

    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(d, root, True, &count);
    bool ok = count == 2;
    for (int i = 0; monitors && i < count; ++i)
        if (monitors[i].x == kPrimaryRootX) ok = ok && monitors[i].primary;
    if (monitors) XRRFreeMonitors(monitors);
    return ok;
}

OtherClient::OtherClient(const std::string& display) { display_ = XOpenDisplay(display.c_str()); }

OtherClient::~OtherClient() {
    if (display_) XCloseDisplay(display_);
}

void OtherClient::key(unsigned keysym) {
    const KeyCode kc = XKeysymToKeycode(display_, keysym);
    XTestFakeKeyEvent(display_, kc, True, CurrentTime);
    XTestFakeKeyEvent(display_, kc, False, CurrentTime);
    XSync(display_, False);
}

void OtherClient::press(unsigned keysym, bool down) {
    XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, keysym), down, CurrentTime);
    XSync(display_, False);
}

void OtherClient::button(unsigned number, bool down) {
    XTestFakeButtonEvent(display_, number, down, CurrentTime);
    XSync(display_, False);
}

void OtherClient::click(int rootX, int rootY, unsigned button) {
    XTestFakeMotionEvent(display_, -1, rootX, rootY, CurrentTime);
    XTestFakeButtonEvent(display_, button, True, CurrentTime);
    XTestFakeButtonEvent(display_, button, False, CurrentTime);
    XSync(display_, False);
}

void OtherClient::move(int rootX, int rootY) {
    XTestFakeMotionEvent(display_, -1, rootX, rootY, CurrentTime);
    XSync(display_, False);
}

std::vector<int> keysHeld(Display* d) {
    char keys[32] = {};
    XQueryKeymap(d, keys);
    std::vector<int> held;
    for (int kc = 0; kc < 256; ++kc)
        if ((keys[kc / 8] >> (kc % 8)) & 1) held.push_back(kc);
    return held;
}

// The pointer's root point and the button and modifier mask.
static unsigned queryPointer(Display* d, platform::Point& at) {
    Window root, child;
    int rootX = 0, rootY = 0, winX, winY;
    unsigned mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rootX, &rootY, &winX, &winY, &mask);
    at = {double(rootX), double(rootY)};
    return mask;
}

unsigned buttonsHeld(Display* d) {
    platform::Point unused;
    return queryPointer(d, unused) & (Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask);
}

platform::Point queryPointer(Display* d) {
    platform::Point p;
    queryPointer(d, p);
    return p;
}

std::filesystem::path cliPath() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin" / "tapforge-cli";
}

Child::Child(const std::vector<std::string>& args, const std::string& display) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // stderr too: a sanitizer report then shows in the failure message.
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::string_view(*e).rfind("DISPLAY=", 0) != 0) env.emplace_back(*e);
    env.push_back("DISPLAY=" + display);
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
}

Child::~Child() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
}

bool Child::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (output_.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) readSome(50);
    return output_.find(text) != std::string::npos;
}

int Child::wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        readSome(20);
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            while (readSome(0)) {
            }
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
    }
    return -1;
}

bool Child::readSome(int waitMs) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    output_.append(buffer, static_cast<size_t>(n));
    return true;
}

void X11Test::SetUp() {
    server = std::make_unique<XvfbServer>(kRootWidth, kRootHeight);
    ASSERT_TRUE(server->running()) << server->failure();
    // Monitors defined by a client last only as long as its connection.
    monitorClient_ = XOpenDisplay(server->display().c_str());
    ASSERT_NE(monitorClient_, nullptr);
    twoMonitors = defineTwoMonitors(monitorClient_);
    mainQueue = std::make_unique<MainQueue>();
    std::string error;
    platform::x11::X11Options options;
    options.display = server->display();
    desktop = platform::x11::openX11Desktop(mainQueue->poster(), &error, options);
    ASSERT_TRUE(desktop) << error;
}

void X11Test::TearDown() {
    desktop.reset();
    mainQueue.reset();
    if (monitorClient_ && server->running()) XCloseDisplay(monitorClient_);
    monitorClient_ = nullptr;
    server.reset();
}

}  // namespace tapforge::testing
