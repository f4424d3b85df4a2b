#include "input/InputPlayer.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "input/keymap/KeyMap.h"

namespace tapforge {
namespace {

using platform::EventFlags;
using platform::PointerButton;
using platform::Press;

constexpr int64_t kClickHoldMicros = 20'000;      // between a button's down and up
constexpr int64_t kDoubleClickGapMicros = 60'000; // between the two clicks of a double click
constexpr int64_t kScrollSettleMicros = 15'000;
constexpr int64_t kModifierGapMicros = 8'000;     // after each modifier down or up
constexpr int64_t kKeyHoldMicros = 12'000;
constexpr int64_t kTypeHoldMicros = 8'000;        // typed character: down to up
constexpr int64_t kTypeGapMicros = 8'000;         // typed character: after it
constexpr int64_t kMinMoveIntervalMicros = 4;
// The pacing was designed around a sleep call that takes 32-bit microseconds. Longer per-step
// intervals are capped there (about 71.6 minutes per step), so a move longer than about
// 143 hours ends early instead of overflowing or sleeping for an absurd time.
constexpr int64_t kMaxMoveIntervalMicros = std::numeric_limits<uint32_t>::max();
constexpr int64_t kMaxMoveSteps = 120;
// Longest sleep between two stop checks of a move.
constexpr int64_t kStopCheckMicros = 20'000;
constexpr uint16_t kShiftKeyCode = 56;

PointerButton toPointerButton(MouseButton button) {
    switch (button) {
    case MouseButton::left: return PointerButton::left;
    case MouseButton::right: return PointerButton::right;
    case MouseButton::center: return PointerButton::center;
    }
    return PointerButton::left;
}

// The event flag a held modifier key contributes, so a key released while modifiers are
// still down carries their flags (caps lock has no flag here).
EventFlags modifierFlagOfKey(uint16_t code) {
    switch (code) {
    case 54: case 55: return platform::kFlagCommand;
    case 56: case 60: return platform::kFlagShift;
    case 58: case 61: return platform::kFlagOption;
    case 59: case 62: return platform::kFlagControl;
    case 63: return platform::kFlagFunction;
    default: return 0;
    }
}

// ---- Grapheme clusters --------------------------------------------------------------------
// Typing looks characters up one user-perceived character at a time, so that a letter with a
// combining accent is one (untypable) character rather than a letter plus a stray mark. This
// is an approximation of the Unicode segmentation rules that is exact for everything the
// US-layout table can type: ASCII never joins a cluster except as the LF of CR LF, or as the
// base that following marks attach to.

struct CodePoint {
    char32_t value;
    std::string_view bytes;
};

// Decodes one well-formed UTF-8 sequence at the start of `s`; nothing for an ill-formed
// lead byte (overlong forms, surrogates and values above U+10FFFF are ill-formed).
std::optional<CodePoint> decodeOne(std::string_view s) {
    const auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 < 0x80) return CodePoint{b0, s.substr(0, 1)};
    size_t length = 0;
    char32_t value = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        value = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        value = b0 & 0x0F;
        if (b0 == 0xE0) low = 0xA0;
        if (b0 == 0xED) high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        value = b0 & 0x07;
        if (b0 == 0xF0) low = 0x90;
        if (b0 == 0xF4) high = 0x8F;
    } else {
        return std::nullopt;
    }
    if (s.size() < length) return std::nullopt;
    for (size_t i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        const unsigned char lo = i == 1 ? low : 0x80, hi = i == 1 ? high : 0xBF;
        if (b < lo || b > hi) return std::nullopt;
        value = (value << 6) | (b & 0x3F);
    }
    return CodePoint{value, s.substr(0, length)};
}

bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

constexpr char32_t kZeroWidthJoiner = 0x200D;

// Characters that attach to the one before them.
bool isExtender(char32_t c) {
    return (c >= 0x0300 && c <= 0x036F)      // combining diacritical marks
           || (c >= 0x1AB0 && c <= 0x1AFF)   // … extended
           || (c >= 0x1DC0 && c <= 0x1DFF)   // … supplement
           || (c >= 0x20D0 && c <= 0x20FF)   // … for symbols
           || (c >= 0xFE20 && c <= 0xFE2F)   // combining half marks
           || (c >= 0xFE00 && c <= 0xFE0F)   // variation selectors
           || (c >= 0xE0100 && c <= 0xE01EF) // variation selectors supplement
           || (c >= 0x1F3FB && c <= 0x1F3FF) // emoji skin tones
           || (c >= 0xE0020 && c <= 0xE007F) // emoji tag sequences
           || c == 0x200C || c == kZeroWidthJoiner;
}

