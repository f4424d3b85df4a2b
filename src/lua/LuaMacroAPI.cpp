#include "lua/LuaMacroAPI.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "input/keymap/KeyMap.h"
#include "lua/LuaGuard.h"
#include "lua/LuaRuntime.h"
#include "lua/LuaShim.h"
#include "lua/LuaText.h"
#include "vision/ColorMatcher.h"
#include "vision/ImageMatcher.h"
#include "vision/TemplateCache.h"

namespace tapforge {

namespace {

using platform::Point;
using platform::Rect;

constexpr int64_t kDefaultTolerance = 10;
constexpr double kDefaultSimilarity = 0.9;
constexpr int64_t kSleepSliceMs = 20;
constexpr int64_t kMinPollMs = 20;
// Longer waits are cut to this (about 290 million years), so deadlines cannot overflow.
constexpr int64_t kMaxWaitMs = std::numeric_limits<int64_t>::max() / 4;

constexpr const char* kPrelude = R"lua(
function log(...)
  local n = select("#", ...)
  local parts = {}
  for i = 1, n do parts[i] = tostring((select(i, ...))) end
  _tfg.log(table.concat(parts, "\t"))
end
function printf(fmt, ...)
  _tfg.log(string.format(fmt, ...))
end
function sleep(ms)
  _tfg.sleep(ms or 0)
end
function hex(r, g, b)
  return color.hex(r, g, b)
end
script["goto"] = script.jump
)lua";

constexpr const char* kSamplingFailed = "读取屏幕颜色失败，请确认已授权「屏幕录制」";
constexpr const char* kCaptureFailed = "截屏失败，请确认已授权「屏幕录制」";

// Numbers that become integers are truncated toward zero; values beyond 64 bits saturate and
// NaN counts as 0, so no conversion is undefined.
int64_t truncated(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (value <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

int64_t clampWait(int64_t ms) { return std::clamp<int64_t>(ms, std::numeric_limits<int64_t>::min() / 4, kMaxWaitMs); }

bool channelWithin(int64_t actual, int64_t expected, int64_t tolerance) {
    // Components are not clamped, so compute the difference without overflow.
    const double difference = std::fabs(static_cast<double>(actual) - static_cast<double>(expected));
    return difference <= static_cast<double>(tolerance);
}

struct KeyInfo {
    uint16_t keyCode = 0;
    ModifierSet modifiers;
};

std::optional<KeyInfo> keyInfo(const LuaRuntime& lua, int32_t index) {
    if (auto text = lua.argumentString(index)) {
        if (text->find('+') != std::string::npos) {
            auto shortcut = KeyMap::parseShortcut(*text);
            if (!shortcut) return std::nullopt;
            return KeyInfo{shortcut->keyCode, shortcut->modifiers};
        }
        auto code = KeyMap::code(*text);
        if (!code) return std::nullopt;
        return KeyInfo{*code, {}};
    }
    if (auto number = lua.argumentDouble(index)) {
        const int64_t code = truncated(*number);
        // Key code 0 (A) is reachable by name only; codes are 16 bits.
        if (code >= 1 && code <= 0xFFFF) return KeyInfo{static_cast<uint16_t>(code), {}};
    }
    return std::nullopt;
}

}  // namespace

struct LuaMacroAPI::ExpectedColor {
    int64_t red = 0;
    int64_t green = 0;
    int64_t blue = 0;
    int64_t tolerance = kDefaultTolerance;
    int32_t nextIndex = 0;
};

struct LuaMacroAPI::MatchOutcome {
    std::optional<vision::ImageMatchResult> result;
    std::string failure;
};

LuaMacroAPI::LuaMacroAPI(Context context)
    : context_(std::move(context)), capture_(context_.screens, context_.grab) {}

MouseButton LuaMacroAPI::parseButton(std::string_view word) {
    const std::string lower = lowercased(word);
    if (lower == "right" || lower == "r" || lower == "右键") return MouseButton::right;
    if (lower == "center" || lower == "middle" || lower == "m" || lower == "中键") return MouseButton::center;
    return MouseButton::left;
}

std::optional<RgbColor> LuaMacroAPI::parseHex(std::string_view text) {
    std::string s = lowercased(trimmedWhitespace(text));
    if (s.starts_with("#")) s.erase(0, 1);
    if (s.starts_with("0x")) s.erase(0, 2);
    if (s.size() != 6 && s.size() != 3) return std::nullopt;
    uint32_t value = 0;
    for (char c : s) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else return std::nullopt;
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    if (s.size() == 6) return RgbColor{(value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF};
    return RgbColor{((value >> 8) & 0xF) * 17, ((value >> 4) & 0xF) * 17, (value & 0xF) * 17};
}

std::string LuaMacroAPI::hexText(int64_t red, int64_t green, int64_t blue) {
    const auto c = [](int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, 0, 255)); };
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "#%02X%02X%02X", c(red), c(green), c(blue));
    return buffer;
}

