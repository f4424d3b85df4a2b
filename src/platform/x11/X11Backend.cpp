#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/record.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <map>
#include <thread>

#include "platform/x11/PixelConvert.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11Internal.h"

namespace tapforge::platform::x11 {

namespace {

// Wheel lines above this are clamped: each line is one button press and release, and a typo in
// a script must not queue millions of them.
constexpr int32_t kMaxScrollLines = 1000;

// Control, option, shift, command: the order the player presses modifiers in.
constexpr EventFlags kPressOrder[] = {kFlagControl, kFlagOption, kFlagShift, kFlagCommand};

// How long a key bound for typing keeps its symbol after the text: a client looks the key up
// when it handles the event, and must find the symbol still there.
constexpr auto kBorrowedKeySettle = std::chrono::milliseconds(100);

// The keysym that types one user-perceived character: Latin-1 keysyms are the code points,
// the rest Unicode keysyms (0x01000000 + code point). Nothing for control characters other
// than line feed and tab, and for clusters of more than one code point.
std::optional<uint32_t> keysymForCharacter(std::string_view c) {
    if (c == "\n") return XK_Return;
    if (c == "\t") return XK_Tab;
    const auto b0 = static_cast<unsigned char>(c.empty() ? 0 : c[0]);
    size_t length = b0 < 0x80 ? 1 : b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
    if (length == 0 || c.size() != length) return std::nullopt;
    uint32_t cp = length == 1 ? b0 : b0 & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) cp = (cp << 6) | (static_cast<unsigned char>(c[i]) & 0x3F);
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp > 0x10FFFF) return std::nullopt;
    return cp < 0x100 ? cp : 0x01000000 | cp;
}

int rounded(double v) { return static_cast<int>(std::lround(std::clamp(v, -1e9, 1e9))); }

unsigned buttonNumber(PointerButton button) {
    switch (button) {
    case PointerButton::left: return 1;
    case PointerButton::center: return 2;
    case PointerButton::right: return 3;
    }
    return 1;
}

// Shift and width of a visual's colour mask, for the generic pixel path.
struct Channel {
    int shift = 0;
    int bits = 0;
    explicit Channel(unsigned long mask) {
        if (!mask) return;
        while (!(mask & 1)) {
            mask >>= 1;
            ++shift;
        }
        while (mask & 1) {
            mask >>= 1;
            ++bits;
        }
    }
    uint8_t value(unsigned long pixel) const {
        if (!bits) return 0;
        const unsigned long v = (pixel >> shift) & ((1ul << bits) - 1);
        return static_cast<uint8_t>(bits >= 8 ? v >> (bits - 8) : (v * 255) / ((1ul << bits) - 1));
    }
};

bool isBgrx(const XImage* image) {
    return image->bits_per_pixel == 32 && image->byte_order == LSBFirst && image->red_mask == 0xFF0000 &&
           image->green_mask == 0xFF00 && image->blue_mask == 0xFF;
}

void convertImage(XImage* image, uint8_t* dest, size_t destStride) {
    if (isBgrx(image)) {
        convertBgrxToRgba(reinterpret_cast<const uint8_t*>(image->data), static_cast<size_t>(image->bytes_per_line),
                          dest, destStride, image->width, image->height);
        return;
    }
    const Channel red(image->red_mask), green(image->green_mask), blue(image->blue_mask);
    for (int y = 0; y < image->height; ++y) {
        uint8_t* out = dest + static_cast<size_t>(y) * destStride;
        for (int x = 0; x < image->width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            out[x * 4 + 0] = red.value(p);
            out[x * 4 + 1] = green.value(p);
            out[x * 4 + 2] = blue.value(p);
            out[x * 4 + 3] = 255;
        }
    }
}

class X11Services final : public EventSink, public Screens, public ScreenGrab, public Permissions {
public:
    X11Services(std::shared_ptr<Shared> shared, bool useShm, bool hasXTest)
        : shared_(std::move(shared)), hasXTest_(hasXTest) {
        Connection& c = *shared_->main;
        std::lock_guard guard(c.mutex());
        useShm_ = useShm && XShmQueryExtension(c.display());
    }

    ~X11Services() override {
        Connection& c = *shared_->main;
        std::lock_guard guard(c.mutex());
        if (!c.lost()) {
            restoreLocked();
            XFlush(c.display());
        }
        releaseSegmentLocked();
    }

    // ------------------------------------------------------------ EventSink

