// What the three picking overlays share: the one frozen frame of the desktop they draw and
// sample, and whether one of them is open.
//
// X cannot leave a window out of a screen grab and a bare X server has no compositor, so an
// overlay shows the screen as it was just before it appeared and every pick reads from that
// frame. The first overlay to open grabs it, overlapping ones share it, the last to close drops
// it; grabs of everyone else (a running playback) stay live.
//
// Escape rule: the global key monitor sees the Escape that closes an overlay too, before or
// after Qt delivers it. Such a press must not stop a playback, so `anyOpen()` stays true for
// kEscapeGraceMs after the last overlay closed.
//
// Coordinates: Qt's global coordinates are X root coordinates (device pixel ratio 1 on X11, as
// the platform layer's backing scale); global points put the primary monitor's top-left at
// (0, 0). Main thread only; needs a QGuiApplication.
#pragma once

#include <QElapsedTimer>
#include <QPointF>
#include <QRect>
#include <memory>
#include <optional>

#include "app/UiServices.h"
#include "platform/Desktop.h"
#include "vision/PixelBuffer.h"
#include "vision/ScreenCapture.h"

namespace tapforge::ui {

class OverlayContext {
public:
    static constexpr int kEscapeGraceMs = 1000;

    OverlayContext(std::shared_ptr<platform::Screens> screens, std::shared_ptr<platform::ScreenGrab> grab);

    // An overlay is about to appear: answers the frame it shows (grabbed now unless another
    // overlay is open; null when the grab failed). Pair every call with `overlayClosed`.
    std::shared_ptr<const app::ScreenFrame> overlayOpening();
    void overlayClosed();
    bool anyOpen() const;

    // The 3 x 3 point average around a global point, from `frame` when given, else from the
    // live screen; nothing when the square lies off the desktop or the grab fails.
    std::optional<vision::Rgb> sampleColor(platform::Point global, const app::ScreenFrame* frame);

    static platform::Point globalFromQt(QPointF qt);
    static QPointF qtFromGlobal(platform::Point global);
    // The whole virtual desktop (every monitor) in Qt's global coordinates.
    static QRect virtualDesktop();

private:
    vision::ScreenCapture capture_;
    std::shared_ptr<platform::ScreenGrab> grab_;
    std::shared_ptr<const app::ScreenFrame> frame_;
    int openCount_ = 0;
    QElapsedTimer sinceLastClose_;
    platform::RgbaImage sample_;
};

}  // namespace tapforge::ui
