// Desktop geometry and screen grabs: everything that looks at the screen goes through here.
// Relies on platform::Screens (screen list, main display) and platform::ScreenGrab (pixels),
// passed in at construction; holds no other state than one spare grab buffer.
// Callable from any thread (the spare buffer is guarded).
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "model/ColorPoint.h"
#include "platform/Desktop.h"
#include "platform/Geometry.h"
#include "platform/ScreenGrab.h"
#include "platform/Screens.h"
#include "vision/PixelBuffer.h"
#include "vision/ScreenSnapshot.h"

namespace tapforge::vision {

class ScreenCapture {
public:
    ScreenCapture(std::shared_ptr<platform::Screens> screens, std::shared_ptr<platform::ScreenGrab> grab);
    explicit ScreenCapture(const platform::Desktop& desktop);

    // Height in points of the primary screen (ScreenCoordinates::primaryHeight).
    double primaryScreenHeight() const;

    // Union of all screens in global top-left points; the main display's bounds when the
    // screen list is empty.
    platform::Rect desktopBounds() const;

    // Grabs the smallest rectangle holding every enabled point plus `margin` points on each
    // side (callers pass 12), clipped to the desktop. Nothing when no point is enabled, the box
    // lies off the desktop, or the grab fails.
    std::optional<ScreenSnapshot> capture(const std::vector<ColorPoint>& around, double margin);

    // The shared grab sequence for any global rectangle (points): standardise, intersect with
    // desktopBounds, make integral, refuse under 1 x 1 point, grab; scale = image pixel width /
    // rectangle width, at least 1; origin = the rectangle's origin.
    std::optional<ScreenSnapshot> grab(const platform::Rect& globalRect);

    // The main display (Screens::mainDisplayBounds) through the same sequence, as an image
    // check captures it.
    std::optional<ScreenSnapshot> grabMainDisplay();

    // An owned RGBA copy of `image` at its own pixel size; nothing for an empty image or one
    // whose pixel storage does not match its size.
    static std::optional<PixelBuffer> pixelBuffer(const platform::RgbaImage& image);

private:
    struct SparePool;
    std::shared_ptr<platform::Screens> screens_;
    std::shared_ptr<platform::ScreenGrab> grab_;
    // The storage of the last released snapshot image, refilled by the next grab, so polls do
    // not touch fresh memory every time. Images return here when their last holder lets go.
    std::shared_ptr<SparePool> pool_;
};

}  // namespace tapforge::vision