void LuaMacroAPI::install(LuaRuntime& runtime) {
    using Fn = std::pair<std::string, LuaHostFunction>;
    const auto bind = [this](int32_t (LuaMacroAPI::*member)(LuaRuntime&)) {
        return [this, member](LuaRuntime& lua) { return (this->*member)(lua); };
    };
    runtime.registerTable("mouse", {
        Fn{"pos", bind(&LuaMacroAPI::mousePos)},
        Fn{"move", bind(&LuaMacroAPI::mouseMove)},
        Fn{"click", bind(&LuaMacroAPI::mouseClick)},
        Fn{"doubleClick", bind(&LuaMacroAPI::mouseDoubleClick)},
        Fn{"rightClick", bind(&LuaMacroAPI::mouseRightClick)},
        Fn{"down", [this](LuaRuntime& lua) { return mouseDownUp(lua, ClickKind::down); }},
        Fn{"up", [this](LuaRuntime& lua) { return mouseDownUp(lua, ClickKind::up); }},
        Fn{"drag", bind(&LuaMacroAPI::mouseDrag)},
        Fn{"scroll", bind(&LuaMacroAPI::mouseScroll)},
    });
    runtime.registerTable("keyboard", {
        Fn{"press", [this](LuaRuntime& lua) { return keyboardKey(lua, KeyEventKind::press, "keyboard.press(key) 无法识别的按键"); }},
        Fn{"down", [this](LuaRuntime& lua) { return keyboardKey(lua, KeyEventKind::down, "keyboard.down(key) 无法识别的按键"); }},
        Fn{"up", [this](LuaRuntime& lua) { return keyboardKey(lua, KeyEventKind::up, "keyboard.up(key) 无法识别的按键"); }},
        Fn{"hotkey", bind(&LuaMacroAPI::keyboardHotkey)},
        Fn{"type", bind(&LuaMacroAPI::keyboardType)},
        Fn{"keycode", bind(&LuaMacroAPI::keyboardKeycode)},
    });
    runtime.registerTable("color", {
        Fn{"get", [this](LuaRuntime& lua) { return colorGet(lua, "color.get(x, y) 需要坐标"); }},
        Fn{"hex", bind(&LuaMacroAPI::colorHex)},
        Fn{"match", bind(&LuaMacroAPI::colorMatch)},
        Fn{"matchAll", bind(&LuaMacroAPI::colorMatchAll)},
        Fn{"wait", bind(&LuaMacroAPI::colorWait)},
        Fn{"waitAll", bind(&LuaMacroAPI::colorWaitAll)},
    });
    runtime.registerTable("image", {
        Fn{"list", bind(&LuaMacroAPI::imageList)},
        Fn{"find", bind(&LuaMacroAPI::imageFind)},
        Fn{"findIn", bind(&LuaMacroAPI::imageFindIn)},
        Fn{"exists", bind(&LuaMacroAPI::imageExists)},
        Fn{"wait", bind(&LuaMacroAPI::imageWait)},
    });
    runtime.registerTable("screen", {
        Fn{"size", bind(&LuaMacroAPI::screenSize)},
        Fn{"scale", bind(&LuaMacroAPI::screenScale)},
        Fn{"color", [this](LuaRuntime& lua) { return colorGet(lua, "screen.color(x, y) 需要坐标"); }},
    });
    runtime.registerTable("script", {
        Fn{"jump", bind(&LuaMacroAPI::scriptJump)},
        Fn{"stop", bind(&LuaMacroAPI::scriptStop)},
        Fn{"log", bind(&LuaMacroAPI::scriptLog)},
    });
    runtime.registerTable("_tfg", {
        Fn{"log", bind(&LuaMacroAPI::scriptLog)},
        Fn{"sleep", bind(&LuaMacroAPI::sleep)},
        Fn{"exit", bind(&LuaMacroAPI::osExit)},
    });
    (void)runtime.runString(kPrelude, "=tfg_prelude");
    (void)runtime.runString("if type(os) == 'table' then os.exit = _tfg.exit end", "=tfg_os_exit");
}

