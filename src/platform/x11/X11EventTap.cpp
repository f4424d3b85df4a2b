// The recording tap: the RECORD extension reports every core device event the server
// processes, whichever client it goes to, on a connection of its own. A thread reads that
// connection and hands each record to the main thread through the poster.
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/record.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>

#include "platform/x11/X11Internal.h"
#include "platform/x11/X11ListenerThread.h"

namespace tapforge::platform::x11 {

namespace {

// A press of the same button this soon and this close to the previous one continues its click
// count: X reports no click state of its own.
constexpr int64_t kMultiClickMs = 500;
constexpr double kMultiClickPoints = 6.0;

using Delivery = ListenerDelivery<TapEvent>;

// How long start() waits for the server to confirm that recording has begun.
constexpr int64_t kStartTimeoutMs = 2000;

// Everything the tap thread tracks between events. Touched only on that thread (and on the
// thread in start() before the tap thread exists).
class RecordState {
public:
    RecordState(std::shared_ptr<Shared> shared, Delivery delivery, uint64_t generation)
        : shared_(std::move(shared)), delivery_(std::move(delivery)), generation_(generation) {}

    void initialise(Display* control) {
        Window root, child;
        int rootX = 0, rootY = 0, winX, winY;
        unsigned mask = 0;
        if (XQueryPointer(control, DefaultRootWindow(control), &root, &child, &rootX, &rootY, &winX, &winY, &mask)) {
            rootX_ = rootX;
            rootY_ = rootY;
        }
        char keys[32] = {};
        XQueryKeymap(control, keys);
        for (int kc = 0; kc < 256; ++kc) keyDown_[kc] = (keys[kc / 8] >> (kc % 8)) & 1;
        buttonsDown_[1] = mask & Button1Mask;
        buttonsDown_[2] = mask & Button2Mask;
        buttonsDown_[3] = mask & Button3Mask;
    }

    void handle(const xEvent& event) {
        const int type = event.u.u.type & 0x7F;
        const uint8_t detail = event.u.u.detail;
        const uint64_t stamp = extendTime(event.u.keyButtonPointer.time) * 1'000'000ull;
        if (type == MotionNotify || type == ButtonPress || type == ButtonRelease) {
            rootX_ = event.u.keyButtonPointer.rootX;
            rootY_ = event.u.keyButtonPointer.rootY;
        }
        TapEvent out;
        out.timestampNs = stamp;
        out.location = location();
        out.flags = flags();
        switch (type) {
        case MotionNotify:
            out.type = buttonsDown_[1]   ? TapEventType::leftMouseDragged
                       : buttonsDown_[3] ? TapEventType::rightMouseDragged
                       : buttonsDown_[2] ? TapEventType::otherMouseDragged
                                         : TapEventType::mouseMoved;
            break;
        case ButtonPress:
        case ButtonRelease: {
            const bool press = type == ButtonPress;
            if (detail == 4 || detail == 5) {
                if (!press) return;   // one wheel line is a press and a release
                out.type = TapEventType::scrollWheel;
                out.scrollLines = detail == 4 ? 1 : -1;
                break;
            }
            if (detail < 1 || detail > 3) return;   // horizontal wheel, back/forward: not recorded
            buttonsDown_[detail] = press;
            if (press) {
                const bool continues = lastPressButton_ == detail && stamp >= lastPressNs_ &&
                                       (stamp - lastPressNs_) / 1'000'000 < kMultiClickMs &&
                                       std::hypot(out.location.x - lastPressAt_.x, out.location.y - lastPressAt_.y) <
                                           kMultiClickPoints;
                clickState_[detail] = continues ? clickState_[detail] + 1 : 1;
                lastPressButton_ = detail;
                lastPressNs_ = stamp;
                lastPressAt_ = out.location;
            }
            out.clickState = clickState_[detail] > 0 ? clickState_[detail] : 1;
            if (detail == 1) out.type = press ? TapEventType::leftMouseDown : TapEventType::leftMouseUp;
            else if (detail == 3) out.type = press ? TapEventType::rightMouseDown : TapEventType::rightMouseUp;
            else out.type = press ? TapEventType::otherMouseDown : TapEventType::otherMouseUp;
            break;
        }
        case KeyPress:
        case KeyRelease: {
            const bool press = type == KeyPress;
            const bool wasDown = keyDown_[detail];
            keyDown_[detail] = press;
            // Repeats arrive as presses without a release, or as a release and a press stamped
            // with the same server time.
            const bool repeat = press && (wasDown || (lastReleaseKey_ == detail && lastReleaseNs_ == stamp));
            if (!press) {
                lastReleaseKey_ = detail;
                lastReleaseNs_ = stamp;
            }
            // Modifier keys only change the flags of other events, as on systems that report
            // them as flag changes rather than key events.
            if (shared_->keyboard.isModifierKey(detail)) return;
            const auto code = shared_->keyboard.virtualCodeFor(detail);
            if (!code) return;   // a key with no virtual code is not recorded
            out.type = press ? TapEventType::keyDown : TapEventType::keyUp;
            out.keyCode = *code;
            out.autorepeat = repeat;
            out.flags = flags();
            break;
        }
        default: return;
        }
        deliver(out);
    }