    bool postButton(PointerButton button, Press press, Point at, EventFlags flags, int64_t) override {
        Connection& c = *shared_->main;
        std::lock_guard guard(c.mutex());
        if (!readyLocked()) return false;
        Display* d = c.display();
        moveLocked(at);
        // X events carry no flags of their own: the modifiers must really be down.
        const EventFlags added = pressMissingModifiersLocked(flags, 0);
        XTestFakeButtonEvent(d, buttonNumber(button), press == Press::down, CurrentTime);
        releaseModifiersLocked(added);
        return flushLocked();
    }

    bool postMove(Point at) override {
        Connection& c = *shared_->main;
        std::lock_guard guard(c.mutex());
        if (!readyLocked()) return false;
        moveLocked(at);
        return flushLocked();
    }

    bool postScroll(int32_t lines, Point at) override {
        Connection& c = *shared_->main;
        std::lock_guard guard(c.mutex());
        if (!readyLocked()) return false;
        Display* d = c.display();
        // The wheel acts where the pointer is, so the pointer goes to the point first.
        moveLocked(at);
        const unsigned wheel = lines > 0 ? 4 : 5;
        const int32_t count = std::min<int64_t>(std::abs(static_cast<int64_t>(lines)), kMaxScrollLines);
        for (int32_t i = 0; i < count; ++i) {
            XTestFakeButtonEvent(d, wheel, True, CurrentTime);
            XTestFakeButtonEvent(d, wheel, False, CurrentTime);
        }
        return flushLocked();
    }

    bool postKey(uint16_t keyCode, Press press, EventFlags flags) override {
        Connection& c = *shared_->main;
        std::lock_guard guard(c.mutex());
        if (!readyLocked()) return false;
        const auto keycode = shared_->keyboard.keycodeFor(keyCode);
        if (!keycode) return false;   // no X counterpart (Fn) or not on this keyboard
        // A modifier key's own flag is not "missing" on its own down event.
        const EventFlags added = pressMissingModifiersLocked(flags, shared_->keyboard.flagOfKey(*keycode));
        fakeKeyLocked(*keycode, press == Press::down);
        releaseModifiersLocked(added);
        return flushLocked();
    }

    bool canPostKey(uint16_t keyCode) override {
        shared_->refreshKeyboardIfStale();
        return shared_->keyboard.keycodeFor(keyCode).has_value();
    }

    // A character goes through the key that has its keysym on the first two levels of the
    // first group, with Shift for the second level, and with the lock modifiers and the group
    // switched off meanwhile (Caps Lock would turn a into A, another group another layout).
    // A character on no such key is bound for the moment to a key with no symbol.
    CharacterPost postCharacter(std::string_view character, Press press) override {
        Connection& c = *shared_->main;
        std::lock_guard guard(c.mutex());
        if (!readyLocked()) return CharacterPost::failed;
        if (press == Press::up) {
            if (!typing_) return CharacterPost::failed;
            fakeKeyLocked(typing_->keycode, false);
            if (typing_->shiftPressed)
                if (auto shift = shared_->keyboard.keycodeForFlag(kFlagShift)) fakeKeyLocked(*shift, false);
            typing_.reset();
            return flushLocked() ? CharacterPost::posted : CharacterPost::failed;
        }
        const std::optional<uint32_t> keysym = keysymForCharacter(character);
        if (!keysym) return CharacterPost::failed;
        std::optional<Keyboard::KeyLevel> key;
        if (auto it = borrowed_.find(*keysym); it != borrowed_.end()) key = Keyboard::KeyLevel{it->second, false};
        if (!key) key = shared_->keyboard.findKeysym(*keysym);
        if (!key) key = borrowKeyLocked(*keysym);
        if (!key) return CharacterPost::failed;
        neutraliseLocksLocked();
        bool shiftPressed = false;
        if (key->shift && !(shared_->keyboard.flagsFromState(pointerStateLocked()) & kFlagShift)) {
            if (auto shift = shared_->keyboard.keycodeForFlag(kFlagShift)) {
                fakeKeyLocked(*shift, true);
                shiftPressed = true;
            }
        }
        fakeKeyLocked(key->keycode, true);
        typing_ = Typing{key->keycode, shiftPressed};
        return flushLocked() ? CharacterPost::posted : CharacterPost::failed;
    }

