// The hotkey monitor: XInput 2 raw key events on the root window reach every client that asks,
// whatever window has focus, and are not consumed. Raw events name their source device, so
// keys that this process posted through XTest can be told from the user's.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <poll.h>

#include <array>
#include <cstring>
#include <set>

#include "platform/x11/X11Internal.h"
#include "platform/x11/X11ListenerThread.h"

namespace tapforge::platform::x11 {

namespace {

class X11KeyMonitor final : public KeyDownMonitor {
public:
    explicit X11KeyMonitor(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    ~X11KeyMonitor() override { stop(); }

    bool start(Handler handler) override {
        if (listener_.running()) {
            delivery_.replaceHandler(std::move(handler));
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
        if (!listener_.openWakePipe()) return failStart();
        generation_ = delivery_.begin(std::move(handler));
        listener_.start([this] { run(); });
        return true;
    }

    void stop() override {
        delivery_.end();
        stopThread();
    }

private:
    bool failStart() {
        connection_.reset();
        return false;
    }

    void run() {
        Display* d = connection_->display();
        while (!listener_.stopping()) {
            const short revents = listener_.wait(connection_->fd());
            if (listener_.stopping()) break;
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
            if (connection_->lost() || (revents & (POLLHUP | POLLERR))) {
                connection_->markLost();
                listener_.markEnded();
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
        delivery_.post(shared_->poster, generation_, KeyDown{*code, flags, false});
    }

    void stopThread() {
        // On the monitor thread itself the connection stays until that thread has ended.
        if (listener_.stop()) connection_.reset();
    }

    std::shared_ptr<Shared> shared_;
    ListenerDelivery<KeyDown> delivery_;
    std::shared_ptr<Connection> connection_;
    X11ListenerThread listener_;
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