// ---------------------------------------------------------------- shared pieces

Point LuaMacroAPI::pointOr(LuaRuntime& lua, int32_t index) const {
    const auto x = lua.argumentDouble(index), y = lua.argumentDouble(index + 1);
    if (x && y) return Point{*x, *y};
    return context_.player->position();
}

std::optional<LuaMacroAPI::ExpectedColor> LuaMacroAPI::expectedColor(LuaRuntime& lua, int32_t i) const {
    ExpectedColor color;
    if (auto text = lua.argumentString(i)) {
        auto rgb = parseHex(*text);
        if (!rgb) return std::nullopt;
        color.red = rgb->red;
        color.green = rgb->green;
        color.blue = rgb->blue;
        if (auto tolerance = lua.argumentDouble(i + 1)) color.tolerance = truncated(*tolerance);
        color.nextIndex = i + 2;
        return color;
    }
    const auto r = lua.argumentDouble(i), g = lua.argumentDouble(i + 1), b = lua.argumentDouble(i + 2);
    if (!r || !g || !b) return std::nullopt;
    color.red = truncated(*r);
    color.green = truncated(*g);
    color.blue = truncated(*b);
    if (auto tolerance = lua.argumentDouble(i + 3)) color.tolerance = truncated(*tolerance);
    color.nextIndex = i + 4;
    return color;
}

std::vector<ColorPoint> LuaMacroAPI::colorPoints(LuaRuntime& lua, int32_t tableIndex) const {
    std::vector<ColorPoint> points;
    lua.forEachTableElement(tableIndex, [&](const LuaTableView& element) {
        const auto x = element.fieldNumber("x"), y = element.fieldNumber("y");
        if (!x || !y) return;
        ColorPoint point;
        point.x = *x;
        point.y = *y;
        point.enabled = true;
        point.tolerance = kDefaultTolerance;
        if (auto tolerance = element.fieldNumber("tolerance")) point.tolerance = truncated(*tolerance);
        std::optional<RgbColor> rgb;
        if (auto text = element.fieldString("color")) rgb = parseHex(*text);
        if (!rgb) {
            // A numeric colour is the red component, with green and blue from g and b.
            const auto red = element.fieldNumber("color");
            if (!red) return;
            rgb = RgbColor{truncated(*red), truncated(element.fieldNumber("g").value_or(0)),
                           truncated(element.fieldNumber("b").value_or(0))};
        }
        point.red = rgb->red;
        point.green = rgb->green;
        point.blue = rgb->blue;
        points.push_back(point);
    });
    return points;
}

std::optional<vision::Rgb> LuaMacroAPI::samplePoint(Point at) {
    auto snapshot = capture_.grab(Rect{at.x - 1, at.y - 1, 3, 3});
    if (!snapshot) return std::nullopt;
    auto buffer = vision::ScreenCapture::pixelBuffer(*snapshot->image);
    if (!buffer) return std::nullopt;
    return buffer->averageRGB(buffer->width / 2, buffer->height / 2, 1);
}

bool LuaMacroAPI::checkPoints(const std::vector<ColorPoint>& points, MatchMode mode, std::string* description) {
    if (description) description->clear();
    if (std::none_of(points.begin(), points.end(), [](const ColorPoint& p) { return p.enabled; })) return false;
    auto snapshot = capture_.capture(points, 12.0);
    if (!snapshot) return false;
    const vision::ColorCheckResult result = vision::ColorMatcher::check(points, mode, *snapshot);
    if (description) *description = result.description();
    return result.matched;
}

LuaMacroAPI::MatchOutcome LuaMacroAPI::match(const std::string& name, double threshold, std::optional<Rect> region) {
    const ImageTemplate* templ = nullptr;
    if (auto exact = context_.templates.find(name); exact != context_.templates.end()) {
        templ = &exact->second;
    } else {
        // Of several names equal when lower-cased, the first in name order is taken.
        const std::string wanted = lowercased(name);
        for (const auto& [candidate, value] : context_.templates) {
            if (lowercased(candidate) == wanted) {
                templ = &value;
                break;
            }
        }
    }
    if (!templ) return {std::nullopt, "模板库中没有名为「" + name + "」的图片"};
    vision::SharedImage image = vision::TemplateCache::shared().image(*templ);
    if (!image) return {std::nullopt, "模板「" + name + "」解码失败"};
    auto snapshot = capture_.grabMainDisplay();
    if (!snapshot) return {std::nullopt, kCaptureFailed};
    std::optional<Rect> searchPixels;
    if (region) {
        const double s = snapshot->scale;
        searchPixels = Rect{(region->x - snapshot->origin.x) * s, (region->y - snapshot->origin.y) * s, region->width * s,
                            region->height * s};
    }
    return {vision::ImageMatcher::find(*image, {templ->widthPoints, templ->heightPoints}, *snapshot, searchPixels, threshold,
                                       &luaInterruptFlag()),
            {}};
}

