// LuaMacroAPI: the library a Lua step's file sees. Global tables mouse, keyboard, color,
// image, screen, script and the internal _tfg, plus the prelude's globals log, printf, sleep,
// hex and the alias script["goto"]. Each function reads its Lua arguments, drives the input
// player or the screen (through vision's capture and matchers) and pushes its results; a
// wrong argument raises a Lua error whose value is exactly the documented Chinese text.
//
// Blocking functions (sleep, the waits) sleep on the context's clock in slices of at most
// 20 ms and watch the guard's interrupt flag and deadline (LuaGuard.h) between slices.
//
// One instance per playback run, used only on the playback worker thread inside Lua calls.
// The runtime it is installed into must be destroyed before it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "input/InputPlayer.h"
#include "model/Enums.h"
#include "model/ImageTemplate.h"
#include "platform/Clock.h"
#include "platform/ScreenGrab.h"
#include "platform/Screens.h"
#include "vision/ScreenCapture.h"

namespace tapforge {

class LuaRuntime;

struct RgbColor {
    int64_t red = 0;
    int64_t green = 0;
    int64_t blue = 0;
    friend bool operator==(const RgbColor&, const RgbColor&) = default;
};

class LuaMacroAPI {
public:
    struct Context {
        InputPlayer* player = nullptr;                  // the runner's player, not owned
        platform::Clock* clock = nullptr;               // paces sleeps and waits, not owned
        std::shared_ptr<platform::Screens> screens;
        std::shared_ptr<platform::ScreenGrab> grab;
        std::map<std::string, ImageTemplate> templates;   // by template name
        std::function<void(const std::string&)> log;      // one run-log line
    };

    explicit LuaMacroAPI(Context context);

    // Registers the seven tables (in the order mouse, keyboard, color, image, screen, script,
    // _tfg) and runs the prelude as "=tfg_prelude"; a prelude failure is ignored.
    void install(LuaRuntime& runtime);

    // Set by script.jump: the 1-based step to continue with. Reset by the runner per step.
    std::optional<int64_t> jumpStepNumber;
    // Set by script.stop: the playback is to stop after this Lua step.
    bool stopRequested = false;
    // Set by os.exit, which ends the Lua file (an error no one should catch) and the playback
    // instead of the process: the application hosts Lua in its own process.
    bool exitRequested = false;

    const Context& context() const { return context_; }

    // "right"/"r"/"右键" → right, "center"/"middle"/"m"/"中键" → center, anything else left
    // (compared lower-cased).
    static MouseButton parseButton(std::string_view word);
    // "#RRGGBB", "RRGGBB", "0xRRGGBB", "#RGB" (each digit doubled), trimmed, any case.
    static std::optional<RgbColor> parseHex(std::string_view text);
    // "#RRGGBB", upper-case, each component clamped to 0…255.
    static std::string hexText(int64_t red, int64_t green, int64_t blue);

private:
    struct ExpectedColor;
    struct MatchOutcome;

    // Table functions.
    int32_t mousePos(LuaRuntime& lua);
    // Runs a move or drag that a stop or the step's time limit cuts short; cut short, it
    // raises the guard's error.
    void guardedMove(LuaRuntime& lua, const std::function<bool(InputPlayer&)>& move);
    int32_t osExit(LuaRuntime& lua);
    int32_t mouseMove(LuaRuntime& lua);
    int32_t mouseClick(LuaRuntime& lua);
    int32_t mouseDoubleClick(LuaRuntime& lua);
    int32_t mouseRightClick(LuaRuntime& lua);
    int32_t mouseDownUp(LuaRuntime& lua, ClickKind kind);
    int32_t mouseDrag(LuaRuntime& lua);
    int32_t mouseScroll(LuaRuntime& lua);
    int32_t keyboardKey(LuaRuntime& lua, KeyEventKind kind, const char* error);
    int32_t keyboardHotkey(LuaRuntime& lua);
    int32_t keyboardType(LuaRuntime& lua);
    int32_t keyboardKeycode(LuaRuntime& lua);
    int32_t colorGet(LuaRuntime& lua, const char* error);
    int32_t colorHex(LuaRuntime& lua);
    int32_t colorMatch(LuaRuntime& lua);
    int32_t colorMatchAll(LuaRuntime& lua);
    int32_t colorWait(LuaRuntime& lua);
    int32_t colorWaitAll(LuaRuntime& lua);
    int32_t imageList(LuaRuntime& lua);
    int32_t imageFind(LuaRuntime& lua);
    int32_t imageFindIn(LuaRuntime& lua);
    int32_t imageExists(LuaRuntime& lua);
    int32_t imageWait(LuaRuntime& lua);
    int32_t screenSize(LuaRuntime& lua);
    int32_t screenScale(LuaRuntime& lua);
    int32_t scriptJump(LuaRuntime& lua);
    int32_t scriptStop(LuaRuntime& lua);
    int32_t scriptLog(LuaRuntime& lua);
    int32_t sleep(LuaRuntime& lua);

    // Shared pieces.
    platform::Point pointOr(LuaRuntime& lua, int32_t index) const;
    std::optional<ExpectedColor> expectedColor(LuaRuntime& lua, int32_t index) const;
    std::vector<ColorPoint> colorPoints(LuaRuntime& lua, int32_t tableIndex) const;
    std::optional<vision::Rgb> samplePoint(platform::Point at);
    bool checkPoints(const std::vector<ColorPoint>& points, MatchMode mode, std::string* description);
    MatchOutcome match(const std::string& name, double threshold, std::optional<platform::Rect> region);
    bool waitUntil(int64_t timeoutMs, int64_t pollMs, const std::function<bool()>& condition);

    Context context_;
    vision::ScreenCapture capture_;
};

}  // namespace tapforge
