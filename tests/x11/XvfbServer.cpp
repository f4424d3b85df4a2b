#include "XvfbServer.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <vector>

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
            case KeyPress:
                ++keyPresses;
                lastKeyState = e.xkey.state;
                lastKeycode = e.xkey.keycode;
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

}  // namespace tapforge::testing
