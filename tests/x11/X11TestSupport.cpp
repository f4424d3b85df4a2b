#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>

#include "X11TestSupport.h"
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
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1), dup2(devnull, 2);
        // -displayfd: the server writes the free display number it picked once ready.
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
               "-noreset", "+extension", "RECORD", "+extension", "XTEST", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    // A failed fork or exec closes the pipe: read() then answers 0.
    while (pid_ > 0 && poll(&p, 1, 20'000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) failure_ = "Xvfb did not start (is it installed?)", kill();
    else display_ = ":" + number;
}

void XvfbServer::kill() {
    if (pid_ > 0) ::kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

XvfbServer::~XvfbServer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    if (waitUntil([this] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, 1s)) pid_ = -1;
    kill();
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
    // The monitor holding the one output replaces that output's own and is primary with it.
    auto define = [&](const char* name, int x, int width, int height, bool isPrimary) {
        XRRMonitorInfo m{};
        m.name = XInternAtom(d, name, False);
        m.x = x, m.y = 0, m.width = width, m.height = height, m.mwidth = width / 4, m.mheight = height / 4;
        m.primary = isPrimary, m.noutput = isPrimary ? 1 : 0, m.outputs = isPrimary ? &output : nullptr;
        XRRSetMonitor(d, root, &m);
    };
    define("TF-PRIMARY", kPrimaryRootX, 1920, 1080, true);
    define("TF-LEFT", 0, 1280, 1024, false);
    XRRFreeScreenResources(resources);
    XSync(d, False);
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(d, root, True, &count);
    if (monitors) XRRFreeMonitors(monitors);
    return count == 2;
}

CountingWindow::CountingWindow(const std::string& name, int x, int y, int width, int height) {
    display_ = XOpenDisplay(name.c_str());
    if (!display_) return;
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask =
        ButtonPressMask | ButtonReleaseMask | KeyPressMask | KeyReleaseMask | StructureNotifyMask;
    attributes.background_pixel = BlackPixel(display_, DefaultScreen(display_));
    window_ = XCreateWindow(display_, DefaultRootWindow(display_), x, y, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                            CWOverrideRedirect | CWEventMask | CWBackPixel, &attributes);
    XMapRaised(display_, window_);
    XSync(display_, False);
    XEvent e;   // focus only once mapped
    waitUntil([&] { return XCheckTypedWindowEvent(display_, window_, MapNotify, &e); }, 1s);
    XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
    XSync(display_, False);
}

CountingWindow::~CountingWindow() {
    if (display_) XCloseDisplay(display_);
}

void CountingWindow::pump(std::chrono::milliseconds settle) {
    if (!display_) return;
    const auto note = [this](bool press, const std::string& what) {
        if (!input.empty()) input += ' ';
        (input += press ? '+' : '-') += what;
    };
    const auto deadline = std::chrono::steady_clock::now() + settle;
    do {
        XSync(display_, False);
        while (XPending(display_) > 0) {
            XEvent e;
            XNextEvent(display_, &e);
            const bool press = e.type == ButtonPress || e.type == KeyPress;
            if (e.type == ButtonPress || e.type == ButtonRelease) {
                if (press && e.xbutton.button < 16) ++buttonPresses[e.xbutton.button];
                clicks.push_back({press, e.xbutton.button, e.xbutton.x_root, e.xbutton.y_root});
                note(press, std::to_string(e.xbutton.button));
            } else if (e.type == MappingNotify) {
                XRefreshKeyboardMapping(&e.xmapping);
            } else if (e.type == KeyPress || e.type == KeyRelease) {
                const KeySym sym = XLookupKeysym(&e.xkey, 0);
                // Xlib allocates the names of Unicode keysyms and never frees them.
                const char* name = (sym & 0xFF000000) == 0x01000000 ? nullptr : XKeysymToString(sym);
                note(press, name ? name : std::to_string(e.xkey.keycode));
                if (!press) continue;
                KeySym k = 0;
                char latin1[8];
                XLookupString(&e.xkey, latin1, sizeof latin1, &k, nullptr);
                if (k == XK_Return || k == XK_Tab) appendUtf8(k == XK_Return ? '\n' : '\t', typed);
                else if ((k >= 0x20 && k <= 0x7E) || (k >= 0xA0 && k <= 0xFF)) appendUtf8(char32_t(k), typed);
                else if ((k & 0xFF000000) == 0x01000000) appendUtf8(char32_t(k & 0x00FFFFFF), typed);
            }
        }
        std::this_thread::sleep_for(10ms);
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

OtherClient::OtherClient(const std::string& display) : display_(XOpenDisplay(display.c_str())) {}
OtherClient::~OtherClient() {
    if (display_) XCloseDisplay(display_);
}
void OtherClient::press(unsigned keysym, bool down) {
    XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, keysym), down, CurrentTime);
    XSync(display_, False);
}
void OtherClient::button(unsigned number, bool down) {
    XTestFakeButtonEvent(display_, number, down, CurrentTime), XSync(display_, False);
}
void OtherClient::move(int rootX, int rootY) {
    XTestFakeMotionEvent(display_, -1, rootX, rootY, CurrentTime), XSync(display_, False);
}

static std::pair<platform::Point, unsigned> pointer(Display* d) {
    Window root, child;
    int x = 0, y = 0, windowX, windowY;
    unsigned mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y, &windowX, &windowY, &mask);
    return {{double(x), double(y)}, mask};
}
platform::Point queryPointer(Display* d) { return pointer(d).first; }
unsigned buttonsHeld(Display* d) { return pointer(d).second & 0x1F00; }   // Button1Mask .. Button5Mask

