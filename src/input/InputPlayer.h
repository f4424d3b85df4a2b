// Turns input actions (click, move, scroll, key, text) into synthetic events posted through
// the platform event sink, pacing itself with the clock's blocking sleeps.
// Used only on the playback worker thread; nothing is locked.
// Points are global points (top-left of the primary display, y down); durations are ms.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "model/Enums.h"
#include "model/ModifierSet.h"
#include "platform/Clock.h"
#include "platform/EventSink.h"
#include "platform/Geometry.h"

namespace tapforge {

class InputPlayer {
public:
    using Point = platform::Point;

    // Reads the pointer location once; (0, 0) when it cannot be read.
    InputPlayer(std::shared_ptr<platform::EventSink> sink, std::shared_ptr<platform::Clock> clock);

    // Asked between the paced steps of a move (at least every 20 ms of its time): true ends
    // the move there. Unset: moves run to their end. Set by the owner before use.
    std::function<bool()> shouldStop;

    void click(MouseButton button, ClickKind kind, Point at, ModifierSet modifiers);
    // Linear move in at most 120 steps of about 16 ms; below 1 ms jumps at once. False when
    // shouldStop cut it short.
    bool move(Point to, int64_t durationMs);
    // Moves to `at` first, then scrolls `amount` lines (positive up).
    void scroll(int64_t amount, Point at);
    void key(uint16_t keyCode, KeyEventKind kind, ModifierSet modifiers);
    // Types UTF-8 text. A desktop that types characters as such (X11: any layout, lock state
    // or script) gets each user-perceived character; otherwise the US-layout character table
    // gives key and shift, and characters outside it are skipped.
    void typeText(std::string_view text);
    // Move to `from`, left down, move to `to` over `durationMs`, left up. False when
    // shouldStop cut the move short: the button is then still held (see releaseHeld).
    bool drag(Point from, Point to, int64_t durationMs);

    // Told, instead of posting, about a key step whose key this desktop does not have.
    // Called on the thread that plays.
    std::function<void(uint16_t keyCode)> onKeyUnavailable;

    // The last location the player posted (not the live pointer).
    Point position() const { return position_; }

    // Releases, in reverse order of pressing, every key and button this player pressed and
    // has not released, so that no run leaves a key stuck.
    void releaseHeld();

private:
    // A key or button this player pressed and has not released, in order of pressing.
    struct Held {
        enum class Kind { key, button } kind;
        uint16_t keyCode;
        platform::PointerButton button;
        friend bool operator==(const Held&, const Held&) = default;
    };

    // Sleeps `micros`, in slices when a stop may cut it short. False when shouldStop did.
    bool pace(int64_t micros);
    void pressModifiers(const std::vector<std::pair<uint16_t, ModifierSet>>& order);
    void releaseModifiers(const std::vector<std::pair<uint16_t, ModifierSet>>& order);
    bool postKey(uint16_t keyCode, platform::Press press, platform::EventFlags flags);
    bool postButton(platform::PointerButton button, platform::Press press, Point at,
                    platform::EventFlags flags, int64_t clickState);
    void noteHeld(Held held, platform::Press press);

    std::shared_ptr<platform::EventSink> sink_;
    std::shared_ptr<platform::Clock> clock_;
    Point position_;
    std::vector<Held> held_;
};

}  // namespace tapforge
