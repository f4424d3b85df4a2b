#include "ui/OverlayWindow.h"

#include <QGuiApplication>
#include <QWindow>

#include "ui/OverlayContext.h"

namespace tapforge::ui {

namespace {
// A window that is not mapped yet cannot take a grab; it is usually mapped within a few event
// loop turns. Give up after a second (another client holds a grab): the overlay still works
// under the pointer, and Escape still reaches it through Qt's own keyboard grabber.
constexpr int kGrabRetryMs = 10;
constexpr int kGrabAttempts = 100;
}  // namespace

OverlayWindow::OverlayWindow(OverlayContext& context)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::X11BypassWindowManagerHint),
      context_(context),
      frame_(context.overlayOpening()) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (frame_)
        frameImage_ = QImage(frame_->image.pixels.data(), frame_->image.width, frame_->image.height,
                             frame_->image.width * 4, QImage::Format_RGBA8888_Premultiplied);
    setGeometry(OverlayContext::virtualDesktop());
    grabRetry_.setInterval(kGrabRetryMs);
    connect(&grabRetry_, &QTimer::timeout, this, &OverlayWindow::grabInput);
}

OverlayWindow::~OverlayWindow() { dismiss(); }

void OverlayWindow::present(QWidget* view) {
    view_ = view;
    previousFocus_ = QGuiApplication::focusWindow();
    if (!previousFocus_) {
        // Qt hears of a focus change a moment after the server has made it: right after a
        // window got the focus (or an overlay gave it back), Qt may not know yet. Our own
        // visible window is then the one to give the focus back to.
        for (QWindow* w : QGuiApplication::topLevelWindows())
            if (w != windowHandle() && w->isVisible() && !(w->flags() & Qt::X11BypassWindowManagerHint)) {
                previousFocus_ = w;
                break;
            }
    }
    view->setGeometry(rect());
    view->setCursor(Qt::CrossCursor);
    view->setFocusPolicy(Qt::StrongFocus);
    view->setMouseTracking(true);
    show();
    raise();
    activateWindow();
    view->setFocus(Qt::OtherFocusReason);
    // Qt-level grabbers: key and mouse events go to the view whatever window Qt thinks is
    // focused. The X grabs follow once the window is mapped.
    view->grabKeyboard();
    view->grabMouse();
    grabAttempts_ = 0;
    grabRetry_.start();
}

void OverlayWindow::grabInput() {
    QWindow* handle = windowHandle();
    const bool grabbed = handle && handle->isExposed() && handle->setKeyboardGrabEnabled(true) &&
                         handle->setMouseGrabEnabled(true);
    if (grabbed || ++grabAttempts_ >= kGrabAttempts || !open_) grabRetry_.stop();
}

void OverlayWindow::dismiss() {
    if (!open_) return;
    open_ = false;
    grabRetry_.stop();
    if (view_) {
        view_->releaseKeyboard();
        view_->releaseMouse();
    }
    if (QWindow* handle = windowHandle()) {
        handle->setKeyboardGrabEnabled(false);
        handle->setMouseGrabEnabled(false);
    }
    hide();
    if (previousFocus_ && previousFocus_->isVisible()) previousFocus_->requestActivate();
    context_.overlayClosed();
}

QRectF OverlayWindow::frameRect() const {
    if (!frame_) return {};
    const QPointF topLeft = localFromGlobal({frame_->bounds.x, frame_->bounds.y});
    return {topLeft, QSizeF(frame_->bounds.width, frame_->bounds.height)};
}

platform::Point OverlayWindow::globalFromLocal(QPointF local) const {
    return OverlayContext::globalFromQt(local + QPointF(geometry().topLeft()));
}

QPointF OverlayWindow::localFromGlobal(platform::Point global) const {
    return OverlayContext::qtFromGlobal(global) - QPointF(geometry().topLeft());
}

void closeOverlay(std::unique_ptr<OverlayWindow>& window) {
    if (!window) return;
    window->dismiss();
    window.release()->deleteLater();
}

}  // namespace tapforge::ui