    void finishTyping() override {
        Connection& c = *shared_->main;
        std::unique_lock guard(c.mutex());
        if (c.lost()) return;
        if (!borrowed_.empty()) {
            XSync(c.display(), False);
            guard.unlock();
            std::this_thread::sleep_for(kBorrowedKeySettle);
            guard.lock();
            if (c.lost()) return;
        }
        restoreLocked();
        flushLocked();
    }

    bool confirmPosted() override {
        Connection& c = *shared_->main;
        std::lock_guard guard(c.mutex());
        if (c.lost()) return false;
        // The reply comes only after the server has read and handled every earlier request.
        XSync(c.display(), False);
        return !c.lost();
    }

    std::optional<Point> pointerLocation() override {
        Connection& c = *shared_->main;
        std::lock_guard guard(c.mutex());
        if (c.lost()) return std::nullopt;
        shared_->pumpLocked();
        Window root, child;
        int rootX = 0, rootY = 0, winX = 0, winY = 0;
        unsigned mask = 0;
        if (!XQueryPointer(c.display(), DefaultRootWindow(c.display()), &root, &child, &rootX, &rootY, &winX, &winY,
                           &mask) ||
            c.lost())
            return std::nullopt;
        const Layout& layout = shared_->layoutLocked();
        return Point{static_cast<double>(rootX - layout.originX()), static_cast<double>(rootY - layout.originY())};
    }

    // ------------------------------------------------------------ Screens

    std::vector<ScreenInfo> screens() const override {
        Connection& c = *shared_->main;
        std::lock_guard guard(c.mutex());
        if (c.lost()) return {};
        const Layout layout = queryLayout(c.display());
        if (c.lost()) return {};
        std::vector<ScreenInfo> list;
        const Monitor& primary = layout.monitors.front();
        for (const Monitor& m : layout.monitors) {
            // Global top-left y becomes window-system bottom-left y around the primary's height.
            const double globalY = m.y - primary.y;
            list.push_back(ScreenInfo{Rect{static_cast<double>(m.x - primary.x), primary.height - globalY - m.height,
                                           static_cast<double>(m.width), static_cast<double>(m.height)},
                                      1.0});
        }
        return list;
    }

    Rect mainDisplayBounds() const override {
        Connection& c = *shared_->main;
        std::lock_guard guard(c.mutex());
        if (c.lost()) return Rect{};
        const Layout layout = queryLayout(c.display());
        if (c.lost()) return Rect{};
        const Monitor& primary = layout.monitors.front();
        return Rect{0, 0, static_cast<double>(primary.width), static_cast<double>(primary.height)};
    }

    double mainScreenScale() const override { return 1.0; }

    // ------------------------------------------------------------ ScreenGrab

    bool grab(const Rect& rect, RgbaImage& out) override {
        if (rect.isNull()) return false;
        const Rect r = rect.integral();
        if (!(r.width >= 1 && r.height >= 1) || r.width > 1 << 15 || r.height > 1 << 15) return false;
        Connection& c = *shared_->main;
        std::lock_guard guard(c.mutex());
        if (c.lost()) return false;
        shared_->pumpLocked();
        const Layout& layout = shared_->layoutLocked();
        const int x = static_cast<int>(r.x) + layout.originX(), y = static_cast<int>(r.y) + layout.originY();
        const int w = static_cast<int>(r.width), h = static_cast<int>(r.height);
        return grabRootLocked(x, y, w, h, layout, out);
    }

    // ------------------------------------------------------------ Permissions

    bool inputTrusted(Prompt) override {
        // Nothing to ask on X11: any client of the display may observe and post input.
        return !shared_->main->lost() && hasXTest_ && shared_->hasRecord && shared_->hasInput2;
    }

    bool screenCapturePreflight() override {
        Connection& c = *shared_->main;
        std::lock_guard guard(c.mutex());
        if (c.lost()) return false;
        const Layout& layout = shared_->layoutLocked();
        RgbaImage probe;
        return grabRootLocked(0, 0, 1, 1, layout, probe);
    }

    bool screenCaptureRequest() override { return screenCapturePreflight(); }

