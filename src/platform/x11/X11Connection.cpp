#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <unordered_map>

#include "platform/x11/X11Internal.h"
#include "platform/x11/X11KeyTable.h"

namespace tapforge::platform::x11 {

int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// ---------------------------------------------------------------- error handling
//
// Xlib's error handlers are process-wide and its defaults end the process: a protocol error
// (say BadMatch from a grab racing a screen resize) or a lost server would kill the whole
// application. We install handlers once that count errors and mark our own connections lost,
// and pass other connections' errors to whatever handler was there before.

namespace {

std::mutex registryMutex;
std::unordered_map<Display*, Connection*> registry;
XErrorHandler previousErrorHandler = nullptr;
XIOErrorHandler previousIoErrorHandler = nullptr;

Connection* findConnection(Display* display) {
    std::lock_guard guard(registryMutex);
    auto it = registry.find(display);
    return it == registry.end() ? nullptr : it->second;
}

int onProtocolError(Display* display, XErrorEvent* event) {
    if (Connection* c = findConnection(display)) {
        c->countError();
        return 0;
    }
    return previousErrorHandler ? previousErrorHandler(display, event) : 0;
}

int onIoError(Display* display) {
    if (Connection* c = findConnection(display)) {
        c->markLost();
        return 0;
    }
    return previousIoErrorHandler ? previousIoErrorHandler(display) : 0;
}

// Called after the I/O error handler; Xlib's default would exit the process.
void onIoErrorExit(Display*, void* userData) { static_cast<Connection*>(userData)->markLost(); }

void installHandlersOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        previousErrorHandler = XSetErrorHandler(onProtocolError);
        previousIoErrorHandler = XSetIOErrorHandler(onIoError);
    });
}

}  // namespace

std::shared_ptr<Connection> Connection::open(const std::string& name, std::string* error) {
    installHandlersOnce();
    Display* display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (!display) {
        if (error) *error = "cannot open X display \"" + std::string(XDisplayName(name.empty() ? nullptr : name.c_str())) + "\"";
        return nullptr;
    }
    std::shared_ptr<Connection> c(new Connection());
    c->display_ = display;
    c->fd_ = ConnectionNumber(display);
    c->name_ = name;
    {
        std::lock_guard guard(registryMutex);
        registry[display] = c.get();
    }
    XSetIOErrorExitHandler(display, onIoErrorExit, c.get());
    return c;
}

Connection::~Connection() {
    if (!display_) return;
    if (lost()) {
        // XCloseDisplay on a connection that had an I/O error waits forever inside Xlib for a
        // reply that cannot come. Keep the small Display structure (one per lost connection)
        // but give back the socket.
        close(fd_);
    } else {
        XCloseDisplay(display_);
    }
    std::lock_guard guard(registryMutex);
    registry.erase(display_);
}

bool syncOk(Connection& connection) {
    if (connection.lost()) return false;
    XSync(connection.display(), False);
    return !connection.lost() && connection.errors() == 0;
}

// ---------------------------------------------------------------- keyboard

