// A simulated desktop for unit tests and dry runs: screens are RGBA images with a frame and a
// scale, posted events are recorded with the virtual time of posting, the tap and the key-down
// monitor deliver what the test injects, and the permissions are what the test sets.
//
// Build it in code, then hand `desktop()` to the component under test:
//     auto sim = SimDesktop::create();
//     sim->addScreen({0, 0, 1920, 1080}, 1.0, {255, 255, 255, 255});
//     runner.use(sim->desktop());
// Frames are given in the window-system convention (origin bottom-left of the primary display,
// y up), as a real backend reports them; everything else is in global points (top-left, y down).
// All members are thread-safe; tap and monitor handlers run on the thread that injects.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Desktop.h"
#include "platform/sim/SimClock.h"

namespace tapforge::platform::sim {

using Rgba = std::array<uint8_t, 4>;

// One event handed to the sink, in posting order.
struct PostedEvent {
    enum class Kind { button, move, scroll, key };

    Kind kind = Kind::move;
    int64_t timeMicros = 0;                  // clock time when posted
    Press press = Press::down;               // button and key events
    PointerButton button = PointerButton::left;
    Point location;                          // button, move and scroll events
    EventFlags flags = 0;                    // button and key events
    int64_t clickState = 0;                  // button events
    int32_t scrollLines = 0;                 // scroll events, positive up
    uint16_t keyCode = 0;                    // key events

    int64_t timeMs() const { return timeMicros / 1000; }
    friend bool operator==(const PostedEvent&, const PostedEvent&) = default;
};

// One line per event, e.g. "20ms button left up (10,20) flags 0x20000 click 1",
// "8ms key down 56 flags 0x20000", "0ms move (3.5,4)", "15ms scroll 3 (10,20)".
std::string describe(const PostedEvent& event);
std::string describe(const std::vector<PostedEvent>& events);   // lines joined with '\n'

// The tap: delivers what inject() is given while started and enabled.
class SimEventTap final : public EventTap {
public:
    bool start(Handler handler) override;
    void stop() override;
    void reenable() override;
    bool isRunning() const override;

    // Delivers `event` to the handler (on this thread) when running and not disabled.
    // Answers whether it was delivered.
    bool inject(const TapEvent& event);
    // Switches delivery off and sends the notification of `reason`
    // (tapDisabledByTimeout or tapDisabledByUserInput), as the system does.
    void disable(TapEventType reason);
    void setCreationFails(bool fails);
    int reenableCount() const;

private:
    mutable std::mutex mutex_;
    Handler handler_;
    bool running_ = false;
    bool disabled_ = false;
    bool creationFails_ = false;
    int reenables_ = 0;
};

class SimKeyDownMonitor final : public KeyDownMonitor {
public:
    bool start(Handler handler) override;
    void stop() override;

