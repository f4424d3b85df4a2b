#include "ui/OverlayContext.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace tapforge::ui {

namespace {

QPointF primaryTopLeft() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? QPointF(primary->geometry().topLeft()) : QPointF();
}

// Copies the global rectangle `rect` (whole points) out of `frame`; outside it stays black.
bool cropFrame(const app::ScreenFrame& frame, const platform::Rect& rect, platform::RgbaImage& out) {
    const double s = frame.scale;
    out.width = static_cast<int>(std::lround(rect.width * s));
    out.height = static_cast<int>(std::lround(rect.height * s));
    out.pixels.assign(static_cast<size_t>(out.width) * out.height * 4, 0);
    const int left = static_cast<int>(std::lround((rect.x - frame.bounds.x) * s));
    const int top = static_cast<int>(std::lround((rect.y - frame.bounds.y) * s));
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            const int fx = left + x, fy = top + y;
            uint8_t* dest = out.pixels.data() + (static_cast<size_t>(y) * out.width + x) * 4;
            if (fx < 0 || fy < 0 || fx >= frame.image.width || fy >= frame.image.height)
                dest[3] = 255;
            else
                std::memcpy(dest, frame.image.pixel(fx, fy), 4);
        }
    return !out.empty();
}

}  // namespace

OverlayContext::OverlayContext(std::shared_ptr<platform::Screens> screens, std::shared_ptr<platform::ScreenGrab> grab)
    : capture_(std::move(screens), grab), grab_(std::move(grab)) {}

std::shared_ptr<const app::ScreenFrame> OverlayContext::overlayOpening() {
    if (openCount_++ > 0) return frame_;
    auto frame = std::make_shared<app::ScreenFrame>();
    frame->bounds = capture_.desktopBounds().integral();
    if (frame->bounds.isNull() || !grab_->grab(frame->bounds, frame->image) || frame->image.empty()) {
        frame_ = nullptr;
        return frame_;
    }
    frame->scale = std::max(1.0, frame->image.width / frame->bounds.width);
    frame_ = std::move(frame);
    return frame_;
}

void OverlayContext::overlayClosed() {
    if (openCount_ == 0 || --openCount_ > 0) return;
    frame_ = nullptr;   // the controller may still hold it; the next overlay grabs afresh
    sinceLastClose_.start();
}

bool OverlayContext::anyOpen() const {
    return openCount_ > 0 || (sinceLastClose_.isValid() && sinceLastClose_.elapsed() < kEscapeGraceMs);
}

std::optional<vision::Rgb> OverlayContext::sampleColor(platform::Point global, const app::ScreenFrame* frame) {
    const platform::Rect square =
        platform::Rect{global.x - 1, global.y - 1, 3, 3}.intersected(capture_.desktopBounds()).integral();
    if (square.isNull() || square.width < 1 || square.height < 1) return std::nullopt;
    if (!(frame ? cropFrame(*frame, square, sample_) : grab_->grab(square, sample_))) return std::nullopt;
    const auto buffer = vision::ScreenCapture::pixelBuffer(sample_);
    if (!buffer) return std::nullopt;
    return buffer->averageRGB(buffer->width / 2, buffer->height / 2, 1);
}

platform::Point OverlayContext::globalFromQt(QPointF qt) {
    const QPointF p = qt - primaryTopLeft();
    return {p.x(), p.y()};
}

QPointF OverlayContext::qtFromGlobal(platform::Point global) { return QPointF(global.x, global.y) + primaryTopLeft(); }

QRect OverlayContext::virtualDesktop() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? primary->virtualGeometry() : QRect();
}

}  // namespace tapforge::ui