    std::string missingExplanation(Kind kind) override {
        std::string text;
        if (shared_->main->lost()) {
            text = "与 X 显示服务器的连接已断开，请重新打开本应用。";
        } else if (kind == Kind::input) {
            std::string missing;
            const auto add = [&missing](bool present, const char* name) {
                if (present) return;
                if (!missing.empty()) missing += "、";
                missing += name;
            };
            add(hasXTest_, "XTEST");
            add(shared_->hasRecord, "RECORD");
            add(shared_->hasInput2, "XInput 2");
            if (!missing.empty()) text = "当前的 X 服务器缺少 " + missing + " 扩展，请换用提供这些扩展的 X 服务器后重新打开本应用。";
        } else {
            text = "X 服务器拒绝了截图请求，请确认显示服务器允许读取屏幕内容后重新打开本应用。";
        }
        if (waylandSession())
            text += std::string(text.empty() ? "" : "\n") +
                    "当前是 Wayland 会话：本应用经 Xwayland 运行，只能操作、录制和截取 X11 程序的窗口。";
        return text;
    }

private:
    static bool waylandSession() {
        const char* type = std::getenv("XDG_SESSION_TYPE");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        return (type && std::strcmp(type, "wayland") == 0) || (wayland && wayland[0]);
    }

    // Moves the pointer to a global point (root coordinates are offset by the layout).
    void moveLocked(Point at) {
        const Layout& layout = shared_->layoutLocked();
        XTestFakeMotionEvent(shared_->main->display(), -1, rounded(at.x) + layout.originX(),
                             rounded(at.y) + layout.originY(), CurrentTime);
    }

    bool readyLocked() {
        if (shared_->main->lost() || !hasXTest_) return false;
        shared_->pumpLocked();
        return !shared_->main->lost();
    }

    bool flushLocked() {
        Connection& c = *shared_->main;
        if (c.lost()) return false;
        XFlush(c.display());
        return !c.lost();
    }

    void fakeKeyLocked(uint8_t keycode, bool press) {
        shared_->postedKeys.remember(keycode, press);
        XTestFakeKeyEvent(shared_->main->display(), keycode, press, CurrentTime);
    }

