// Pieces shared by the X11 backend's services: the locked connection with its error state, the
// keyboard tables, the remembered own key events and the screen layout. Internal to platform/x11.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/EventFlags.h"
#include "platform/EventTap.h"
#include "platform/Geometry.h"
#include "platform/KeyDownMonitor.h"
#include "platform/MainThread.h"

// Xlib's own declaration of its display type, so this header needs no X11 header.
typedef struct _XDisplay Display;

namespace tapforge::platform::x11 {

// One Xlib connection. Xlib calls on it are made with mutex() held. Once the server is gone
// (an I/O error) the connection is marked lost and no Xlib call is made on it again except the
// final close.
class Connection {
public:
    static std::shared_ptr<Connection> open(const std::string& name, std::string* error);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Display* display() const { return display_; }
    std::mutex& mutex() { return mutex_; }
    bool lost() const { return lost_.load(); }
    void markLost() { lost_.store(true); }
    int fd() const { return fd_; }
    const std::string& name() const { return name_; }

    // Protocol errors seen on this connection since the last reset, counted by the handler.
    void resetErrors() { errors_.store(0); }
    int errors() const { return errors_.load(); }
    void countError() { errors_.fetch_add(1); }

private:
    Connection() = default;
    Display* display_ = nullptr;
    std::mutex mutex_;
    std::atomic<bool> lost_{false};
    std::atomic<int> errors_{0};
    int fd_ = -1;
    std::string name_;
};

// Syncs with the server and answers whether a protocol error arrived since resetErrors().
// False as well when the connection is lost. Call with the connection locked.
bool syncOk(Connection& connection);

// Virtual key codes ↔ X keycodes and the modifier bits, resolved with the live mapping.
class Keyboard {
public:
    // Rebuilds the tables from `display` (locked by the caller).
    void refresh(Display* display);
    void markStale() { stale_.store(true); }
    bool stale() const { return stale_.load(); }

    std::optional<uint8_t> keycodeFor(uint16_t virtualCode) const;
    std::optional<uint16_t> virtualCodeFor(uint8_t keycode) const;
    // The flag a modifier key sets (kFlagShift, ...), 0 for keys that set none of ours.
    EventFlags flagOfKey(uint8_t keycode) const;
    bool isModifierKey(uint8_t keycode) const;
    // Our flags held in a core state mask, and the mask bits of flags.
    EventFlags flagsFromState(unsigned state) const;
    // The X keycode pressed to add a flag (Control_L for control, ...).
    std::optional<uint8_t> keycodeForFlag(EventFlags flag) const;

    // Where a keysym sits on the first two levels of the first group: its keycode, and
    // whether the second level (Shift) gives it. Nothing when no key has it there.
    struct KeyLevel {
        uint8_t keycode;
        bool shift;
    };
    std::optional<KeyLevel> findKeysym(uint32_t keysym) const;
    // Keycodes with no symbol and no modifier role, free to bind for a moment.
    std::vector<uint8_t> spareKeycodes() const;

private:
    mutable std::mutex mutex_;
    std::atomic<bool> stale_{true};
    std::array<int16_t, 128> keycodeOfVirtual_{};   // -1: none
    std::array<int32_t, 256> virtualOfKeycode_{};   // -1: none
    std::array<EventFlags, 256> flagOfKeycode_{};
    std::array<bool, 256> modifierKey_{};
    std::vector<uint32_t> keysyms_;   // the core mapping from minKeycode_, perKeycode_ per key
    int minKeycode_ = 8, maxKeycode_ = 255, perKeycode_ = 0;
    std::vector<uint8_t> spare_;
    unsigned shiftMask_ = 0, controlMask_ = 0, optionMask_ = 0, commandMask_ = 0;
};

// The key events this process posted, oldest first, so the key-down monitor can drop them.
class PostedKeyLog {
public:
    void remember(uint8_t keycode, bool press);
    // Forgets and answers true for the oldest remembered event equal to (keycode, press).
    bool consume(uint8_t keycode, bool press);
    size_t size() const;

private:
    struct Entry {
        uint8_t keycode;
        bool press;
        int64_t atMs;
    };
    void pruneLocked(int64_t nowMs);
    mutable std::mutex mutex_;
    std::deque<Entry> entries_;
};

struct Monitor {
    int x = 0, y = 0, width = 0, height = 0;   // root coordinates
    bool primary = false;
};

// The monitors and the root size. The primary monitor comes first.
struct Layout {
    std::vector<Monitor> monitors;
    int rootWidth = 0, rootHeight = 0;
    int originX() const { return monitors.empty() ? 0 : monitors.front().x; }
    int originY() const { return monitors.empty() ? 0 : monitors.front().y; }
};

// Reads the layout now (RandR monitors; the whole root when RandR has none). Connection locked.
Layout queryLayout(Display* display);

// Everything the services share.
struct Shared {
    std::shared_ptr<Connection> main;   // posting, screens, grabs, permissions
    Keyboard keyboard;
    PostedKeyLog postedKeys;
    MainThreadPoster poster;
    bool hasRecord = false;
    bool hasInput2 = false;
    int input2Opcode = 0;

    // Cached layout for converting coordinates; refreshed when a RandR notification arrives on
    // the main connection or after 500 ms. Call with the main connection locked.
    const Layout& layoutLocked();
    void invalidateLayout() { layoutStale_.store(true); }
    // Handles the events queued on the main connection (mapping and RandR changes). Locked.
    void pumpLocked();
    // Refreshes the keyboard tables if a mapping change was seen; takes the main lock.
    void refreshKeyboardIfStale();

    int randrEventBase = -1;
    // XKB keyboard and map changes (setxkbmap) arrive as XKB events, not core MappingNotify.
    int xkbEventBase = -1;

private:
    Layout layout_;
    int64_t layoutAtMs_ = 0;
    std::atomic<bool> layoutStale_{true};
};

int64_t steadyMs();

std::shared_ptr<EventTap> makeEventTap(std::shared_ptr<Shared> shared);
std::shared_ptr<KeyDownMonitor> makeKeyDownMonitor(std::shared_ptr<Shared> shared);

}  // namespace tapforge::platform::x11
