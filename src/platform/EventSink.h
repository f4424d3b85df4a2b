// Posting synthetic input into the system event stream. Used only by the input player,
// on the playback worker thread. Coordinates are global points. Every posted event is
// recognisable as ours (the synthetic-event tag, or the backend's own bookkeeping).
// Each call answers whether the event could be created; the player skips failures silently.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/EventFlags.h"
#include "platform/Geometry.h"

namespace tapforge::platform {

enum class Press { down, up };

class EventSink {
public:
    virtual ~EventSink() = default;

    // A button press or release at `at`, carrying modifier `flags` and the click state
    // (1 single, 2 second click of a double click, ...).
    virtual bool postButton(PointerButton button, Press press, Point at, EventFlags flags, int64_t clickState) = 0;
    // A plain pointer move (never a drag event type, even while a button is held).
    virtual bool postMove(Point at) = 0;
    // Wheel scroll of `lines` lines at `at`; positive scrolls up, negative down.
    virtual bool postScroll(int32_t lines, Point at) = 0;
    // A key press or release of a virtual key code (US ANSI numbering), with explicit flags.
    virtual bool postKey(uint16_t keyCode, Press press, EventFlags flags) = 0;
    // Where the pointer is now, or nothing if it cannot be read.
    virtual std::optional<Point> pointerLocation() = 0;
};

}  // namespace tapforge::platform