// Splits UTF-8 text into clusters, dropping ill-formed bytes, and calls `visit` with each.
template <class Visit>
void forEachCluster(std::string_view text, Visit visit) {
    std::vector<CodePoint> points;
    points.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (auto cp = decodeOne(text.substr(i))) {
            points.push_back(*cp);
            i += cp->bytes.size();
        } else {
            ++i;  // an ill-formed byte is skipped on its own; decoding resumes after it
        }
    }
    std::string cluster;
    for (size_t i = 0; i < points.size();) {
        cluster.assign(points[i].bytes);
        const char32_t base = points[i].value;
        ++i;
        if (base == U'\r') {
            if (i < points.size() && points[i].value == U'\n') cluster += points[i++].bytes;
        } else if (!isControl(base)) {
            while (i < points.size() && isExtender(points[i].value)) {
                const bool joiner = points[i].value == kZeroWidthJoiner;
                cluster += points[i++].bytes;
                // A joiner glues two pictographs together; ASCII after it starts anew.
                if (joiner && base >= 0x80 && i < points.size() && points[i].value >= 0x80 &&
                    !isControl(points[i].value) && !isExtender(points[i].value))
                    cluster += points[i++].bytes;
            }
        }
        visit(std::string_view(cluster));
    }
}

}  // namespace

InputPlayer::InputPlayer(std::shared_ptr<platform::EventSink> sink, std::shared_ptr<platform::Clock> clock)
    : sink_(std::move(sink)), clock_(std::move(clock)), position_(sink_->pointerLocation().value_or(Point{0, 0})) {}

void InputPlayer::noteHeld(Held held, Press press) {
    const auto it = std::find(held_.begin(), held_.end(), held);
    if (press == Press::down) {
        if (it == held_.end()) held_.push_back(held);
    } else if (it != held_.end()) {
        held_.erase(it);
    }
}

bool InputPlayer::postKey(uint16_t keyCode, Press press, EventFlags flags) {
    const bool posted = sink_->postKey(keyCode, press, flags);
    // An event that could not be created changed nothing on the desktop.
    if (posted) noteHeld(Held{Held::Kind::key, keyCode, PointerButton::left}, press);
    return posted;
}

bool InputPlayer::postButton(PointerButton button, Press press, Point at, EventFlags flags, int64_t clickState) {
    const bool posted = sink_->postButton(button, press, at, flags, clickState);
    if (posted) noteHeld(Held{Held::Kind::button, 0, button}, press);
    return posted;
}

void InputPlayer::click(MouseButton mouseButton, ClickKind kind, Point at, ModifierSet modifiers) {
    const EventFlags flags = modifiers.cgFlags();
    const PointerButton button = toPointerButton(mouseButton);
    switch (kind) {
    case ClickKind::click:
    case ClickKind::doubleClick: {
        const int count = kind == ClickKind::doubleClick ? 2 : 1;
        for (int i = 1; i <= count; ++i) {
            postButton(button, Press::down, at, flags, i);
            clock_->sleepMicros(kClickHoldMicros);
            postButton(button, Press::up, at, flags, i);
            if (i < count) clock_->sleepMicros(kDoubleClickGapMicros);
        }
        break;
    }
    case ClickKind::down: postButton(button, Press::down, at, flags, 1); break;
    case ClickKind::up: postButton(button, Press::up, at, flags, 1); break;
    }
    position_ = at;
}

bool InputPlayer::pace(int64_t micros) {
    if (!shouldStop) {
        clock_->sleepMicros(micros);
        return true;
    }
    while (micros > 0) {
        if (shouldStop()) return false;
        const int64_t slice = std::min(micros, kStopCheckMicros);
        clock_->sleepMicros(slice);
        micros -= slice;
    }
    return !shouldStop();
}

bool InputPlayer::move(Point to, int64_t durationMs) {
    if (durationMs < 1) {
        if (sink_->postMove(to)) position_ = to;
        return true;
    }
    const int64_t steps = durationMs > 1935 ? kMaxMoveSteps : std::max<int64_t>(1, durationMs / 16);
    // durationMs × 1000 / steps without overflowing for huge durations.
    const int64_t whole = durationMs / steps, rest = durationMs % steps;
    int64_t interval = whole > kMaxMoveIntervalMicros / 1000 ? kMaxMoveIntervalMicros
                                                              : whole * 1000 + rest * 1000 / steps;
    interval = std::clamp(interval, kMinMoveIntervalMicros, kMaxMoveIntervalMicros);

    const Point start = position_;
    for (int64_t i = 1; i <= steps; ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(steps);
        // The last step is the target itself, free of rounding.
        const Point point = i == steps ? to : Point{start.x + (to.x - start.x) * t, start.y + (to.y - start.y) * t};
        if (sink_->postMove(point)) position_ = point;
        if (!pace(interval)) return false;
    }
    return true;
}

