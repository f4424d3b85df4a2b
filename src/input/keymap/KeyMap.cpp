#include "input/keymap/KeyMap.h"

#include <array>
#include <unordered_map>
#include <utility>

namespace tapforge::KeyMap {
namespace {

struct NamedKey {
    uint16_t code;
    const char* name;
};

// Display names of the US ANSI virtual key codes. 54 (right Command) deliberately has none.
constexpr NamedKey kNames[] = {
    // Letters
    {0, "A"}, {1, "S"}, {2, "D"}, {3, "F"}, {4, "H"}, {5, "G"}, {6, "Z"}, {7, "X"}, {8, "C"},
    {9, "V"}, {11, "B"}, {12, "Q"}, {13, "W"}, {14, "E"}, {15, "R"}, {16, "Y"}, {17, "T"},
    {31, "O"}, {32, "U"}, {34, "I"}, {35, "P"}, {37, "L"}, {38, "J"}, {40, "K"}, {45, "N"},
    {46, "M"},
    // Digits
    {18, "1"}, {19, "2"}, {20, "3"}, {21, "4"}, {22, "6"}, {23, "5"}, {25, "9"}, {26, "7"},
    {28, "8"}, {29, "0"},
    // Punctuation
    {24, "="}, {27, "-"}, {30, "]"}, {33, "["}, {39, "'"}, {41, ";"}, {42, "\\"}, {43, ","},
    {44, "/"}, {47, "."}, {50, "`"},
    // Editing and control
    {36, "Return"}, {48, "Tab"}, {49, "Space"}, {51, "Delete"}, {53, "Escape"}, {114, "Help"},
    {115, "Home"}, {116, "PageUp"}, {117, "ForwardDelete"}, {119, "End"}, {121, "PageDown"},
    // Modifiers
    {55, "Command"}, {56, "Shift"}, {57, "CapsLock"}, {58, "Option"}, {59, "Control"},
    {60, "RightShift"}, {61, "RightOption"}, {62, "RightControl"}, {63, "Fn"},
    // Function keys
    {122, "F1"}, {120, "F2"}, {99, "F3"}, {118, "F4"}, {96, "F5"}, {97, "F6"}, {98, "F7"},
    {100, "F8"}, {101, "F9"}, {109, "F10"}, {103, "F11"}, {111, "F12"}, {105, "F13"},
    {107, "F14"}, {113, "F15"}, {106, "F16"}, {64, "F17"}, {79, "F18"}, {80, "F19"},
    // Keypad
    {65, "Keypad."}, {67, "Keypad*"}, {69, "Keypad+"}, {71, "NumLock"}, {75, "Keypad/"},
    {76, "KeypadEnter"}, {78, "Keypad-"}, {81, "Keypad="}, {82, "Keypad0"}, {83, "Keypad1"},
    {84, "Keypad2"}, {85, "Keypad3"}, {86, "Keypad4"}, {87, "Keypad5"}, {88, "Keypad6"},
    {89, "Keypad7"}, {91, "Keypad8"}, {92, "Keypad9"},
    // Arrows
    {123, "\u2190"}, {124, "\u2192"}, {125, "\u2193"}, {126, "\u2191"},
};
static_assert(std::size(kNames) == 108);
static_assert(26 + 10 + 11 + 11 + 9 + 19 + 18 + 4 == std::size(kNames), "the groups of nameGroups()");

// Typed names (already lower-case) that differ from, or add to, the display names.
constexpr NamedKey kAliases[] = {
    {55, "cmd"}, {55, "command"}, {55, "\u2318"}, {55, "meta"},
    {56, "shift"}, {56, "\u21E7"},
    {58, "alt"}, {58, "option"}, {58, "opt"}, {58, "\u2325"},
    {59, "ctrl"}, {59, "control"}, {59, "\u2303"},
    {63, "fn"},
    {53, "esc"}, {53, "escape"},
    {36, "enter"}, {36, "return"}, {36, "\u56DE\u8F66"},
    {49, "space"}, {49, "spacebar"}, {49, "\u7A7A\u683C"},
    {48, "tab"},
    {51, "delete"}, {51, "del"}, {51, "backspace"},
    {117, "forwarddelete"},
    {115, "home"}, {119, "end"},
    {116, "pageup"}, {121, "pagedown"},
    {126, "up"}, {126, "\u2191"},
    {125, "down"}, {125, "\u2193"},
    {123, "left"}, {123, "\u2190"},
    {124, "right"}, {124, "\u2192"},
    {57, "capslock"}, {71, "numlock"},
    {27, "minus"}, {24, "equal"}, {43, "comma"}, {47, "period"}, {44, "slash"},
    {41, "semicolon"}, {39, "quote"}, {42, "backslash"}, {50, "grave"},
    {82, "kp0"}, {83, "kp1"}, {84, "kp2"}, {85, "kp3"}, {86, "kp4"}, {87, "kp5"}, {88, "kp6"},
    {89, "kp7"}, {91, "kp8"}, {92, "kp9"},
};
static_assert(std::size(kAliases) == 60);

constexpr uint16_t kFunctionKeys[] = {122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111};

// The name table indexed by code; codes above the highest named one have no name.
const std::array<const char*, 128>& namesByCode() {
    static const std::array<const char*, 128> table = [] {
        std::array<const char*, 128> t{};
        for (const NamedKey& k : kNames) t[k.code] = k.name;
        return t;
    }();
    return table;
}

// Typed alias → code. Lookups try it before the lower-cased display names, so an alias wins.
const std::unordered_map<std::string, uint16_t>& aliasTable() {
    static const std::unordered_map<std::string, uint16_t> table = [] {
        std::unordered_map<std::string, uint16_t> t;
        for (const NamedKey& k : kAliases) t.emplace(k.name, k.code);
        return t;
    }();
    return table;
}

std::string asciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

const std::unordered_map<std::string, uint16_t>& lowerNameTable() {
    static const std::unordered_map<std::string, uint16_t> table = [] {
        std::unordered_map<std::string, uint16_t> t;
        for (const NamedKey& k : kNames) t.emplace(asciiLower(k.name), k.code);
        return t;
    }();
    return table;
}

// The US-layout character table: every entry is one ASCII character, so it is indexed by byte.
const std::array<std::optional<CharKey>, 128>& charTable() {
    static const std::array<std::optional<CharKey>, 128> table = [] {
        std::array<std::optional<CharKey>, 128> t{};
        constexpr std::pair<char, uint16_t> letters[] = {
            {'a', 0}, {'s', 1}, {'d', 2}, {'f', 3}, {'h', 4}, {'g', 5}, {'z', 6}, {'x', 7},
            {'c', 8}, {'v', 9}, {'b', 11}, {'q', 12}, {'w', 13}, {'e', 14}, {'r', 15},
            {'y', 16}, {'t', 17}, {'o', 31}, {'u', 32}, {'i', 34}, {'p', 35}, {'l', 37},
            {'j', 38}, {'k', 40}, {'n', 45}, {'m', 46},
        };
        constexpr std::pair<char, uint16_t> unshifted[] = {
            {'1', 18}, {'2', 19}, {'3', 20}, {'4', 21}, {'5', 23}, {'6', 22}, {'7', 26},
            {'8', 28}, {'9', 25}, {'0', 29}, {'-', 27}, {'=', 24}, {'[', 33}, {']', 30},
            {';', 41}, {'\'', 39}, {',', 43}, {'.', 47}, {'/', 44}, {'\\', 42}, {'`', 50},
            {' ', 49}, {'\n', 36}, {'\t', 48},
        };
        constexpr std::pair<char, uint16_t> shifted[] = {
            {'!', 18}, {'@', 19}, {'#', 20}, {'$', 21}, {'%', 23}, {'^', 22}, {'&', 26},
            {'*', 28}, {'(', 25}, {')', 29}, {'_', 27}, {'+', 24}, {'{', 33}, {'}', 30},
            {':', 41}, {'"', 39}, {'<', 43}, {'>', 47}, {'?', 44}, {'|', 42}, {'~', 50},
        };
        for (auto [c, code] : letters) {
            t[static_cast<unsigned char>(c)] = CharKey{code, false};
            t[static_cast<unsigned char>(c - 'a' + 'A')] = CharKey{code, true};
        }
        for (auto [c, code] : unshifted) t[static_cast<unsigned char>(c)] = CharKey{code, false};
        for (auto [c, code] : shifted) t[static_cast<unsigned char>(c)] = CharKey{code, true};
        return t;
    }();
    return table;
}

// Typed names fold case with full Unicode rules in mind, but every name in the tables is
// ASCII or a caseless symbol, so only ASCII letters and the Kelvin sign (which folds to an
// ASCII "k") can ever change the outcome of a lookup.
std::string foldCase(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s.compare(i, 3, "\u212A") == 0) {
            out += 'k';
            i += 2;
            continue;
        }
        const char c = s[i];
        out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return out;
}

// Length in bytes of the white-space character at the start of `s`, or 0. Line breaks
// (LF, VT, FF, CR, NEL, U+2028, U+2029) count only when `withNewlines` is set: typed key
// names drop them, while modifier words and shortcut pieces trim plain white space only.
size_t leadingSpace(std::string_view s, bool withNewlines) {
    if (s.empty()) return 0;
    const auto b = static_cast<unsigned char>(s[0]);
    if (b == ' ' || b == '\t') return 1;
    if (b >= 0x0A && b <= 0x0D) return withNewlines ? 1 : 0;
    if (b < 0x80) return 0;
    // Multi-byte white space: U+0085, U+00A0, U+1680, U+2000–200A, U+2028/2029, U+202F,
    // U+205F, U+3000.
    if (s.substr(0, 2) == "\u0085") return withNewlines ? 2 : 0;
    if (s.substr(0, 2) == "\u00A0") return 2;
    if (s.size() < 3) return 0;
    const std::string_view three = s.substr(0, 3);
    if (three == "\u1680" || three == "\u202F" || three == "\u205F" || three == "\u3000") return 3;
    if (three == "\u2028" || three == "\u2029") return withNewlines ? 3 : 0;
    // U+2000–U+200A: E2 80 80 … E2 80 8A
    if (b == 0xE2 && static_cast<unsigned char>(s[1]) == 0x80) {
        const auto last = static_cast<unsigned char>(s[2]);
        if (last >= 0x80 && last <= 0x8A) return 3;
    }
    return 0;
}

// Length in bytes of the white-space character that ends `s`, or 0.
size_t trailingSpace(std::string_view s, bool withNewlines) {
    for (size_t len = 1; len <= 3 && len <= s.size(); ++len) {
        const std::string_view tail = s.substr(s.size() - len);
        // Only a complete character starting at a lead byte counts.
        if (len > 1 && (static_cast<unsigned char>(tail[0]) & 0xC0) == 0x80) continue;
        if (leadingSpace(tail, withNewlines) == len) return len;
    }
    return 0;
}

std::string_view trim(std::string_view s, bool withNewlines) {
    while (size_t n = leadingSpace(s, withNewlines)) s.remove_prefix(n);
    while (size_t n = trailingSpace(s, withNewlines)) s.remove_suffix(n);
    return s;
}

// A decimal integer with an optional sign that fits in 16 bits unsigned ("-0" is 0).
std::optional<uint16_t> parseRawCode(std::string_view s) {
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return std::nullopt;
    uint32_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
        if (value > 0xFFFF) return std::nullopt;
    }
    if (negative && value != 0) return std::nullopt;
    return static_cast<uint16_t>(value);
}

}  // namespace

