#include "platform/x11/X11ListenerThread.h"

#include <poll.h>
#include <unistd.h>

namespace tapforge::platform::x11 {

bool X11ListenerThread::openWakePipe() { return pipe(wake_) == 0; }

void X11ListenerThread::start(std::function<void()> body) {
    stopping_.store(false);
    running_.store(true);
    thread_ = std::thread(std::move(body));
}

bool X11ListenerThread::stop() {
    if (thread_.joinable() && thread_.get_id() == std::this_thread::get_id()) {
        stopping_.store(true);
        running_.store(false);
        return false;
    }
    if (thread_.joinable()) {
        stopping_.store(true);
        const char byte = 1;
        [[maybe_unused]] ssize_t n = write(wake_[1], &byte, 1);
        thread_.join();
    }
    if (wake_[0] >= 0) {
        close(wake_[0]);
        close(wake_[1]);
        wake_[0] = wake_[1] = -1;
    }
    running_.store(false);
    return true;
}

short X11ListenerThread::wait(int fd) const {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    poll(fds, 2, 250);
    return fds[0].revents;
}

}  // namespace tapforge::platform::x11
