// Grabbing a global rectangle of the screen into RGBA pixels. Callable from any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Geometry.h"

namespace tapforge::platform {

// Row-major RGBA, 8 bits per channel, first row on top, alpha premultiplied.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;   // width * height * 4 bytes

    bool empty() const { return width < 1 || height < 1; }
    const uint8_t* pixel(int x, int y) const { return pixels.data() + (static_cast<size_t>(y) * width + x) * 4; }
};

class ScreenGrab {
public:
    virtual ~ScreenGrab() = default;
    // Grabs `rect` (global points, whole numbers) at the display's best resolution: the live
    // screen, always. Where the window system cannot leave our own overlay windows out (X11),
    // they are in the grab; an overlay therefore grabs the desktop before it appears and works
    // from that frame. Areas outside every display are black. `out` is reused: its buffer is
    // resized, not reallocated, when large enough. False when nothing was grabbed.
    virtual bool grab(const Rect& rect, RgbaImage& out) = 0;
};

}  // namespace tapforge::platform