std::string name(uint16_t code) {
    const auto& table = namesByCode();
    if (code < table.size() && table[code]) return table[code];
    return "\u952E\u7801 " + std::to_string(code);
}

std::optional<uint16_t> code(std::string_view typed) {
    const std::string text = foldCase(trim(typed, true));
    if (text.empty()) return std::nullopt;
    if (auto it = aliasTable().find(text); it != aliasTable().end()) return it->second;
    if (auto it = lowerNameTable().find(text); it != lowerNameTable().end()) return it->second;
    return parseRawCode(text);
}

const std::vector<ModifierWords>& modifierWords() {
    static const std::vector<ModifierWords> words = {
        {ModifierSet::command(), {"cmd", "command", "\u2318", "meta"}},
        {ModifierSet::shift(), {"shift", "\u21E7"}},
        {ModifierSet::option(), {"alt", "option", "opt", "\u2325"}},
        {ModifierSet::control(), {"ctrl", "control", "\u2303"}},
        {ModifierSet::function(), {"fn"}},
    };
    return words;
}

std::optional<ModifierSet> modifier(std::string_view word) {
    const std::string text = foldCase(trim(word, false));
    for (const ModifierWords& entry : modifierWords())
        for (const std::string& w : entry.words)
            if (text == w) return entry.modifier;
    return std::nullopt;
}

