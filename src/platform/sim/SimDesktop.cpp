#include "platform/sim/SimDesktop.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace tapforge::platform::sim {

namespace {

const char* buttonName(PointerButton button) {
    switch (button) {
    case PointerButton::left: return "left";
    case PointerButton::right: return "right";
    case PointerButton::center: return "center";
    }
    return "?";
}

std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

std::string pointText(Point p) {
    std::string text = "(";
    text += number(p.x);
    text += ",";
    text += number(p.y);
    text += ")";
    return text;
}

std::string flagsText(EventFlags flags) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(flags));
    return buf;
}

void checkImage(const Rect& frame, double scale, const RgbaImage& image) {
    if (!(frame.width >= 1 && frame.height >= 1) || !(scale >= 1.0))
        throw std::invalid_argument("sim screen needs a frame of at least 1 x 1 point and a scale of at least 1");
    const long w = std::lround(frame.width * scale), h = std::lround(frame.height * scale);
    if (image.width != w || image.height != h || image.pixels.size() != static_cast<size_t>(w) * h * 4)
        throw std::invalid_argument("sim screen image must be frame size x scale pixels");
}

// Pixel index range [first, last) of a screen or output covering points [from, to) relative to
// its origin at `scale` pixels per point, clamped to [0, limit).
std::pair<int, int> pixelSpan(double from, double to, double scale, int limit) {
    const int first = std::clamp(static_cast<int>(std::floor(from * scale)), 0, limit);
    const int last = std::clamp(static_cast<int>(std::ceil(to * scale)), 0, limit);
    return {first, last};
}

}  // namespace

std::string describe(const PostedEvent& e) {
    std::string s = std::to_string(e.timeMs()) + "ms ";
    const char* press = e.press == Press::down ? "down" : "up";
    switch (e.kind) {
    case PostedEvent::Kind::button:
        s += std::string("button ") + buttonName(e.button) + " " + press + " " + pointText(e.location) + " flags " +
             flagsText(e.flags) + " click " + std::to_string(e.clickState);
        break;
    case PostedEvent::Kind::move: s += "move " + pointText(e.location); break;
    case PostedEvent::Kind::scroll: s += "scroll " + std::to_string(e.scrollLines) + " " + pointText(e.location); break;
    case PostedEvent::Kind::key:
        s += std::string("key ") + press + " " + std::to_string(e.keyCode) + " flags " + flagsText(e.flags);
        break;
    }
    return s;
}

std::string describe(const std::vector<PostedEvent>& events) {
    std::string s;
    for (const PostedEvent& e : events) {
        if (!s.empty()) s += '\n';
        s += describe(e);
    }
    return s;
}

// ---------------------------------------------------------------- tap and monitor

bool SimEventTap::start(Handler handler) {
    std::lock_guard guard(mutex_);
    if (creationFails_) return false;
    handler_ = std::move(handler);
    running_ = true;
    disabled_ = false;
    return true;
}

void SimEventTap::stop() {
    std::lock_guard guard(mutex_);
    running_ = false;
    handler_ = nullptr;
}

void SimEventTap::reenable() {
    std::lock_guard guard(mutex_);
    ++reenables_;
    disabled_ = false;
}

bool SimEventTap::isRunning() const {
    std::lock_guard guard(mutex_);
    return running_;
}

bool SimEventTap::inject(const TapEvent& event) {
    Handler handler;
    {
        std::lock_guard guard(mutex_);
        if (!running_ || disabled_ || !handler_) return false;
        handler = handler_;
    }
    // Not under the lock: the handler may stop or re-enable the tap.
    handler(event);
    return true;
}

void SimEventTap::disable(TapEventType reason) {
    Handler handler;
    {
        std::lock_guard guard(mutex_);
        if (!running_ || !handler_) return;
        disabled_ = true;
        handler = handler_;
    }
    TapEvent note;
    note.type = reason;
    handler(note);
}

void SimEventTap::setCreationFails(bool fails) {
    std::lock_guard guard(mutex_);
    creationFails_ = fails;
}

int SimEventTap::reenableCount() const {
    std::lock_guard guard(mutex_);
    return reenables_;
}

bool SimKeyDownMonitor::start(Handler handler) {
    std::lock_guard guard(mutex_);
    if (installFails_) return false;
    handler_ = std::move(handler);
    running_ = true;
    return true;
}

void SimKeyDownMonitor::stop() {
    std::lock_guard guard(mutex_);
    running_ = false;
    handler_ = nullptr;
}