bool LuaMacroAPI::waitUntil(int64_t timeoutMs, int64_t pollMs, const std::function<bool()>& condition) {
    platform::Clock& clock = *context_.clock;
    const int64_t end = clock.nowMs() + std::max<int64_t>(clampWait(timeoutMs), 0);
    if (tfg_interrupt_requested()) return false;
    const int64_t poll = std::max(clampWait(pollMs), kMinPollMs);
    while (true) {
        if (condition()) return true;
        if (timeoutMs <= 0) return false;
        if (clock.nowMs() >= end) return false;
        if (tfg_interrupt_requested() || tfg_deadline_reached()) return false;
        for (int64_t remaining = poll; remaining > 0;) {
            const int64_t slice = std::min(remaining, kSleepSliceMs);
            if (!waitUnlessLuaInterrupted(clock, slice * 1000)) return false;
            remaining -= slice;
            if (remaining > 0 && tfg_deadline_reached()) return false;
        }
    }
}

// ---------------------------------------------------------------- mouse

void LuaMacroAPI::guardedMove(LuaRuntime& lua, const std::function<bool(InputPlayer&)>& move) {
    InputPlayer& player = *context_.player;
    bool done;
    {
        // The step's time limit cuts a long move short as a stop does; the player's own check
        // (the runner's stop) still applies.
        struct Restore {
            InputPlayer& player;
            std::function<bool()> outer;
            ~Restore() { player.shouldStop = std::move(outer); }
        } restore{player, player.shouldStop};
        player.shouldStop = [&outer = restore.outer] {
            return tfg_interrupt_requested() || tfg_deadline_reached() || (outer && outer());
        };
        done = move(player);
    }
    // A move cut short is not done: the script ends here rather than act on from a wrong place.
    if (!done) lua.raiseError(tfg_deadline_reached() ? kTfgTimeoutMessage : kTfgInterruptedMessage);
}

int32_t LuaMacroAPI::mousePos(LuaRuntime& lua) {
    const Point p = context_.player->position();
    lua.pushNumber(p.x);
    lua.pushNumber(p.y);
    return 2;
}

int32_t LuaMacroAPI::mouseMove(LuaRuntime& lua) {
    const auto x = lua.argumentDouble(1), y = lua.argumentDouble(2);
    if (!x || !y) lua.raiseError("mouse.move(x, y[, durationMs]) 需要坐标");
    const int64_t duration = truncated(lua.argumentDouble(3).value_or(0));
    guardedMove(lua, [&](InputPlayer& player) { return player.move(Point{*x, *y}, duration); });
    return 0;
}

int32_t LuaMacroAPI::mouseClick(LuaRuntime& lua) {
    Point at = context_.player->position();
    MouseButton button = MouseButton::left;
    int32_t next = 1;
    if (lua.argumentDouble(1)) {
        if (lua.argumentDouble(2)) at = Point{*lua.argumentDouble(1), *lua.argumentDouble(2)};
        next = 3;
    } else if (auto word = lua.argumentString(1)) {
        button = parseButton(*word);
        next = 2;
    }
    if (auto word = lua.argumentString(next)) {
        button = parseButton(*word);
        next += 1;
    }
    const int64_t count = std::clamp<int64_t>(lua.argumentInteger(next).value_or(1), 1, 5);
    if (count == 1) {
        context_.player->click(button, ClickKind::click, at, {});
        return 0;
    }
    context_.player->click(button, ClickKind::doubleClick, at, {});
    for (int64_t i = 2; i < count; ++i) context_.player->click(button, ClickKind::click, at, {});
    return 0;
}

int32_t LuaMacroAPI::mouseDoubleClick(LuaRuntime& lua) {
    context_.player->click(MouseButton::left, ClickKind::doubleClick, pointOr(lua, 1), {});
    return 0;
}

