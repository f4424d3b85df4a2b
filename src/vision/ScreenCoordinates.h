// The two facts every conversion between the window system's bottom-left screen frames and
// global top-left points needs. Callers convert: a window-system point (x, yA) is the global
// point (x, primaryHeight - yA); a window-system rectangle (x, yA, w, h) is the global
// rectangle (x, primaryHeight - yA - h, w, h). Reads the current screen list on every call;
// callable from any thread.
#pragma once

#include <vector>

#include "platform/Geometry.h"
#include "platform/Screens.h"

namespace tapforge::vision {

class ScreenCoordinates {
public:
    // Height in points of the primary screen: the first listed screen whose frame origin is
    // exactly (0, 0); else the first listed screen; 0 with no screens.
    static double primaryHeight(const std::vector<platform::ScreenInfo>& screens);
    static double primaryHeight(const platform::Screens& screens) { return primaryHeight(screens.screens()); }

    // Union of all screen frames in window-system coordinates, starting from the zero
    // rectangle (so it always holds (0, 0)); the zero rectangle with no screens.
    static platform::Rect unionFrame(const std::vector<platform::ScreenInfo>& screens);
    static platform::Rect unionFrame(const platform::Screens& screens) { return unionFrame(screens.screens()); }
};

}  // namespace tapforge::vision