void InputPlayer::scroll(int64_t amount, Point at) {
    if (sink_->postMove(at)) position_ = at;
    // A wheel delta is a signed 32-bit value; larger requests scroll as far as one event can.
    const auto lines = static_cast<int32_t>(std::clamp<int64_t>(amount, std::numeric_limits<int32_t>::min(),
                                                                std::numeric_limits<int32_t>::max()));
    if (!sink_->postScroll(lines, at)) return;
    clock_->sleepMicros(kScrollSettleMicros);
}

void InputPlayer::pressModifiers(const std::vector<std::pair<uint16_t, ModifierSet>>& order) {
    EventFlags running = 0;
    for (const auto& [code, flag] : order) {
        running |= flag.cgFlags();
        postKey(code, Press::down, running);
        clock_->sleepMicros(kModifierGapMicros);
    }
}

void InputPlayer::releaseModifiers(const std::vector<std::pair<uint16_t, ModifierSet>>& order) {
    EventFlags running = 0;
    for (const auto& entry : order) running |= entry.second.cgFlags();
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        running &= ~it->second.cgFlags();
        postKey(it->first, Press::up, running);
        clock_->sleepMicros(kModifierGapMicros);
    }
}

void InputPlayer::key(uint16_t keyCode, KeyEventKind kind, ModifierSet modifiers) {
    if (!sink_->canPostKey(keyCode)) {
        if (onKeyUnavailable) onKeyUnavailable(keyCode);
        return;
    }
    const auto order = modifiers.pressOrder();
    const EventFlags flags = modifiers.cgFlags();
    switch (kind) {
    case KeyEventKind::press:
        pressModifiers(order);
        postKey(keyCode, Press::down, flags);
        clock_->sleepMicros(kKeyHoldMicros);
        postKey(keyCode, Press::up, flags);
        releaseModifiers(order);
        break;
    case KeyEventKind::down:
        pressModifiers(order);
        postKey(keyCode, Press::down, flags);
        break;
    case KeyEventKind::up:
        postKey(keyCode, Press::up, flags);
        releaseModifiers(order);
        break;
    }
}

void InputPlayer::typeText(std::string_view text) {
    bool typedCharacters = false;
    forEachCluster(text, [&](std::string_view character) {
        const platform::CharacterPost down = sink_->postCharacter(character, Press::down);
        if (down == platform::CharacterPost::posted) {
            typedCharacters = true;
            clock_->sleepMicros(kTypeHoldMicros);
            sink_->postCharacter(character, Press::up);
            clock_->sleepMicros(kTypeGapMicros);
            return;
        }
        if (down == platform::CharacterPost::failed) return;
        const auto entry = KeyMap::charKey(character);
        if (!entry) return;
        const EventFlags flags = entry->needsShift ? platform::kFlagShift : 0;
        if (entry->needsShift) postKey(kShiftKeyCode, Press::down, platform::kFlagShift);
        postKey(entry->keyCode, Press::down, flags);
        clock_->sleepMicros(kTypeHoldMicros);
        postKey(entry->keyCode, Press::up, flags);
        if (entry->needsShift) postKey(kShiftKeyCode, Press::up, 0);
        clock_->sleepMicros(kTypeGapMicros);
    });
    if (typedCharacters) sink_->finishTyping();
}

bool InputPlayer::drag(Point from, Point to, int64_t durationMs) {
    if (sink_->postMove(from)) position_ = from;
    click(MouseButton::left, ClickKind::down, from, ModifierSet{});
    // Cut short, the button is let go where the pointer stopped, by whoever ends the run.
    if (!move(to, durationMs)) return false;
    click(MouseButton::left, ClickKind::up, to, ModifierSet{});
    return true;
}

void InputPlayer::releaseHeld() {
    // Newest first, as a person lets go of a chord; each release carries the flags of the
    // modifier keys still held after it, and gets the modifier pacing gap.
    while (!held_.empty()) {
        const Held held = held_.back();
        held_.pop_back();
        EventFlags flags = 0;
        for (const Held& other : held_)
            if (other.kind == Held::Kind::key) flags |= modifierFlagOfKey(other.keyCode);
        // A release that cannot be created is not retried: there is nothing more to try.
        if (held.kind == Held::Kind::key)
            sink_->postKey(held.keyCode, Press::up, flags);
        else
            sink_->postButton(held.button, Press::up, position_, flags, 1);
        clock_->sleepMicros(kModifierGapMicros);
    }
}

}  // namespace tapforge
