// The borderless top-level window of a picking overlay: it covers every monitor (one window
// over Qt's whole virtual desktop), bypasses the window manager, stays on top, and grabs the
// keyboard and the pointer while shown so that Escape and clicks reach it with or without a
// window manager. Its one child is the picker's view. Main thread only.
#pragma once

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "app/UiServices.h"
#include "platform/Geometry.h"

namespace tapforge::ui {

class OverlayContext;

class OverlayWindow : public QWidget {
    Q_OBJECT
public:
    // Takes its share of the frozen frame at once, before anything of it is on screen.
    explicit OverlayWindow(OverlayContext& context);
    ~OverlayWindow() override;

    // Makes `view` (a child of this window) fill it, shows the window on top of everything,
    // focuses the view and grabs keyboard and pointer (retried until the window is mapped).
    void present(QWidget* view);
    // Releases both grabs, hides the window and gives back its share of the frame. Safe to
    // call more than once; the destructor calls it.
    void dismiss();

    OverlayContext& context() const { return context_; }
    const std::shared_ptr<const app::ScreenFrame>& frame() const { return frame_; }
    // The frame as an image (null without a frame) and where it lies in this window.
    const QImage& frameImage() const { return frameImage_; }
    QRectF frameRect() const;

    // Window-local coordinates <-> global points.
    platform::Point globalFromLocal(QPointF local) const;
    QPointF localFromGlobal(platform::Point global) const;

private:
    void grabInput();

    OverlayContext& context_;
    std::shared_ptr<const app::ScreenFrame> frame_;
    QImage frameImage_;
    QWidget* view_ = nullptr;
    QPointer<QWindow> previousFocus_;   // gets the focus back when the overlay goes
    QTimer grabRetry_;
    int grabAttempts_ = 0;
    bool open_ = true;
};

// Closes a controller's window: dismissed now, deleted once control is back in the event loop
// (it may be the window whose event handler is running).
void closeOverlay(std::unique_ptr<OverlayWindow>& window);

}  // namespace tapforge::ui