    // The server's first reply on the data connection: from here on every event is recorded.
    void markDataStarted() { dataStarted_ = true; }
    bool dataStarted() const { return dataStarted_; }

    void deliverDisabled() {
        TapEvent note;
        note.type = TapEventType::tapDisabledByTimeout;
        deliver(note);
    }

private:
    uint64_t extendTime(uint32_t serverMs) {
        // Server time is 32-bit milliseconds and wraps after 49 days.
        if (haveTime_ && serverMs < lastServerMs_ && lastServerMs_ - serverMs > 0x80000000u) epoch_ += 1ull << 32;
        haveTime_ = true;
        lastServerMs_ = serverMs;
        return epoch_ + serverMs;
    }

    EventFlags flags() const {
        EventFlags f = 0;
        for (int kc = 0; kc < 256; ++kc)
            if (keyDown_[kc]) f |= shared_->keyboard.flagOfKey(static_cast<uint8_t>(kc));
        return f;
    }

    Point location() {
        const int64_t now = steadyMs();
        if (now - originAtMs_ > 500) {
            std::lock_guard guard(shared_->main->mutex());
            if (!shared_->main->lost()) {
                const Layout& layout = shared_->layoutLocked();
                originX_ = layout.originX();
                originY_ = layout.originY();
            }
            originAtMs_ = now;
        }
        return Point{static_cast<double>(rootX_ - originX_), static_cast<double>(rootY_ - originY_)};
    }

    void deliver(const TapEvent& event) { delivery_.post(shared_->poster, generation_, event); }