bool SimKeyDownMonitor::inject(const KeyDown& key) {
    Handler handler;
    {
        std::lock_guard guard(mutex_);
        if (!running_ || !handler_) return false;
        handler = handler_;
    }
    handler(key);
    return true;
}

void SimKeyDownMonitor::setInstallFails(bool fails) {
    std::lock_guard guard(mutex_);
    installFails_ = fails;
}

bool SimKeyDownMonitor::isRunning() const {
    std::lock_guard guard(mutex_);
    return running_;
}

// ---------------------------------------------------------------- desktop

std::shared_ptr<SimDesktop> SimDesktop::create(std::shared_ptr<SimClock> clock) {
    return std::make_shared<SimDesktop>(std::move(clock));
}

std::shared_ptr<SimDesktop> SimDesktop::createWithScreenshot(RgbaImage image) {
    auto sim = create(std::make_shared<SimClock>(SimClock::Mode::dryRun));
    const Rect frame{0, 0, static_cast<double>(image.width), static_cast<double>(image.height)};
    sim->addScreen(frame, 1.0, std::move(image));
    sim->setKeepsPostedEvents(false);
    return sim;
}

SimDesktop::SimDesktop(std::shared_ptr<SimClock> clock) : clock_(std::move(clock)) {
    if (!clock_) clock_ = std::make_shared<SimClock>();
}

Desktop SimDesktop::desktop() {
    std::shared_ptr<SimDesktop> self = shared_from_this();
    Desktop d;
    d.clock = clock_;
    d.events = std::shared_ptr<EventSink>(self, static_cast<EventSink*>(this));
    d.screens = std::shared_ptr<Screens>(self, static_cast<Screens*>(this));
    d.grab = std::shared_ptr<ScreenGrab>(self, static_cast<ScreenGrab*>(this));
    d.tap = tap_;
    d.keyMonitor = keyMonitor_;
    d.permissions = std::shared_ptr<Permissions>(self, static_cast<Permissions*>(this));
    return d;
}

size_t SimDesktop::addScreen(const Rect& frame, double scale, Rgba fill) {
    if (!(frame.width >= 1 && frame.height >= 1) || !(scale >= 1.0))
        throw std::invalid_argument("sim screen needs a frame of at least 1 x 1 point and a scale of at least 1");
    RgbaImage image;
    image.width = static_cast<int>(std::lround(frame.width * scale));
    image.height = static_cast<int>(std::lround(frame.height * scale));
    image.pixels.resize(static_cast<size_t>(image.width) * image.height * 4);
    // Doubling copies: a 4K screen fills in a handful of memcpy calls even in a sanitizer build.
    std::copy(fill.begin(), fill.end(), image.pixels.begin());
    for (size_t done = 4; done < image.pixels.size(); done *= 2)
        std::copy_n(image.pixels.begin(), std::min(done, image.pixels.size() - done), image.pixels.begin() + done);
    return addScreen(frame, scale, std::move(image));
}

size_t SimDesktop::addScreen(const Rect& frame, double scale, RgbaImage image) {
    checkImage(frame, scale, image);
    std::lock_guard guard(mutex_);
    screens_.push_back(Screen{frame, scale, std::move(image)});
    return screens_.size() - 1;
}

void SimDesktop::setScreenImage(size_t index, RgbaImage image) {
    std::lock_guard guard(mutex_);
    Screen& s = screens_.at(index);
    checkImage(s.frame, s.scale, image);
    s.image = std::move(image);
}

SimDesktop::Screen SimDesktop::screen(size_t index) const {
    std::lock_guard guard(mutex_);
    return screens_.at(index);
}

void SimDesktop::removeAllScreens() {
    std::lock_guard guard(mutex_);
    screens_.clear();
}

const SimDesktop::Screen* SimDesktop::primaryLocked() const {
    for (const Screen& s : screens_)
        if (s.frame.x == 0 && s.frame.y == 0) return &s;
    return screens_.empty() ? nullptr : &screens_.front();
}

double SimDesktop::primaryHeightLocked() const {
    const Screen* primary = primaryLocked();
    return primary ? primary->frame.height : 0;
}

Rect SimDesktop::globalRectLocked(const Screen& s) const {
    return Rect{s.frame.x, primaryHeightLocked() - s.frame.y - s.frame.height, s.frame.width, s.frame.height};
}