void Keyboard::refresh(Display* display) {
    stale_.store(false);
    int minKeycode = 8, maxKeycode = 255;
    XDisplayKeycodes(display, &minKeycode, &maxKeycode);
    int perKeycode = 0;
    const int count = maxKeycode - minKeycode + 1;
    KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(minKeycode), count, &perKeycode);
    XModifierKeymap* modmap = XGetModifierMapping(display);

    std::array<int16_t, 128> keycodeOfVirtual;
    std::array<int32_t, 256> virtualOfKeycode;
    std::array<EventFlags, 256> flagOfKeycode{};
    std::array<bool, 256> modifierKey{};
    keycodeOfVirtual.fill(-1);
    virtualOfKeycode.fill(-1);
    unsigned shift = ShiftMask, control = ControlMask, option = 0, command = 0;

    auto symAt = [&](int keycode, int level) -> KeySym {
        if (!syms || level >= perKeycode) return NoSymbol;
        return syms[(keycode - minKeycode) * perKeycode + level];
    };
    if (syms) {
        // Like XKeysymToKeycode, but preferring a key that has the keysym on its first level, so
        // that "1" is the main row's key and keypad digits are found on their second level.
        auto find = [&](uint32_t keysym) {
            for (int level = 0; level < perKeycode; ++level)
                for (int kc = minKeycode; kc <= maxKeycode; ++kc)
                    if (symAt(kc, level) == keysym) return kc;
            return -1;
        };
        for (const VirtualKeysym& entry : virtualKeysyms()) {
            int found = find(entry.keysym);
            for (const VirtualKeysym& other : synonymKeysyms())
                if (found < 0 && other.keyCode == entry.keyCode) found = find(other.keysym);
            if (found < 0) continue;
            keycodeOfVirtual[entry.keyCode] = static_cast<int16_t>(found);
            if (virtualOfKeycode[found] < 0) virtualOfKeycode[found] = entry.keyCode;
        }
        for (int kc = minKeycode; kc <= maxKeycode; ++kc) {
            KeySym sym = symAt(kc, 0);
            if (sym == NoSymbol) sym = symAt(kc, 1);
            if (sym == NoSymbol) continue;
            modifierKey[kc] = isModifierKeysym(static_cast<uint32_t>(sym));
            if (virtualOfKeycode[kc] < 0)
                if (auto code = virtualCodeForKeysym(static_cast<uint32_t>(sym))) virtualOfKeycode[kc] = *code;
        }
    }
    if (modmap) {
        for (int row = 0; row < 8; ++row) {
            EventFlags rowFlag = 0;
            if (row == ShiftMapIndex) rowFlag = kFlagShift;
            if (row == ControlMapIndex) rowFlag = kFlagControl;
            for (int i = 0; i < modmap->max_keypermod && row >= Mod1MapIndex && !rowFlag; ++i) {
                const int kc = modmap->modifiermap[row * modmap->max_keypermod + i];
                if (!kc) continue;
                const KeySym sym = symAt(kc, 0);
                if (sym == XK_Alt_L || sym == XK_Alt_R || sym == XK_Meta_L || sym == XK_Meta_R) {
                    rowFlag = kFlagOption;
                    if (!option) option = 1u << row;
                } else if (sym == XK_Super_L || sym == XK_Super_R) {
                    rowFlag = kFlagCommand;
                    if (!command) command = 1u << row;
                }
            }
            for (int i = 0; i < modmap->max_keypermod && rowFlag; ++i) {
                const int kc = modmap->modifiermap[row * modmap->max_keypermod + i];
                if (kc) flagOfKeycode[kc] = rowFlag;
            }
        }
        XFreeModifiermap(modmap);
    }
    // The conventional bits when the server's map does not say.
    if (!option) option = Mod1Mask;
    if (!command) command = Mod4Mask;

    std::vector<uint32_t> keysyms;
    std::vector<uint8_t> spare;
    if (syms) {
        keysyms.assign(syms, syms + static_cast<size_t>(count) * static_cast<size_t>(perKeycode));
        for (int kc = minKeycode; kc <= maxKeycode; ++kc) {
            bool empty = !flagOfKeycode[kc] && !modifierKey[kc];
            for (int level = 0; level < perKeycode && empty; ++level) empty = symAt(kc, level) == NoSymbol;
            if (empty) spare.push_back(static_cast<uint8_t>(kc));
        }
        XFree(syms);
    }

    std::lock_guard guard(mutex_);
    keysyms_ = std::move(keysyms);
    minKeycode_ = minKeycode;
    maxKeycode_ = maxKeycode;
    perKeycode_ = perKeycode;
    spare_ = std::move(spare);
    keycodeOfVirtual_ = keycodeOfVirtual;
    virtualOfKeycode_ = virtualOfKeycode;
    flagOfKeycode_ = flagOfKeycode;
    modifierKey_ = modifierKey;
    shiftMask_ = shift;
    controlMask_ = control;
    optionMask_ = option;
    commandMask_ = command;
}

std::optional<uint8_t> Keyboard::keycodeFor(uint16_t virtualCode) const {
    std::lock_guard guard(mutex_);
    if (virtualCode >= keycodeOfVirtual_.size() || keycodeOfVirtual_[virtualCode] < 0) return std::nullopt;
    return static_cast<uint8_t>(keycodeOfVirtual_[virtualCode]);
}

std::optional<uint16_t> Keyboard::virtualCodeFor(uint8_t keycode) const {
    std::lock_guard guard(mutex_);
    if (virtualOfKeycode_[keycode] < 0) return std::nullopt;
    return static_cast<uint16_t>(virtualOfKeycode_[keycode]);
}

EventFlags Keyboard::flagOfKey(uint8_t keycode) const {
    std::lock_guard guard(mutex_);
    return flagOfKeycode_[keycode];
}

bool Keyboard::isModifierKey(uint8_t keycode) const {
    std::lock_guard guard(mutex_);
    return modifierKey_[keycode];
}

EventFlags Keyboard::flagsFromState(unsigned state) const {
    std::lock_guard guard(mutex_);
    EventFlags flags = 0;
    if (state & shiftMask_) flags |= kFlagShift;
    if (state & controlMask_) flags |= kFlagControl;
    if (state & optionMask_) flags |= kFlagOption;
    if (state & commandMask_) flags |= kFlagCommand;
    return flags;
}

