#include "input/HotKeyShortcut.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "input/keymap/KeyMap.h"

namespace tapforge {

namespace {

// A JSON number that is a whole number within [lo, hi]; integral doubles count (other
// writers may store 1.0), fractions and out-of-range values do not.
template <class T>
std::optional<T> wholeNumber(const nlohmann::json& value, int64_t lo, int64_t hi) {
    if (value.is_number_unsigned()) {
        const uint64_t v = value.get<uint64_t>();
        if (v > static_cast<uint64_t>(hi)) return std::nullopt;
        return static_cast<T>(v);
    }
    if (value.is_number_integer()) {
        const int64_t v = value.get<int64_t>();
        if (v < lo || v > hi) return std::nullopt;
        return static_cast<T>(v);
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        // 2^63 itself is out of range for int64; compare against the exact doubles.
        if (!std::isfinite(d) || d != std::trunc(d) || d < static_cast<double>(lo) || d >= 9223372036854775808.0 ||
            d > static_cast<double>(hi))
            return std::nullopt;
        return static_cast<T>(static_cast<int64_t>(d));
    }
    return std::nullopt;
}

}  // namespace

bool HotKeyShortcut::isUsable() const {
    if (!keyCode) return false;
    if (!modifiers.empty()) return true;
    const auto& fKeys = KeyMap::functionKeyCodes();
    return std::find(fKeys.begin(), fKeys.end(), *keyCode) != fKeys.end();
}

std::optional<std::string> HotKeyShortcut::displayText() const {
    if (!keyCode) return std::nullopt;
    return KeyMap::shortcutDisplay(modifiers, *keyCode);
}

std::string HotKeyShortcut::toJson() const {
    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    if (keyCode) out["keyCode"] = *keyCode;
    out["modifiers"] = modifiers.rawValue;
    return out.dump();
}

std::optional<HotKeyShortcut> HotKeyShortcut::fromJson(std::string_view json) {
    // A stored shortcut is a few dozen bytes; anything large is not one of ours.
    if (json.size() > 4096) return std::nullopt;
    const nlohmann::json doc = nlohmann::json::parse(json.begin(), json.end(), nullptr, /*allow_exceptions=*/false);
    if (!doc.is_object()) return std::nullopt;
    HotKeyShortcut out;
    if (auto it = doc.find("keyCode"); it != doc.end() && !it->is_null()) {
        out.keyCode = wholeNumber<uint16_t>(*it, 0, std::numeric_limits<uint16_t>::max());
        if (!out.keyCode) return std::nullopt;
    }
    if (auto it = doc.find("modifiers"); it != doc.end() && !it->is_null()) {
        const auto raw = wholeNumber<int64_t>(*it, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
        if (!raw) return std::nullopt;
        out.modifiers.rawValue = *raw;
    }
    return out;
}

HotKeyShortcut HotKeyShortcut::fromJsonOr(std::optional<std::string_view> json, const HotKeyShortcut& fallback) {
    if (!json) return fallback;
    return fromJson(*json).value_or(fallback);
}

bool HotKeyShortcut::conflict(const HotKeyShortcut& record, const HotKeyShortcut& play) {
    return record.isUsable() && record == play;
}

}  // namespace tapforge

size_t std::hash<tapforge::HotKeyShortcut>::operator()(const tapforge::HotKeyShortcut& s) const noexcept {
    const uint64_t key = s.keyCode ? (uint64_t{1} << 16) | *s.keyCode : 0;
    const uint64_t h = std::hash<uint64_t>{}(key);
    return h ^ (std::hash<int64_t>{}(s.modifiers.rawValue) + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2));
}
