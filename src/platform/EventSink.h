// Posting synthetic input into the system event stream. Used only by the input player,
// on the playback worker thread. Coordinates are global points. Every posted event is
// recognisable as ours (the synthetic-event tag, or the backend's own bookkeeping).
// Each call answers whether the event could be created; the player skips failures silently.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/EventFlags.h"
#include "platform/Geometry.h"

namespace tapforge::platform {

enum class Press { down, up };

// What postCharacter did.
enum class CharacterPost {
    posted,        // the character's key went down (or up)
    failed,        // the character cannot be typed here; the player skips it
    unsupported,   // this desktop types by US key positions: the player uses its own table
};

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

    // Whether a virtual key code has a key on this desktop (false: postKey cannot post it).
    virtual bool canPostKey(uint16_t keyCode) {
        (void)keyCode;
        return true;
    }
    // Types one user-perceived character (UTF-8) as that character, whatever the keyboard
    // layout and lock state: down presses whatever produces it, up releases that again. Any
    // change made for the press (a lock switched off, a key bound) is undone by the up or by
    // finishTyping.
    virtual CharacterPost postCharacter(std::string_view character, Press press) {
        (void)character;
        (void)press;
        return CharacterPost::unsupported;
    }
    // After the last character of a text: gives back whatever was borrowed to type it.
    virtual void finishTyping() {}
    // Waits until the desktop has taken in every event posted so far, so that the process may
    // end right after: a display server may drop what a client wrote but it had not yet read
    // when the client goes away. False when that cannot be confirmed (the connection is lost).
    virtual bool confirmPosted() { return true; }
};

}  // namespace tapforge::platform