::testing::AssertionResult nothingHeld(Display* d) {
    char keys[32] = {};
    XQueryKeymap(d, keys);
    std::string held;
    for (int kc = 0; kc < 256; ++kc)
        if ((keys[kc / 8] >> (kc % 8)) & 1) (held += ' ') += std::to_string(kc);
    if (held.empty() && buttonsHeld(d) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "held: button mask " << buttonsHeld(d) << ", keycodes" << held;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (; !done(); std::this_thread::sleep_for(10ms))
        if (std::chrono::steady_clock::now() >= deadline) return false;
    return true;
}

std::array<int, 4> rgbaAt(const platform::RgbaImage& image, int x, int y) {
    const uint8_t* p = image.pixel(x, y);
    return {p[0], p[1], p[2], p[3]};
}

std::filesystem::path cliPath() {
    const auto build = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path();
    return build / "bin" / "tapforge-cli";
}

Child::Child(std::vector<std::string> args, const std::string& display)
    : out_(memfd_create("child", MFD_CLOEXEC)) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // stderr too, so that a sanitizer report shows in the failure message
    posix_spawn_file_actions_adddup2(&actions, out_, 1);
    posix_spawn_file_actions_adddup2(&actions, out_, 2);
    // env sets DISPLAY and execs the program under the same process id
    args.insert(args.begin(), {"/usr/bin/env", "DISPLAY=" + display});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (out_ < 0 || posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

Child::~Child() {
    if (pid_ > 0) ::kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
    if (out_ >= 0) close(out_);
}

std::string Child::output() const {
    struct stat written {};
    fstat(out_, &written);
    std::string text(size_t(written.st_size), '\0');
    text.resize(size_t(std::max<ssize_t>(0, pread(out_, text.data(), text.size(), 0))));
    return text;
}

bool Child::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    return waitUntil([&] { return output().find(text) != std::string::npos; }, timeout);
}

int Child::wait(std::chrono::milliseconds timeout) {
    int status = 0;
    // waitpid(-1) would reap any child, the X server too
    if (pid_ <= 0 || !waitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout)) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TempFolder::TempFolder(const std::string& name)
    : path(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()))) {
    std::filesystem::create_directories(path);
}
TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

void X11Test::SetUp() {
    if (usesCli && !std::filesystem::exists(cliPath())) GTEST_SKIP() << "no tapforge-cli at " << cliPath();
    server = std::make_unique<XvfbServer>(kRootWidth, kRootHeight);
    ASSERT_TRUE(server->running()) << server->failure();
    // Monitors last as long as the connection that defined them.
    monitorClient_ = XOpenDisplay(server->display().c_str());
    ASSERT_NE(monitorClient_, nullptr);
    twoMonitors = defineTwoMonitors(monitorClient_);
    std::string error;
    desktop = platform::x11::openX11Desktop(loop.poster(), &error, {.display = server->display()});
    ASSERT_TRUE(desktop) << error;
    other = std::make_unique<OtherClient>(server->display());
    ASSERT_NE(other->display(), nullptr);
}

void X11Test::TearDown() {
    desktop.reset(), other.reset();
    if (monitorClient_ && server->running()) XCloseDisplay(monitorClient_);
    monitorClient_ = nullptr, server.reset();
}

std::pair<int, std::string> X11Test::runCli(std::vector<std::string> args) {
    args.insert(args.begin(), cliPath().string());
    Child child(args, server->display());
    const int code = child.wait(20s);
    return {code, child.output()};
}

}  // namespace tapforge::testing