int32_t LuaMacroAPI::mouseRightClick(LuaRuntime& lua) {
    context_.player->click(MouseButton::right, ClickKind::click, pointOr(lua, 1), {});
    return 0;
}

int32_t LuaMacroAPI::mouseDownUp(LuaRuntime& lua, ClickKind kind) {
    Point at = context_.player->position();
    MouseButton button = MouseButton::left;
    if (lua.argumentDouble(1)) {
        at = pointOr(lua, 1);
        if (auto word = lua.argumentString(3)) button = parseButton(*word);
    } else if (auto word = lua.argumentString(1)) {
        button = parseButton(*word);
        if (auto second = lua.argumentString(2)) button = parseButton(*second);
    }
    context_.player->click(button, kind, at, {});
    return 0;
}

int32_t LuaMacroAPI::mouseDrag(LuaRuntime& lua) {
    const auto x1 = lua.argumentDouble(1), y1 = lua.argumentDouble(2), x2 = lua.argumentDouble(3), y2 = lua.argumentDouble(4);
    if (!x1 || !y1 || !x2 || !y2) lua.raiseError("mouse.drag(x1, y1, x2, y2[, durationMs]) 需要四个坐标");
    const int64_t duration = truncated(lua.argumentDouble(5).value_or(300));
    guardedMove(lua, [&](InputPlayer& player) { return player.drag(Point{*x1, *y1}, Point{*x2, *y2}, duration); });
    return 0;
}

int32_t LuaMacroAPI::mouseScroll(LuaRuntime& lua) {
    const auto amount = lua.argumentInteger(1);
    if (!amount) lua.raiseError("mouse.scroll(amount[, x, y]) 需要滚动量");
    context_.player->scroll(*amount, pointOr(lua, 2));
    return 0;
}

// ---------------------------------------------------------------- keyboard

int32_t LuaMacroAPI::keyboardKey(LuaRuntime& lua, KeyEventKind kind, const char* error) {
    const auto key = keyInfo(lua, 1);
    if (!key) lua.raiseError(error);
    context_.player->key(key->keyCode, kind, key->modifiers);
    return 0;
}

int32_t LuaMacroAPI::keyboardHotkey(LuaRuntime& lua) {
    const auto text = lua.argumentString(1);
    if (!text) lua.raiseError("keyboard.hotkey(\"cmd+shift+s\") 需要组合键字符串");
    const auto shortcut = KeyMap::parseShortcut(*text);
    if (!shortcut) lua.raiseError("无法解析组合键：" + *text);
    context_.player->key(shortcut->keyCode, KeyEventKind::press, shortcut->modifiers);
    return 0;
}

int32_t LuaMacroAPI::keyboardType(LuaRuntime& lua) {
    if (auto text = lua.argumentString(1)) context_.player->typeText(*text);
    return 0;
}

int32_t LuaMacroAPI::keyboardKeycode(LuaRuntime& lua) {
    std::optional<uint16_t> code;
    if (auto name = lua.argumentString(1)) code = KeyMap::code(*name);
    if (code) lua.pushInteger(*code);
    else lua.pushNil();
    return 1;
}

// ---------------------------------------------------------------- color

int32_t LuaMacroAPI::colorGet(LuaRuntime& lua, const char* error) {
    const auto x = lua.argumentDouble(1), y = lua.argumentDouble(2);
    if (!x || !y) lua.raiseError(error);
    const auto rgb = samplePoint(Point{*x, *y});
    if (!rgb) lua.raiseError(kSamplingFailed);
    lua.pushInteger(rgb->red);
    lua.pushInteger(rgb->green);
    lua.pushInteger(rgb->blue);
    lua.pushString(hexText(rgb->red, rgb->green, rgb->blue));
    return 4;
}

int32_t LuaMacroAPI::colorHex(LuaRuntime& lua) {
    const auto r = lua.argumentDouble(1), g = lua.argumentDouble(2), b = lua.argumentDouble(3);
    if (!r || !g || !b) lua.raiseError("color.hex(r, g, b) 需要三个分量");
    lua.pushString(hexText(truncated(*r), truncated(*g), truncated(*b)));
    return 1;
}