    unsigned pointerStateLocked() {
        Display* d = shared_->main->display();
        Window root, child;
        int rootX, rootY, winX, winY;
        unsigned mask = 0;
        if (!XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rootX, &rootY, &winX, &winY, &mask)) return 0;
        return mask;
    }

    // Switches off the locked modifiers (Caps Lock, Num Lock, ...) and the group until
    // restoreLocked, remembering what was on.
    void neutraliseLocksLocked() {
        if (savedLocks_) return;
        Display* d = shared_->main->display();
        XkbStateRec state{};
        if (XkbGetState(d, XkbUseCoreKbd, &state) != Success) return;
        savedLocks_ = SavedLocks{state.locked_mods, state.locked_group};
        if (state.locked_mods) XkbLockModifiers(d, XkbUseCoreKbd, state.locked_mods, 0);
        if (state.locked_group) XkbLockGroup(d, XkbUseCoreKbd, 0);
    }

    // Binds a keysym to a spare keycode (both levels, so Shift cannot change it) until
    // restoreLocked. Nothing when no keycode is spare.
    std::optional<Keyboard::KeyLevel> borrowKeyLocked(uint32_t keysym) {
        if (borrowed_.empty()) spares_ = shared_->keyboard.spareKeycodes();
        if (spares_.empty()) return std::nullopt;
        if (borrowed_.size() >= spares_.size()) {
            // Every spare key is in use: let clients read them, then give them back.
            XSync(shared_->main->display(), False);
            std::this_thread::sleep_for(kBorrowedKeySettle);
            restoreBorrowedLocked();
        }
        const uint8_t keycode = spares_[borrowed_.size()];
        KeySym syms[2] = {keysym, keysym};
        XChangeKeyboardMapping(shared_->main->display(), keycode, 2, syms, 1);
        borrowed_[keysym] = keycode;
        return Keyboard::KeyLevel{keycode, false};
    }

    void restoreBorrowedLocked() {
        Display* d = shared_->main->display();
        for (const auto& [keysym, keycode] : borrowed_) {
            KeySym none[2] = {NoSymbol, NoSymbol};
            XChangeKeyboardMapping(d, keycode, 2, none, 1);
        }
        borrowed_.clear();
    }

    // Gives back the borrowed keys and the locks. Connection locked and not lost.
    void restoreLocked() {
        restoreBorrowedLocked();
        if (savedLocks_) {
            Display* d = shared_->main->display();
            if (savedLocks_->mods) XkbLockModifiers(d, XkbUseCoreKbd, savedLocks_->mods, savedLocks_->mods);
            if (savedLocks_->group) XkbLockGroup(d, XkbUseCoreKbd, savedLocks_->group);
            savedLocks_.reset();
        }
    }

    // Presses the modifier keys of `flags` that are not held now (leaving out `own`, the flag of
    // the key being posted), in the player's order; answers the flags it pressed.
    EventFlags pressMissingModifiersLocked(EventFlags flags, EventFlags own) {
        const EventFlags wanted = flags & (kFlagShift | kFlagControl | kFlagOption | kFlagCommand) & ~own;
        if (!wanted) return 0;
        const EventFlags missing = wanted & ~shared_->keyboard.flagsFromState(pointerStateLocked());
        EventFlags pressed = 0;
        for (EventFlags flag : kPressOrder) {
            if (!(missing & flag)) continue;
            if (auto kc = shared_->keyboard.keycodeForFlag(flag)) {
                fakeKeyLocked(*kc, true);
                pressed |= flag;
            }
        }
        return pressed;
    }

    void releaseModifiersLocked(EventFlags pressed) {
        for (auto it = std::rbegin(kPressOrder); it != std::rend(kPressOrder); ++it)
            if (pressed & *it)
                if (auto kc = shared_->keyboard.keycodeForFlag(*it)) fakeKeyLocked(*kc, false);
    }

    // Grabs the root rectangle (x, y, w, h) into `out`; parts outside the root are black.
    bool grabRootLocked(int x, int y, int w, int h, const Layout& layout, RgbaImage& out) {
        const int x0 = std::max(x, 0), y0 = std::max(y, 0);
        const int x1 = std::min(x + w, layout.rootWidth), y1 = std::min(y + h, layout.rootHeight);
        if (x1 <= x0 || y1 <= y0) return false;
        out.width = w;
        out.height = h;
        out.pixels.resize(static_cast<size_t>(w) * h * 4);
        const bool partial = x0 != x || y0 != y || x1 != x + w || y1 != y + h;
        if (partial)
            for (size_t i = 0; i < out.pixels.size(); i += 4) {
                out.pixels[i] = out.pixels[i + 1] = out.pixels[i + 2] = 0;
                out.pixels[i + 3] = 255;
            }
        const size_t stride = static_cast<size_t>(w) * 4;
        uint8_t* dest = out.pixels.data() + static_cast<size_t>(y0 - y) * stride + static_cast<size_t>(x0 - x) * 4;
        const int cw = x1 - x0, ch = y1 - y0;

        if (useShm_ && grabShmLocked(x0, y0, cw, ch, dest, stride)) return true;
        if (shared_->main->lost()) return false;
        return grabPlainLocked(x0, y0, cw, ch, dest, stride);
    }

    bool grabShmLocked(int x, int y, int w, int h, uint8_t* dest, size_t stride) {
        Connection& c = *shared_->main;
        Display* d = c.display();
        Visual* visual = DefaultVisual(d, DefaultScreen(d));
        const int depth = DefaultDepth(d, DefaultScreen(d));
        const size_t bytes = static_cast<size_t>(w) * h * 4;
        if (bytes > segmentBytes_ && !allocateSegmentLocked(bytes)) {
            useShm_ = false;   // e.g. a remote display: plain grabs from now on
            return false;
        }
        XImage* image = XShmCreateImage(d, visual, static_cast<unsigned>(depth), ZPixmap, segment_.shmaddr, &segment_,
                                        static_cast<unsigned>(w), static_cast<unsigned>(h));
        if (!image) return false;
        if (static_cast<size_t>(image->bytes_per_line) * h > segmentBytes_) {
            XDestroyImage(image);
            return false;
        }
        const bool ok = XShmGetImage(d, DefaultRootWindow(d), image, x, y, AllPlanes) && !c.lost();
        if (ok) convertImage(image, dest, stride);
        XDestroyImage(image);   // frees the structure only; the segment stays ours
        return ok;
    }

    bool grabPlainLocked(int x, int y, int w, int h, uint8_t* dest, size_t stride) {
        Connection& c = *shared_->main;
        Display* d = c.display();
        XImage* image = XGetImage(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(w), static_cast<unsigned>(h),
                                  AllPlanes, ZPixmap);
        if (!image || c.lost()) {
            if (image) XDestroyImage(image);
            return false;
        }
        convertImage(image, dest, stride);
        XDestroyImage(image);
        return true;
    }

    bool allocateSegmentLocked(size_t bytes) {
        releaseSegmentLocked();
        Connection& c = *shared_->main;
        // Grow generously so that a sequence of slightly larger grabs does not reattach each time.
        const size_t size = std::max(bytes, segmentBytes_ * 2);
        const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (id < 0) return false;
        void* address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            return false;
        }
        segment_ = XShmSegmentInfo{};
        segment_.shmid = id;
        segment_.shmaddr = static_cast<char*>(address);
        segment_.readOnly = False;
        c.resetErrors();
        const bool attached = XShmAttach(c.display(), &segment_) && syncOk(c);
        // Marked for removal now: the segment goes away with the last detach, even if we crash.
        shmctl(id, IPC_RMID, nullptr);
        if (!attached) {
            shmdt(address);
            segment_ = XShmSegmentInfo{};
            return false;
        }
        segmentBytes_ = size;
        return true;
    }

    void releaseSegmentLocked() {
        if (!segmentBytes_) return;
        Connection& c = *shared_->main;
        if (!c.lost()) {
            XShmDetach(c.display(), &segment_);
            XSync(c.display(), False);
        }
        shmdt(segment_.shmaddr);
        segment_ = XShmSegmentInfo{};
        segmentBytes_ = 0;
    }

    std::shared_ptr<Shared> shared_;
    const bool hasXTest_;
    bool useShm_ = false;
    XShmSegmentInfo segment_{};
    size_t segmentBytes_ = 0;
    // Typing: the character key down now, the keys bound for the text (keysym → keycode),
    // the spare keycodes they come from, and the locks switched off.
    struct Typing {
        uint8_t keycode;
        bool shiftPressed;
    };
    struct SavedLocks {
        unsigned mods;
        int group;
    };
    std::optional<Typing> typing_;
    std::map<uint32_t, uint8_t> borrowed_;
    std::vector<uint8_t> spares_;
    std::optional<SavedLocks> savedLocks_;
};

}  // namespace