std::optional<uint8_t> Keyboard::keycodeForFlag(EventFlags flag) const {
    switch (flag) {
    case kFlagControl: return keycodeFor(59);
    case kFlagOption: return keycodeFor(58);
    case kFlagShift: return keycodeFor(56);
    case kFlagCommand: return keycodeFor(55);
    default: return std::nullopt;
    }
}

std::optional<Keyboard::KeyLevel> Keyboard::findKeysym(uint32_t keysym) const {
    std::lock_guard guard(mutex_);
    if (keysym == NoSymbol) return std::nullopt;
    // The unshifted level anywhere wins over a shifted one.
    for (int level = 0; level < std::min(perKeycode_, 2); ++level)
        for (int kc = minKeycode_; kc <= maxKeycode_; ++kc)
            if (keysyms_[static_cast<size_t>(kc - minKeycode_) * perKeycode_ + level] == keysym)
                return KeyLevel{static_cast<uint8_t>(kc), level == 1};
    return std::nullopt;
}

std::vector<uint8_t> Keyboard::spareKeycodes() const {
    std::lock_guard guard(mutex_);
    return spare_;
}

// ---------------------------------------------------------------- posted keys

void PostedKeyLog::pruneLocked(int64_t nowMs) {
    // An event the monitor never saw (no monitor running) must not linger and swallow a later
    // real key press.
    while (!entries_.empty() && nowMs - entries_.front().atMs > 2000) entries_.pop_front();
}

void PostedKeyLog::remember(uint8_t keycode, bool press) {
    std::lock_guard guard(mutex_);
    const int64_t now = steadyMs();
    pruneLocked(now);
    entries_.push_back(Entry{keycode, press, now});
}

bool PostedKeyLog::consume(uint8_t keycode, bool press) {
    std::lock_guard guard(mutex_);
    pruneLocked(steadyMs());
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
        if (it->keycode == keycode && it->press == press) {
            entries_.erase(it);
            return true;
        }
    return false;
}

size_t PostedKeyLog::size() const {
    std::lock_guard guard(mutex_);
    return entries_.size();
}

// ---------------------------------------------------------------- layout

Layout queryLayout(Display* display) {
    Layout layout;
    const Window root = DefaultRootWindow(display);
    layout.rootWidth = DisplayWidth(display, DefaultScreen(display));
    layout.rootHeight = DisplayHeight(display, DefaultScreen(display));
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, root, &attributes)) {
        // The root may have been resized by RandR since the connection opened.
        layout.rootWidth = attributes.width;
        layout.rootHeight = attributes.height;
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (XRRQueryExtension(display, &eventBase, &errorBase) && XRRQueryVersion(display, &major, &minor) &&
        (major > 1 || (major == 1 && minor >= 5))) {
        int count = 0;
        XRRMonitorInfo* monitors = XRRGetMonitors(display, root, True, &count);
        for (int i = 0; monitors && i < count; ++i) {
            const XRRMonitorInfo& m = monitors[i];
            if (m.width < 1 || m.height < 1) continue;
            layout.monitors.push_back(Monitor{m.x, m.y, m.width, m.height, m.primary != 0});
        }
        if (monitors) XRRFreeMonitors(monitors);
    }
    if (layout.monitors.empty()) layout.monitors.push_back(Monitor{0, 0, layout.rootWidth, layout.rootHeight, true});
    std::stable_partition(layout.monitors.begin(), layout.monitors.end(), [](const Monitor& m) { return m.primary; });
    return layout;
}

const Layout& Shared::layoutLocked() {
    const int64_t now = steadyMs();
    if (layoutStale_.exchange(false) || now - layoutAtMs_ > 500) {
        layout_ = queryLayout(main->display());
        layoutAtMs_ = now;
    }
    return layout_;
}

void Shared::pumpLocked() {
    if (main->lost()) return;
    Display* display = main->display();
    while (!main->lost() && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            keyboard.markStale();
        } else if (xkbEventBase >= 0 && event.type == xkbEventBase) {
            keyboard.markStale();
        } else if (randrEventBase >= 0 &&
                   (event.type == randrEventBase + RRScreenChangeNotify || event.type == randrEventBase + RRNotify)) {
            XRRUpdateConfiguration(&event);
            invalidateLayout();
        }
    }
    if (!main->lost() && keyboard.stale()) keyboard.refresh(display);
}

void Shared::refreshKeyboardIfStale() {
    if (!keyboard.stale()) return;
    std::lock_guard guard(main->mutex());
    pumpLocked();
}

}  // namespace tapforge::platform::x11