int32_t LuaMacroAPI::colorMatch(LuaRuntime& lua) {
    const auto x = lua.argumentDouble(1), y = lua.argumentDouble(2);
    if (!x || !y) lua.raiseError("color.match(x, y, color[, tolerance]) 需要坐标");
    const auto expected = expectedColor(lua, 3);
    if (!expected) lua.raiseError("color.match 的颜色参数应为 \"#RRGGBB\" 或 r, g, b");
    const auto actual = samplePoint(Point{*x, *y});
    if (!actual) lua.raiseError(kSamplingFailed);
    lua.pushBool(channelWithin(actual->red, expected->red, expected->tolerance) &&
                 channelWithin(actual->green, expected->green, expected->tolerance) &&
                 channelWithin(actual->blue, expected->blue, expected->tolerance));
    return 1;
}

namespace {

MatchMode modeArgument(const LuaRuntime& lua, int32_t index) {
    const auto text = lua.argumentString(index);
    return text && lowercased(*text) == "any" ? MatchMode::any : MatchMode::all;
}

}  // namespace

int32_t LuaMacroAPI::colorMatchAll(LuaRuntime& lua) {
    if (!lua.argumentIsTable(1)) lua.raiseError("color.matchAll({{x=,y=,color=}, ...}, \"all\"|\"any\") 需要颜色点表");
    const std::vector<ColorPoint> points = colorPoints(lua, 1);
    if (points.empty()) lua.raiseError("color.matchAll 的颜色点表为空");
    std::string description;
    const bool matched = checkPoints(points, modeArgument(lua, 2), &description);
    lua.pushBool(matched);
    lua.pushString(description);
    return 2;
}

int32_t LuaMacroAPI::colorWait(LuaRuntime& lua) {
    const auto x = lua.argumentDouble(1), y = lua.argumentDouble(2);
    if (!x || !y) lua.raiseError("color.wait(x, y, color[, tolerance][, timeoutMs][, pollMs]) 需要坐标");
    const auto expected = expectedColor(lua, 3);
    if (!expected) lua.raiseError("color.wait 的颜色参数应为 \"#RRGGBB\" 或 r, g, b");
    const int64_t timeout = truncated(lua.argumentDouble(expected->nextIndex).value_or(5000));
    const int64_t poll = truncated(lua.argumentDouble(expected->nextIndex + 1).value_or(200));
    ColorPoint point;
    point.x = *x;
    point.y = *y;
    point.red = expected->red;
    point.green = expected->green;
    point.blue = expected->blue;
    point.tolerance = expected->tolerance;
    const std::vector<ColorPoint> points{point};
    lua.pushBool(waitUntil(timeout, poll, [&] { return checkPoints(points, MatchMode::all, nullptr); }));
    return 1;
}

int32_t LuaMacroAPI::colorWaitAll(LuaRuntime& lua) {
    if (!lua.argumentIsTable(1)) lua.raiseError("color.waitAll({{x=,y=,color=}, ...}[, mode][, timeoutMs][, pollMs])");
    const std::vector<ColorPoint> points = colorPoints(lua, 1);
    if (points.empty()) lua.raiseError("color.waitAll 的颜色点表为空");
    // Without a mode text, the timeout and poll interval move up one place.
    const bool hasMode = lua.argumentType(2) == LuaType::string;
    const MatchMode mode = hasMode ? modeArgument(lua, 2) : MatchMode::all;
    const int32_t next = hasMode ? 3 : 2;
    const int64_t timeout = truncated(lua.argumentDouble(next).value_or(5000));
    const int64_t poll = truncated(lua.argumentDouble(next + 1).value_or(200));
    lua.pushBool(waitUntil(timeout, poll, [&] { return checkPoints(points, mode, nullptr); }));
    return 1;
}

// ---------------------------------------------------------------- image

int32_t LuaMacroAPI::imageList(LuaRuntime& lua) {
    std::vector<std::string> names;
    for (const auto& entry : context_.templates) names.push_back(entry.first);
    std::sort(names.begin(), names.end());
    lua.pushStringArray(names);
    return 1;
}

namespace {

int32_t pushMatch(LuaRuntime& lua, const vision::ImageMatchResult& result) {
    if (!result.matched || !result.center) {
        lua.pushNil();
        return 1;
    }
    lua.pushNumber(result.center->x);
    lua.pushNumber(result.center->y);
    lua.pushNumber(result.score);
    return 3;
}

}  // namespace

