#include "input/keymap/KeyMap.h"

#include <gtest/gtest.h>

#include <cctype>
#include <thread>

namespace tapforge {
namespace {

bool hasName(uint16_t code) { return KeyMap::name(code).rfind("\u952E\u7801 ", 0) != 0; }   // "键码 54" when unnamed

// Every display name, in any case and with blanks around it, types back to its own code, so
// no two codes share a name.
TEST(KeyMap, EveryDisplayNameResolvesToItsCode) {
    const auto withCase = [](std::string s, int (*change)(int)) { for (char& ch : s) ch = char(change((unsigned char)ch)); return s; };
    int named = 0;
    for (uint32_t c = 0; c <= 0xFFFF; ++c) {
        if (!hasName(uint16_t(c))) continue;
        const std::string n = KeyMap::name(uint16_t(c));
        SCOPED_TRACE(n);
        ++named;
        EXPECT_EQ(KeyMap::code(n), c);
        EXPECT_EQ(KeyMap::code(withCase(n, ::toupper)), c);
        EXPECT_EQ(KeyMap::code(" \t" + withCase(n, ::tolower) + "\n "), c);
    }
    EXPECT_EQ(named, 108);
    EXPECT_EQ(KeyMap::name(65535), "\u952E\u7801 65535");
    EXPECT_EQ(KeyMap::name(22) + KeyMap::name(23), "65");   // the digit row is not in code order
}

TEST(KeyMap, CodeAndModifierOfText) {
    const std::pair<const char*, std::optional<uint16_t>> cases[] = {
        {"\r\nEsc\n", 53}, {"\u3000space\u00A0", 49}, {"\u2028tab\u2029", 48}, {"Meta", 55}, {"\u2318", 55},
        {"\u56DE\u8F66", 36}, {"spacebar", 49}, {"kp7", 89}, {"KP8", 91}, {"kp9", 92},
        {"\u212A", 40},   // the Kelvin sign folds to k
        {"200", 200}, {"+36", 36}, {"-0", 0}, {"0065535", 65535}, {"65536", {}}, {"99999999999999999999999", {}},
        {"-1", {}}, {"+", {}}, {"1a", {}}, {"3 6", {}}, {" \t\r\n", {}}, {"win", {}}, {"f20", {}}, {"\uFF11", {}}};
    for (const auto& [text, expected] : cases) EXPECT_EQ(KeyMap::code(text), expected) << '"' << text << '"';
    const std::pair<const char*, std::optional<int64_t>> modifiers[] = {
        {"COMMAND", 1}, {"\u21E7", 2}, {"  Option  ", 4}, {"alt", 4}, {"\tctrl", 8}, {"fn", 16}, {"super", {}},
        {"", {}}, {"cm d", {}}, {"Return", {}}, {"cmd\n", {}}};   // blanks are trimmed, line breaks not
    for (const auto& [word, expected] : modifiers) {
        const auto got = KeyMap::modifier(word);
        EXPECT_EQ(got ? std::optional(got->rawValue) : std::nullopt, expected) << '"' << word << '"';
    }
}

// Exactly 97 ASCII characters type, each on a named key. Letters pair up (shift only for the
// capital); each unshifted symbol types the key of that name, its shifted partner (US ANSI)
// sits on the same key.
TEST(KeyMap, CharacterTable) {
    int entries = 0;
    for (int b = 0; b < 256; ++b)
        if (const auto key = KeyMap::charKey(std::string(1, char(b)))) {
            ++entries;
            EXPECT_LT(b, 128);
            EXPECT_TRUE(hasName(key->keyCode)) << "character " << b << " types unnamed key " << key->keyCode;
        }
    EXPECT_EQ(entries, 97);
    std::string plain = "1234567890-=[];',./\\`", shifted = "!@#$%^&*()_+{}:\"<>?|~";
    for (char c = 'a'; c <= 'z'; ++c) plain += c, shifted += char(c - 'a' + 'A');
    for (size_t i = 0; i < plain.size(); ++i) {
        SCOPED_TRACE(plain[i]);
        const auto key = KeyMap::charKey(std::string(1, plain[i])), up = KeyMap::charKey(std::string(1, shifted[i]));
        ASSERT_TRUE(key && up);
        EXPECT_TRUE(i >= 21 || KeyMap::name(key->keyCode) == std::string(1, plain[i]));   // symbols are key names
        EXPECT_EQ(KeyMap::code(std::string(1, plain[i])), key->keyCode);
        EXPECT_TRUE(!key->needsShift && up->needsShift && up->keyCode == key->keyCode);
    }
    for (auto [text, code] : std::initializer_list<std::pair<std::string_view, std::optional<uint16_t>>>{
             {"\n", 36}, {"\t", 48}, {" ", 49}, {"\r", {}}, {"\r\n", {}}, {"e\u0301", {}}, {"\u00E9", {}}, {"\u4E2D", {}},
             {"\U0001F600", {}}, {"", {}}, {"ab", {}}, {"\x7F", {}}, {"\xC3", {}}, {"\u212A", {}}}) {
        const auto key = KeyMap::charKey(text);
        EXPECT_EQ(key ? std::optional(key->keyCode) : std::nullopt, code) << text;
        EXPECT_FALSE(key && key->needsShift) << text;
    }
}

TEST(KeyMap, ShortcutStrings) {
    constexpr int64_t kCmd = 1, kShift = 2, kOpt = 4, kCtrl = 8, kFn = 16;
    const std::tuple<const char*, std::optional<uint16_t>, int64_t> cases[] = {
        {" Cmd + Shift + S ", 1, kCmd | kShift}, {"\u2303+\u2325+\u2318+\u21E7+fn+F1", 122, kCtrl | kOpt | kCmd | kShift | kFn},
        {"s+cmd", 1, kCmd}, {"cmd+cmd+return", 36, kCmd}, {"++cmd++s++", 1, kCmd}, {"a+b", 11, 0}, {"ctrl+36", 36, kCtrl},
        {"ctrl+alt", {}, 0}, {"cmd+s+nokey", {}, 0}, {"+++", {}, 0}, {"cmd+ +s", {}, 0}, {"cmd+70000", {}, 0}};
    for (const auto& [text, key, modifiers] : cases) {
        const auto got = KeyMap::parseShortcut(text);
        EXPECT_EQ(got ? std::optional(got->keyCode) : std::nullopt, key) << text;
        EXPECT_EQ(got ? got->modifiers.rawValue : 0, modifiers) << text;
    }
    // Displayed as symbols then the name; a parsed string displays as it was meant.
    EXPECT_EQ(KeyMap::shortcutDisplay(ModifierSet::command() | ModifierSet::shift(), 1), "\u21E7\u2318S");
    EXPECT_EQ(KeyMap::shortcutDisplay(ModifierSet{}, 54), "\u952E\u7801 54");
    EXPECT_EQ(KeyMap::shortcutDisplay(ModifierSet{31}, 101), "\u2303\u2325\u21E7\u2318fn+F9");
    const auto parsed = KeyMap::parseShortcut("ctrl+alt+Delete").value();
    EXPECT_EQ(KeyMap::shortcutDisplay(parsed.modifiers, parsed.keyCode), "\u2303\u2325Delete");
}

TEST(KeyMap, PickerGroupsOfferOnlyNamedKeys) {
    for (const auto& group : KeyMap::pickerGroups())
        for (uint16_t code : group.codes) EXPECT_TRUE(hasName(code)) << group.name << " offers " << code;
}

// First use from several threads at once builds each table once (run under TSan).
TEST(KeyMap, ConcurrentFirstUse) {
    std::vector<int> good(4, 0);
    std::vector<std::thread> threads;
    for (int& g : good)
        threads.emplace_back([&g] {
            for (int i = 0; i < 200; ++i)
                g += (KeyMap::code("return") == 36) + (KeyMap::code("keypad9") == 92) + KeyMap::charKey("?").has_value() +
                     (KeyMap::name(126) == "\u2191") + int(KeyMap::modifierKeyCodes().count(63));
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(good, std::vector<int>(4, 1000));
}

}  // namespace
}  // namespace tapforge