std::optional<Desktop> openX11Desktop(MainThreadPoster poster, std::string* error, const X11Options& options) {
    std::string message;
    auto connection = Connection::open(options.display, &message);
    if (!connection) {
        if (error) *error = message;
        return std::nullopt;
    }
    auto shared = std::make_shared<Shared>();
    shared->main = connection;
    shared->poster = poster ? std::move(poster) : MainThreadPoster([](std::function<void()> fn) { fn(); });

    bool hasXTest = false;
    {
        std::lock_guard guard(connection->mutex());
        Display* d = connection->display();
        int eventBase, errorBase, major, minor;
        hasXTest = XTestQueryExtension(d, &eventBase, &errorBase, &major, &minor);
        shared->hasRecord = XRecordQueryVersion(d, &major, &minor);
        int opcode, firstEvent, firstError;
        if (XQueryExtension(d, "XInputExtension", &opcode, &firstEvent, &firstError)) {
            major = 2;
            minor = 2;
            if (XIQueryVersion(d, &major, &minor) == Success && (major > 2 || (major == 2 && minor >= 1))) {
                shared->hasInput2 = true;
                shared->input2Opcode = opcode;
            }
        }
        int randrEvents, randrErrors;
        if (XRRQueryExtension(d, &randrEvents, &randrErrors)) {
            shared->randrEventBase = randrEvents;
            XRRSelectInput(d, DefaultRootWindow(d),
                           RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
        }
        int xkbOpcode, xkbEvents, xkbErrors, xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
        if (XkbQueryExtension(d, &xkbOpcode, &xkbEvents, &xkbErrors, &xkbMajor, &xkbMinor)) {
            shared->xkbEventBase = xkbEvents;
            const unsigned mask = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
            XkbSelectEvents(d, XkbUseCoreKbd, mask, mask);
        }
        shared->keyboard.refresh(d);
        XSync(d, False);
    }
    if (!hasXTest) {
        if (error) *error = "the X server has no XTest extension";
        return std::nullopt;
    }

    auto services = std::make_shared<X11Services>(shared, options.useSharedMemory, hasXTest);
    Desktop desktop;
    desktop.clock = std::make_shared<SystemClock>();
    desktop.events = std::shared_ptr<EventSink>(services, static_cast<EventSink*>(services.get()));
    desktop.screens = std::shared_ptr<Screens>(services, static_cast<Screens*>(services.get()));
    desktop.grab = std::shared_ptr<ScreenGrab>(services, static_cast<ScreenGrab*>(services.get()));
    desktop.permissions = std::shared_ptr<Permissions>(services, static_cast<Permissions*>(services.get()));
    desktop.tap = makeEventTap(shared);
    desktop.keyMonitor = makeKeyDownMonitor(shared);
    return desktop;
}

}  // namespace tapforge::platform::x11
