// A global shortcut: an optional virtual key code plus the modifiers that must be held,
// exactly. Its JSON form is what the settings store under "hotkey.record" / "hotkey.play".
// A plain value; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/ModifierSet.h"

namespace tapforge {

struct HotKeyShortcut {
    std::optional<uint16_t> keyCode;   // empty: not set
    ModifierSet modifiers;

    static constexpr uint16_t kF9 = 101;
    static constexpr uint16_t kF10 = 109;
    static HotKeyShortcut defaultRecord() { return {kF9, {}}; }
    static HotKeyShortcut defaultPlay() { return {kF10, {}}; }

    // Needs a key code, and either a modifier or one of F1 … F12 (a bare letter would fire
    // while the user types).
    bool isUsable() const;

    // Modifier symbols then the key name ("⌃⇧R", "F9"); nothing when no key code is set,
    // so each caller shows its own placeholder.
    std::optional<std::string> displayText() const;

    // {"keyCode":1,"modifiers":3}; "keyCode" omitted when not set.
    std::string toJson() const;
    // Reads the form above; a missing "modifiers" means none. Nothing for text that is not
    // such an object (bad JSON, wrong types, a key code outside 0…65535).
    static std::optional<HotKeyShortcut> fromJson(std::string_view json);
    // The stored value, or `fallback` when it is missing or does not decode.
    static HotKeyShortcut fromJsonOr(std::optional<std::string_view> json, const HotKeyShortcut& fallback);

    // The settings' conflict rule: the record shortcut is usable and both are equal, so the
    // play shortcut could never fire.
    static bool conflict(const HotKeyShortcut& record, const HotKeyShortcut& play);

    friend bool operator==(const HotKeyShortcut&, const HotKeyShortcut&) = default;
};

}  // namespace tapforge

template <>
struct std::hash<tapforge::HotKeyShortcut> {
    size_t operator()(const tapforge::HotKeyShortcut& s) const noexcept;
};
