// The list of displays. Frames are in the window-system convention (origin at the
// bottom-left of the primary display, y up) because the coordinate rules above this layer
// are written against it; mainDisplayBounds is in global points (top-left, y down).
// Every call reads the current configuration. Callable from any thread.
#pragma once

#include <vector>

#include "platform/Geometry.h"

namespace tapforge::platform {

struct ScreenInfo {
    Rect frame;            // window-system convention, points
    double scale = 1.0;    // backing pixels per point
};

class Screens {
public:
    virtual ~Screens() = default;
    // In the window system's order; the primary display has frame origin (0, 0).
    virtual std::vector<ScreenInfo> screens() const = 0;
    virtual Rect mainDisplayBounds() const = 0;
    virtual double mainScreenScale() const = 0;
};

}  // namespace tapforge::platform