    std::shared_ptr<Shared> shared_;
    Delivery delivery_;
    const uint64_t generation_;
    int rootX_ = 0, rootY_ = 0;
    int originX_ = 0, originY_ = 0;
    int64_t originAtMs_ = -1'000'000;
    std::array<bool, 256> keyDown_{};
    std::array<bool, 8> buttonsDown_{};
    std::array<int64_t, 8> clickState_{};
    int lastPressButton_ = -1;
    uint64_t lastPressNs_ = 0;
    Point lastPressAt_;
    int lastReleaseKey_ = -1;
    uint64_t lastReleaseNs_ = 0;
    bool dataStarted_ = false;
    bool haveTime_ = false;
    uint32_t lastServerMs_ = 0;
    uint64_t epoch_ = 0;
};

void onRecorded(XPointer closure, XRecordInterceptData* data) {
    auto* state = reinterpret_cast<RecordState*>(closure);
    if (data->category == XRecordStartOfData) state->markDataStarted();
    if (data->category == XRecordFromServer && data->data && data->data_len * 4 >= sizeof(xEvent))
        state->handle(*reinterpret_cast<const xEvent*>(data->data));
    XRecordFreeData(data);
}

class X11EventTap final : public EventTap {
public:
    explicit X11EventTap(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    ~X11EventTap() override { stop(); }

    bool start(Handler handler) override {
        if (listener_.running()) {
            delivery_.replaceHandler(std::move(handler));
            return true;
        }
        stopThread();
        if (!shared_->hasRecord || shared_->main->lost()) return false;
        control_ = Connection::open(shared_->main->name(), nullptr);
        data_ = Connection::open(shared_->main->name(), nullptr);
        if (!control_ || !data_) {
            control_.reset();
            data_.reset();
            return false;
        }
        const uint64_t generation = delivery_.begin(std::move(handler));
        state_ = std::make_unique<RecordState>(shared_, delivery_, generation);
        Display* ctl = control_->display();
        state_->initialise(ctl);
        XRecordRange* range = XRecordAllocRange();
        if (!range) return failStart();
        range->device_events.first = KeyPress;
        range->device_events.last = MotionNotify;
        XRecordClientSpec clients = XRecordAllClients;
        control_->resetErrors();
        context_ = XRecordCreateContext(ctl, 0, &clients, 1, &range, 1);
        XFree(range);
        if (!context_ || !syncOk(*control_)) return failStart();
        if (!XRecordEnableContextAsync(data_->display(), context_, onRecorded, reinterpret_cast<XPointer>(state_.get())))
            return failStart();
        // Enabling is asynchronous: without waiting for the server's start of data, input made
        // right after start() returns (the user's first click) could go unrecorded.
        if (!waitForStartOfData()) return failStart();
        if (!listener_.openWakePipe()) return failStart();
        listener_.start([this] { run(); });
        return true;
    }

    void stop() override {
        delivery_.end();   // records already queued for the main thread are dropped
        stopThread();
    }

    void reenable() override {
        // The server never switches a RECORD context off; the tap only stops when its
        // connection is gone, and then there is nothing to re-enable.
    }

    bool isRunning() const override { return listener_.running(); }

private:
    bool failStart() {
        if (context_ && control_ && !control_->lost()) XRecordFreeContext(control_->display(), context_);
        context_ = 0;
        state_.reset();
        data_.reset();
        control_.reset();
        return false;
    }

    bool waitForStartOfData() {
        Display* data = data_->display();
        XFlush(data);
        const int64_t deadline = steadyMs() + kStartTimeoutMs;
        while (true) {
            XRecordProcessReplies(data);
            if (state_->dataStarted()) return true;
            const int64_t left = deadline - steadyMs();
            if (data_->lost() || left <= 0) return false;
            pollfd p{data_->fd(), POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 50))) < 0 && errno != EINTR) return false;
            if (p.revents & (POLLHUP | POLLERR)) {
                data_->markLost();
                return false;
            }
        }
    }

    void run() {
        Display* data = data_->display();
        while (!listener_.stopping()) {
            const short revents = listener_.wait(data_->fd());
            if (listener_.stopping()) break;
            if (revents) XRecordProcessReplies(data);
            if (data_->lost() || (revents & (POLLHUP | POLLERR))) {
                data_->markLost();
                listener_.markEnded();
                state_->deliverDisabled();
                return;
            }
        }
    }

    void stopThread() {
        // Stopped from a handler that a poster ran on the tap thread itself: the thread ends
        // after this record and still uses the connections and the state until then.
        if (!listener_.stop()) return;
        if (control_ && context_ && !control_->lost()) {
            XRecordDisableContext(control_->display(), context_);
            XRecordFreeContext(control_->display(), context_);
            XSync(control_->display(), False);
        }
        context_ = 0;
        data_.reset();
        control_.reset();
        state_.reset();
    }

    std::shared_ptr<Shared> shared_;
    Delivery delivery_;
    std::shared_ptr<Connection> control_, data_;
    std::unique_ptr<RecordState> state_;
    XRecordContext context_ = 0;
    X11ListenerThread listener_;
};

}  // namespace

std::shared_ptr<EventTap> makeEventTap(std::shared_ptr<Shared> shared) {
    return std::make_shared<X11EventTap>(std::move(shared));
}

}  // namespace tapforge::platform::x11