void SimDesktop::fill(const Rect& globalRect, Rgba colour) {
    std::lock_guard guard(mutex_);
    for (Screen& s : screens_) {
        const Rect g = globalRectLocked(s);
        const Rect i = globalRect.intersected(g);
        if (i.isNull()) continue;
        const auto [x0, x1] = pixelSpan(i.x - g.x, i.maxX() - g.x, s.scale, s.image.width);
        const auto [y0, y1] = pixelSpan(i.y - g.y, i.maxY() - g.y, s.scale, s.image.height);
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                std::copy(colour.begin(), colour.end(),
                          s.image.pixels.begin() + (static_cast<size_t>(y) * s.image.width + x) * 4);
    }
}

void SimDesktop::draw(const RgbaImage& image, Point topLeft) {
    std::lock_guard guard(mutex_);
    for (Screen& s : screens_) {
        const Rect g = globalRectLocked(s);
        const long ox = std::lround((topLeft.x - g.x) * s.scale), oy = std::lround((topLeft.y - g.y) * s.scale);
        for (int iy = 0; iy < image.height; ++iy) {
            const long sy = oy + iy;
            if (sy < 0 || sy >= s.image.height) continue;
            for (int ix = 0; ix < image.width; ++ix) {
                const long sx = ox + ix;
                if (sx < 0 || sx >= s.image.width) continue;
                const uint8_t* from = image.pixel(ix, iy);
                std::copy(from, from + 4, s.image.pixels.begin() + (static_cast<size_t>(sy) * s.image.width + sx) * 4);
            }
        }
    }
}

void SimDesktop::setPointer(Point at) {
    std::lock_guard guard(mutex_);
    pointer_ = at;
}

Point SimDesktop::pointer() const {
    std::lock_guard guard(mutex_);
    return pointer_;
}

void SimDesktop::setPointerReadable(bool readable) {
    std::lock_guard guard(mutex_);
    pointerReadable_ = readable;
}

void SimDesktop::setPostingFails(bool fails) {
    std::lock_guard guard(mutex_);
    postingFails_ = fails;
}

std::vector<PostedEvent> SimDesktop::postedEvents() const {
    std::lock_guard guard(mutex_);
    return posted_;
}

void SimDesktop::setKeepsPostedEvents(bool keeps) {
    std::lock_guard guard(mutex_);
    keepsPosted_ = keeps;
    if (!keeps) std::vector<PostedEvent>().swap(posted_);
}

void SimDesktop::clearPostedEvents() {
    std::lock_guard guard(mutex_);
    posted_.clear();
}

void SimDesktop::setInputTrusted(bool trusted) {
    std::lock_guard guard(mutex_);
    inputTrusted_ = trusted;
}

void SimDesktop::setScreenCaptureAllowed(bool allowed) {
    std::lock_guard guard(mutex_);
    screenCaptureAllowed_ = allowed;
}

void SimDesktop::setScreenCaptureRequestAnswer(std::optional<bool> grants) {
    std::lock_guard guard(mutex_);
    requestAnswer_ = grants;
}

int SimDesktop::inputPromptCount() const {
    std::lock_guard guard(mutex_);
    return inputPrompts_;
}

int SimDesktop::screenCaptureRequestCount() const {
    std::lock_guard guard(mutex_);
    return screenRequests_;
}

void SimDesktop::setGrabFails(bool fails) {
    std::lock_guard guard(mutex_);
    grabFails_ = fails;
}

int SimDesktop::grabCount() const {
    std::lock_guard guard(mutex_);
    return grabs_;
}

// ---------------------------------------------------------------- EventSink

bool SimDesktop::record(PostedEvent event) {
    // Stamped under our lock so the list stays in time order when several threads post.
    // The clock never calls out while holding its own lock, so this order cannot deadlock.
    std::lock_guard guard(mutex_);
    if (postingFails_) return false;
    event.timeMicros = clock_->nowMicros();
    if (event.kind != PostedEvent::Kind::key) pointer_ = event.location;
    if (keepsPosted_) posted_.push_back(event);
    return true;
}

bool SimDesktop::postButton(PointerButton button, Press press, Point at, EventFlags flags, int64_t clickState) {
    PostedEvent e;
    e.kind = PostedEvent::Kind::button;
    e.button = button;
    e.press = press;
    e.location = at;
    e.flags = flags;
    e.clickState = clickState;
    return record(e);
}

bool SimDesktop::postMove(Point at) {
    PostedEvent e;
    e.kind = PostedEvent::Kind::move;
    e.location = at;
    return record(e);
}

bool SimDesktop::postScroll(int32_t lines, Point at) {
    // Like the X11 backend, which can only wheel where the pointer is, a scroll moves the pointer.
    PostedEvent e;
    e.kind = PostedEvent::Kind::scroll;
    e.scrollLines = lines;
    e.location = at;
    return record(e);
}

