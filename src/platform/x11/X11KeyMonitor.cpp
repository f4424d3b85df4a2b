// The hotkey monitor: XInput 2 raw key events on the root window reach every client that asks,
// whatever window has focus, and are not consumed. Raw events name their source device, so
// keys that this process posted through XTest can be told from the user's.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <set>
#include <thread>

#include "platform/x11/X11Internal.h"

namespace tapforge::platform::x11 {

namespace {

struct Delivery {
    std::mutex mutex;
    KeyDownMonitor::Handler handler;
    uint64_t generation = 0;
};

class X11KeyMonitor final : public KeyDownMonitor {
public:
    explicit X11KeyMonitor(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    ~X11KeyMonitor() override { stop(); }

    bool start(Handler handler) override {
        if (running_.load()) {
            std::lock_guard guard(delivery_->mutex);
            delivery_->handler = std::move(handler);
            return true;
        }
        stopThread();
        if (!shared_->hasInput2 || shared_->main->lost()) return false;
        connection_ = Connection::open(shared_->main->name(), nullptr);
        if (!connection_) return false;
        Display* d = connection_->display();
        int opcode, firstEvent, firstError;
        if (!XQueryExtension(d, "XInputExtension", &opcode, &firstEvent, &firstError)) return failStart();
        opcode_ = opcode;
        int major = 2, minor = 2;
        if (XIQueryVersion(d, &major, &minor) != Success) return failStart();

        // The XTest slave devices: one per server for the keyboard ("Virtual core XTEST keyboard").
        xtestDevices_.clear();
        int count = 0;
        if (XIDeviceInfo* devices = XIQueryDevice(d, XIAllDevices, &count)) {
            for (int i = 0; i < count; ++i)
                if (devices[i].name && std::strstr(devices[i].name, "XTEST")) xtestDevices_.insert(devices[i].deviceid);
            XIFreeDeviceInfo(devices);
        }
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawKeyRelease);
        XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
        connection_->resetErrors();
        XISelectEvents(d, DefaultRootWindow(d), &mask, 1);
        char keys[32] = {};
        XQueryKeymap(d, keys);
        for (int kc = 0; kc < 256; ++kc) keyDown_[kc] = (keys[kc / 8] >> (kc % 8)) & 1;
        if (!syncOk(*connection_)) return failStart();
        if (pipe(wake_) != 0) return failStart();
        {
            std::lock_guard guard(delivery_->mutex);
            delivery_->handler = std::move(handler);
            generation_ = ++delivery_->generation;
        }
        stopping_.store(false);
        running_.store(true);
        thread_ = std::thread([this] { run(); });
        return true;
    }

    void stop() override {
        {
            std::lock_guard guard(delivery_->mutex);
            ++delivery_->generation;
            delivery_->handler = nullptr;
        }
        stopThread();
    }

private:
    bool failStart() {
        connection_.reset();
        return false;
    }

    void run() {
        Display* d = connection_->display();
        while (!stopping_.load()) {
            pollfd fds[2] = {{connection_->fd(), POLLIN, 0}, {wake_[0], POLLIN, 0}};
            poll(fds, 2, 250);
            if (stopping_.load()) break;
            while (!connection_->lost() && XPending(d) > 0) {
                XEvent event;
                XNextEvent(d, &event);
                if (event.type == MappingNotify) {
                    XRefreshKeyboardMapping(&event.xmapping);
                    shared_->keyboard.markStale();
                    continue;
                }
                if (event.type != GenericEvent || event.xcookie.extension != opcode_) continue;
                if (!XGetEventData(d, &event.xcookie)) continue;
                const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
                if (event.xcookie.evtype == XI_RawKeyPress || event.xcookie.evtype == XI_RawKeyRelease)
                    handle(static_cast<uint8_t>(raw->detail), event.xcookie.evtype == XI_RawKeyPress, raw->sourceid);
                XFreeEventData(d, &event.xcookie);
            }
            if (connection_->lost() || (fds[0].revents & (POLLHUP | POLLERR))) {
                connection_->markLost();
                running_.store(false);
                return;
            }
        }
    }

    void handle(uint8_t keycode, bool press, int sourceDevice) {
        keyDown_[keycode] = press;
        // Our own posted keys come from the XTest device and match what the sink remembered;
        // XTest keys of other programs (remote desktops, xdotool) are the user's.
        if (xtestDevices_.count(sourceDevice) && shared_->postedKeys.consume(keycode, press)) return;
        if (!press) return;
        shared_->refreshKeyboardIfStale();
        if (shared_->keyboard.isModifierKey(keycode)) return;   // flag changes, not key presses
        const auto code = shared_->keyboard.virtualCodeFor(keycode);
        if (!code) return;
        EventFlags flags = 0;
        for (int kc = 0; kc < 256; ++kc)
            if (keyDown_[kc]) flags |= shared_->keyboard.flagOfKey(static_cast<uint8_t>(kc));
        const KeyDown key{*code, flags, false};
        std::shared_ptr<Delivery> delivery = delivery_;
        const uint64_t generation = generation_;
        shared_->poster([delivery, generation, key] {
            Handler handler;
            {
                std::lock_guard guard(delivery->mutex);
                if (delivery->generation != generation || !delivery->handler) return;
                handler = delivery->handler;
            }
            handler(key);
        });
    }

    void stopThread() {
        if (thread_.joinable() && thread_.get_id() == std::this_thread::get_id()) {
            stopping_.store(true);
            running_.store(false);
            return;
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
        connection_.reset();
    }

    std::shared_ptr<Shared> shared_;
    std::shared_ptr<Delivery> delivery_ = std::make_shared<Delivery>();
    std::shared_ptr<Connection> connection_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> running_{false};
    int wake_[2] = {-1, -1};
    int opcode_ = 0;
    uint64_t generation_ = 0;
    std::set<int> xtestDevices_;
    std::array<bool, 256> keyDown_{};
};

}  // namespace

std::shared_ptr<KeyDownMonitor> makeKeyDownMonitor(std::shared_ptr<Shared> shared) {
    return std::make_shared<X11KeyMonitor>(std::move(shared));
}

}  // namespace tapforge::platform::x11