    bool inject(const KeyDown& key);   // false when not started
    void setInstallFails(bool fails);
    bool isRunning() const;

private:
    mutable std::mutex mutex_;
    Handler handler_;
    bool running_ = false;
    bool installFails_ = false;
};

class SimDesktop final : public EventSink,
                         public Screens,
                         public ScreenGrab,
                         public Permissions,
                         public std::enable_shared_from_this<SimDesktop> {
public:
    struct Screen {
        Rect frame;          // window-system convention, points
        double scale = 1.0;
        RgbaImage image;     // frame size × scale pixels
    };

    // A desktop with no screen, the pointer at (0, 0), every permission granted.
    static std::shared_ptr<SimDesktop> create(std::shared_ptr<SimClock> clock = std::make_shared<SimClock>());
    // The dry-run desktop: one display of the image's size at scale 1, on a dry-run clock,
    // keeping no posted events (a dry run may loop for hours; a caller that wants them
    // passes them on through its own event sink).
    static std::shared_ptr<SimDesktop> createWithScreenshot(RgbaImage image);

    explicit SimDesktop(std::shared_ptr<SimClock> clock);

    // The services, sharing ownership of this object.
    Desktop desktop();
    SimClock& clock() { return *clock_; }
    SimEventTap& tap() { return *tap_; }
    SimKeyDownMonitor& keyMonitor() { return *keyMonitor_; }

    // --- screens (test side) ---
    // Adds a screen filled with `fill`; returns its index. Throws std::invalid_argument for an
    // empty frame or a scale below 1.
    size_t addScreen(const Rect& frame, double scale = 1.0, Rgba fill = {0, 0, 0, 255});
    // Adds a screen showing `image`, which must be frame size × scale pixels (else invalid_argument).
    size_t addScreen(const Rect& frame, double scale, RgbaImage image);
    void setScreenImage(size_t index, RgbaImage image);
    Screen screen(size_t index) const;
    void removeAllScreens();
    // Paints a rectangle in global points on every screen it covers.
    void fill(const Rect& globalRect, Rgba colour);
    // Draws `image` with its top-left pixel at global point `topLeft`, one image pixel per
    // backing pixel of the screens (so on a scale-2 screen it covers half as many points).
    void draw(const RgbaImage& image, Point topLeft);

    // --- pointer and posting (test side) ---
    void setPointer(Point at);
    Point pointer() const;
    void setPointerReadable(bool readable);
    // While set, every post* call answers false and records nothing.
    void setPostingFails(bool fails);
    std::vector<PostedEvent> postedEvents() const;
    // Whether posted events are kept for postedEvents() (the default); either way they move
    // the pointer and the post answers true.
    void setKeepsPostedEvents(bool keeps);
    void clearPostedEvents();

    // --- permissions (test side) ---
    void setInputTrusted(bool trusted);
    void setScreenCaptureAllowed(bool allowed);
    // What screenCaptureRequest() grants (the user's answer); default: nothing changes.
    void setScreenCaptureRequestAnswer(std::optional<bool> grants);
    int inputPromptCount() const;
    int screenCaptureRequestCount() const;
    // While set, grab() answers false.
    void setGrabFails(bool fails);
    int grabCount() const;

    // --- EventSink ---
    bool postButton(PointerButton button, Press press, Point at, EventFlags flags, int64_t clickState) override;
    bool postMove(Point at) override;
    bool postScroll(int32_t lines, Point at) override;
    bool postKey(uint16_t keyCode, Press press, EventFlags flags) override;
    std::optional<Point> pointerLocation() override;

    // --- Screens ---
    std::vector<ScreenInfo> screens() const override;
    Rect mainDisplayBounds() const override;
    double mainScreenScale() const override;

    // --- ScreenGrab: the best scale among the screens the rectangle touches; black elsewhere.
    // False when the rectangle is under 1 × 1 point or touches no screen.
    bool grab(const Rect& rect, RgbaImage& out) override;

    // --- Permissions ---
    bool inputTrusted(Prompt prompt) override;
    bool screenCapturePreflight() override;
    bool screenCaptureRequest() override;

private:
    bool record(PostedEvent event);
    double primaryHeightLocked() const;
    Rect globalRectLocked(const Screen& screen) const;
    const Screen* primaryLocked() const;

    std::shared_ptr<SimClock> clock_;
    std::shared_ptr<SimEventTap> tap_ = std::make_shared<SimEventTap>();
    std::shared_ptr<SimKeyDownMonitor> keyMonitor_ = std::make_shared<SimKeyDownMonitor>();

    mutable std::mutex mutex_;
    std::vector<Screen> screens_;
    Point pointer_;
    bool pointerReadable_ = true;
    bool postingFails_ = false;
    std::vector<PostedEvent> posted_;
    bool keepsPosted_ = true;
    bool inputTrusted_ = true;
    bool screenCaptureAllowed_ = true;
    std::optional<bool> requestAnswer_;
    int inputPrompts_ = 0;
    int screenRequests_ = 0;
    bool grabFails_ = false;
    int grabs_ = 0;
};

}  // namespace tapforge::platform::sim
