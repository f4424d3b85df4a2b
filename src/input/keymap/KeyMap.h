// The program's vocabulary of keys: virtual key codes (US ANSI layout numbering) to display
// names and back, typed key names and modifier words, shortcut strings, the US-layout
// character table used for typing, and the key groups of the pickers.
// Immutable tables built once on first use; safe to call from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "model/ModifierSet.h"

namespace tapforge::KeyMap {

struct KeyGroup {
    std::string id;
    std::string name;
    std::vector<uint16_t> codes;   // in display order
};

struct CharKey {
    uint16_t keyCode = 0;
    bool needsShift = false;
};

struct Shortcut {
    uint16_t keyCode = 0;
    ModifierSet modifiers;
};

struct NameGroup {
    std::string title;
    std::vector<uint16_t> codes;   // in table order
};

struct ModifierWords {
    ModifierSet modifier;
    std::vector<std::string> words;   // lower-case, as modifier() accepts them
};

// Display name of a key code; "键码 N" for a code without a name.
std::string name(uint16_t code);
// Resolves a typed key name: alias, display name (any case), or a decimal code.
std::optional<uint16_t> code(std::string_view name);
// Every named key, grouped as the name table groups them (letters, digits, ...).
std::vector<NameGroup> nameGroups();
// The typed names of a code beyond its display name ("esc" for Escape), lower-case.
std::vector<std::string> aliases(uint16_t code);
// The words modifier() accepts, per modifier.
const std::vector<ModifierWords>& modifierWords();
// One modifier word ("cmd", "shift", "⌥", ...) as a single-member set.
std::optional<ModifierSet> modifier(std::string_view word);
// Key and shift state that type `character`: one user-perceived character (grapheme
// cluster) in UTF-8. Nothing for characters outside the 97-entry US-layout table.
std::optional<CharKey> charKey(std::string_view character);
// Parses "cmd+shift+s": modifier words and one key name joined by "+".
std::optional<Shortcut> parseShortcut(std::string_view text);
// Shortcut display text: modifier symbols then the key name, no separator.
std::string shortcutDisplay(ModifierSet modifiers, uint16_t keyCode);

// Command, Shift, CapsLock, Option, Control, right Shift/Option/Control, Fn (not 54).
const std::set<uint16_t>& modifierKeyCodes();
// F1 … F12.
const std::vector<uint16_t>& functionKeyCodes();
// The five picker groups, built fresh on each call.
std::vector<KeyGroup> pickerGroups();

}  // namespace tapforge::KeyMap