std::vector<NameGroup> nameGroups() {
    // Slices of the name table, which lists its keys group by group.
    constexpr std::pair<const char*, size_t> kGroups[] = {
        {"字母", 26}, {"数字", 10}, {"标点", 11}, {"编辑与控制", 11},
        {"修饰键", 9}, {"功能键", 19}, {"小键盘", 18}, {"方向键", 4},
    };
    std::vector<NameGroup> groups;
    size_t at = 0;
    for (const auto& [title, count] : kGroups) {
        NameGroup group{title, {}};
        for (size_t i = at; i < at + count; ++i) group.codes.push_back(kNames[i].code);
        groups.push_back(std::move(group));
        at += count;
    }
    return groups;
}

std::vector<std::string> aliases(uint16_t code) {
    std::vector<std::string> out;
    const char* shown = code < namesByCode().size() ? namesByCode()[code] : nullptr;
    for (const NamedKey& k : kAliases)
        if (k.code == code && !(shown && asciiLower(shown) == k.name)) out.emplace_back(k.name);
    return out;
}

std::optional<CharKey> charKey(std::string_view character) {
    // Every table entry is a single ASCII character; a longer cluster ("\r\n", a letter with
    // a combining accent) or any non-ASCII character has no key on the US layout.
    if (character.size() != 1) return std::nullopt;
    const auto byte = static_cast<unsigned char>(character[0]);
    if (byte >= 128) return std::nullopt;
    return charTable()[byte];
}