bool SimDesktop::postKey(uint16_t keyCode, Press press, EventFlags flags) {
    PostedEvent e;
    e.kind = PostedEvent::Kind::key;
    e.keyCode = keyCode;
    e.press = press;
    e.flags = flags;
    return record(e);
}

std::optional<Point> SimDesktop::pointerLocation() {
    std::lock_guard guard(mutex_);
    if (!pointerReadable_) return std::nullopt;
    return pointer_;
}

// ---------------------------------------------------------------- Screens

std::vector<ScreenInfo> SimDesktop::screens() const {
    std::lock_guard guard(mutex_);
    std::vector<ScreenInfo> list;
    list.reserve(screens_.size());
    for (const Screen& s : screens_) list.push_back(ScreenInfo{s.frame, s.scale});
    return list;
}

Rect SimDesktop::mainDisplayBounds() const {
    std::lock_guard guard(mutex_);
    const Screen* primary = primaryLocked();
    return primary ? globalRectLocked(*primary) : Rect{};
}

double SimDesktop::mainScreenScale() const {
    std::lock_guard guard(mutex_);
    const Screen* primary = primaryLocked();
    return primary ? primary->scale : 1.0;
}

// ---------------------------------------------------------------- ScreenGrab

bool SimDesktop::grab(const Rect& rect, RgbaImage& out) {
    std::lock_guard guard(mutex_);
    ++grabs_;
    if (grabFails_ || rect.isNull()) return false;
    const Rect r = rect.integral();
    if (!(r.width >= 1 && r.height >= 1)) return false;

    double scale = 0;
    for (const Screen& s : screens_)
        if (!r.intersected(globalRectLocked(s)).isNull()) scale = std::max(scale, s.scale);
    if (scale == 0) return false;

    const int w = static_cast<int>(std::lround(r.width * scale));
    const int h = static_cast<int>(std::lround(r.height * scale));
    out.width = w;
    out.height = h;
    out.pixels.resize(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < out.pixels.size(); i += 4) {
        out.pixels[i] = out.pixels[i + 1] = out.pixels[i + 2] = 0;
        out.pixels[i + 3] = 255;
    }

    std::vector<int> sourceColumn;
    for (const Screen& s : screens_) {
        const Rect g = globalRectLocked(s);
        const Rect i = r.intersected(g);
        if (i.isNull()) continue;
        const auto [x0, x1] = pixelSpan(i.x - r.x, i.maxX() - r.x, scale, w);
        const auto [y0, y1] = pixelSpan(i.y - r.y, i.maxY() - r.y, scale, h);
        // Each output pixel takes the screen pixel under its centre (exact for scales 1 and 2).
        sourceColumn.assign(static_cast<size_t>(x1 - x0), -1);
        for (int x = x0; x < x1; ++x) {
            const double gx = r.x + (x + 0.5) / scale;
            if (gx < g.x || gx >= g.maxX()) continue;
            sourceColumn[x - x0] = std::clamp(static_cast<int>(std::floor((gx - g.x) * s.scale)), 0, s.image.width - 1);
        }
        for (int y = y0; y < y1; ++y) {
            const double gy = r.y + (y + 0.5) / scale;
            if (gy < g.y || gy >= g.maxY()) continue;
            const int sy = std::clamp(static_cast<int>(std::floor((gy - g.y) * s.scale)), 0, s.image.height - 1);
            uint8_t* row = out.pixels.data() + static_cast<size_t>(y) * w * 4;
            for (int x = x0; x < x1; ++x) {
                const int sx = sourceColumn[x - x0];
                if (sx < 0) continue;
                const uint8_t* from = s.image.pixel(sx, sy);
                std::copy(from, from + 4, row + static_cast<size_t>(x) * 4);
            }
        }
    }
    return true;
}

// ---------------------------------------------------------------- Permissions

bool SimDesktop::inputTrusted(Prompt prompt) {
    std::lock_guard guard(mutex_);
    if (prompt == Prompt::yes) ++inputPrompts_;
    return inputTrusted_;
}

bool SimDesktop::screenCapturePreflight() {
    std::lock_guard guard(mutex_);
    return screenCaptureAllowed_;
}

bool SimDesktop::screenCaptureRequest() {
    std::lock_guard guard(mutex_);
    ++screenRequests_;
    if (requestAnswer_) screenCaptureAllowed_ = *requestAnswer_;
    return screenCaptureAllowed_;
}

}  // namespace tapforge::platform::sim
