// System-wide key-down events for the global hotkeys, delivered on the main thread at most
// once per key press, whatever window has focus. Events this program posted itself are
// flagged `synthetic` so the monitor's owner can ignore them.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/EventFlags.h"

namespace tapforge::platform {

struct KeyDown {
    uint16_t keyCode = 0;     // virtual key code
    EventFlags flags = 0;     // modifier bits held at the press
    bool synthetic = false;   // posted by this program
};

class KeyDownMonitor {
public:
    using Handler = std::function<void(const KeyDown&)>;
    virtual ~KeyDownMonitor() = default;

    // False when the monitor cannot be installed.
    virtual bool start(Handler handler) = 0;
    virtual void stop() = 0;
};

}  // namespace tapforge::platform