std::optional<Shortcut> parseShortcut(std::string_view text) {
    ModifierSet modifiers;
    std::optional<uint16_t> key;
    while (!text.empty()) {
        const size_t plus = text.find('+');
        const std::string_view raw = text.substr(0, plus);
        text = plus == std::string_view::npos ? std::string_view{} : text.substr(plus + 1);
        if (raw.empty()) continue;
        // A piece of blanks survives the split and then names nothing: the string is refused.
        const std::string_view piece = trim(raw, false);
        if (auto m = modifier(piece)) {
            modifiers.insert(*m);
            continue;
        }
        const auto c = code(piece);
        if (!c) return std::nullopt;
        key = c;
    }
    if (!key) return std::nullopt;
    return Shortcut{*key, modifiers};
}

std::string shortcutDisplay(ModifierSet modifiers, uint16_t keyCode) {
    return modifiers.symbols() + name(keyCode);
}

const std::set<uint16_t>& modifierKeyCodes() {
    static const std::set<uint16_t> codes{55, 56, 57, 58, 59, 60, 61, 62, 63};
    return codes;
}

const std::vector<uint16_t>& functionKeyCodes() {
    static const std::vector<uint16_t> codes(std::begin(kFunctionKeys), std::end(kFunctionKeys));
    return codes;
}

std::vector<KeyGroup> pickerGroups() {
    return {
        {"letters", "\u5B57\u6BCD",
         {0, 11, 8, 2, 14, 3, 5, 4, 34, 38, 40, 37, 46, 45, 31, 35, 12, 15, 1, 17, 32, 9, 13, 7, 6, 29}},
        {"digits", "\u6570\u5B57", {18, 19, 20, 21, 23, 22, 26, 28, 25, 29}},
        {"function", "\u529F\u80FD\u952E", functionKeyCodes()},
        {"arrows", "\u65B9\u5411\u952E", {123, 124, 125, 126}},
        {"specials", "\u5176\u4ED6",
         {49, 36, 48, 51, 53, 117, 115, 119, 116, 121, 114, 71, 75, 67, 78, 69, 81, 82, 83, 84, 85, 86,
          87, 88, 89, 91, 92}},
    };
}

}  // namespace tapforge::KeyMap