int32_t LuaMacroAPI::imageFind(LuaRuntime& lua) {
    const auto name = lua.argumentString(1);
    if (!name) lua.raiseError("image.find(\"模板名\"[, 相似度]) 需要模板名称");
    MatchOutcome outcome = match(*name, lua.argumentDouble(2).value_or(kDefaultSimilarity), std::nullopt);
    if (!outcome.result) lua.raiseError(outcome.failure);
    return pushMatch(lua, *outcome.result);
}

int32_t LuaMacroAPI::imageFindIn(LuaRuntime& lua) {
    const auto name = lua.argumentString(1);
    const auto x = lua.argumentDouble(2), y = lua.argumentDouble(3), w = lua.argumentDouble(4), h = lua.argumentDouble(5);
    if (!name || !x || !y || !w || !h) lua.raiseError("image.findIn(\"模板名\", x, y, w, h[, 相似度]) 参数不足");
    MatchOutcome outcome = match(*name, lua.argumentDouble(6).value_or(kDefaultSimilarity), Rect{*x, *y, *w, *h});
    if (!outcome.result) lua.raiseError(outcome.failure);
    return pushMatch(lua, *outcome.result);
}

int32_t LuaMacroAPI::imageExists(LuaRuntime& lua) {
    const auto name = lua.argumentString(1);
    if (!name) lua.raiseError("image.exists(\"模板名\"[, 相似度]) 需要模板名称");
    MatchOutcome outcome = match(*name, lua.argumentDouble(2).value_or(kDefaultSimilarity), std::nullopt);
    lua.pushBool(outcome.result && outcome.result->matched);
    return 1;
}

int32_t LuaMacroAPI::imageWait(LuaRuntime& lua) {
    const auto name = lua.argumentString(1);
    if (!name) lua.raiseError("image.wait(\"模板名\"[, 相似度][, 超时ms][, 轮询ms])");
    const double similarity = lua.argumentDouble(2).value_or(kDefaultSimilarity);
    const int64_t timeout = truncated(lua.argumentDouble(3).value_or(5000));
    const int64_t poll = truncated(lua.argumentDouble(4).value_or(300));
    vision::ImageMatchResult found;
    const bool matched = waitUntil(timeout, poll, [&] {
        MatchOutcome outcome = match(*name, similarity, std::nullopt);
        if (!outcome.result || !outcome.result->matched) return false;
        found = *outcome.result;
        return true;
    });
    if (!matched) {
        lua.pushNil();
        return 1;
    }
    return pushMatch(lua, found);
}

// ---------------------------------------------------------------- screen, script, _tfg

int32_t LuaMacroAPI::screenSize(LuaRuntime& lua) {
    const Rect bounds = context_.screens->mainDisplayBounds();
    lua.pushNumber(bounds.width);
    lua.pushNumber(bounds.height);
    return 2;
}

int32_t LuaMacroAPI::screenScale(LuaRuntime& lua) {
    lua.pushNumber(context_.screens->screens().empty() ? 2.0 : context_.screens->mainScreenScale());
    return 1;
}

int32_t LuaMacroAPI::scriptJump(LuaRuntime& lua) {
    const auto number = lua.argumentInteger(1);
    if (!number || *number < 1) lua.raiseError("script.jump(步骤序号) 需要从 1 开始的步骤序号");
    jumpStepNumber = *number;
    return 0;
}

int32_t LuaMacroAPI::scriptStop(LuaRuntime&) {
    stopRequested = true;
    return 0;
}

int32_t LuaMacroAPI::osExit(LuaRuntime& lua) {
    exitRequested = true;
    stopRequested = true;
    lua.raiseError("os.exit：脚本按要求停止");
}

int32_t LuaMacroAPI::scriptLog(LuaRuntime& lua) {
    if (context_.log) context_.log(lua.argumentString(1).value_or(std::string()));
    return 0;
}

int32_t LuaMacroAPI::sleep(LuaRuntime& lua) {
    int64_t remaining = clampWait(truncated(lua.argumentDouble(1).value_or(0)));
    if (remaining < 1) return 0;
    while (true) {
        if (tfg_interrupt_requested()) lua.raiseError(kTfgInterruptedMessage);
        if (tfg_deadline_reached()) lua.raiseError(kTfgTimeoutMessage);
        const int64_t slice = std::min(remaining, kSleepSliceMs);
        // A stop ends the slice early; the check above raises it.
        if (!waitUnlessLuaInterrupted(*context_.clock, slice * 1000)) continue;
        remaining -= slice;
        if (remaining <= 0) return 0;
    }
}

}  // namespace tapforge
