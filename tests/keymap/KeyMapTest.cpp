#include "input/keymap/KeyMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <thread>

namespace tapforge {
namespace {

using KeyMap::CharKey;

const std::string kFallbackPrefix = "\u952E\u7801 ";  // "键码 "

bool hasName(uint16_t code) { return KeyMap::name(code).rfind(kFallbackPrefix, 0) != 0; }

// ---- name(for:) ---------------------------------------------------------------------------

TEST(KeyMapName, NamedCodesAreExactlyTheTableAndUnique) {
    std::map<std::string, uint16_t> seen;
    for (uint32_t c = 0; c <= 0xFFFF; ++c) {
        if (!hasName(static_cast<uint16_t>(c))) continue;
        const auto [it, fresh] = seen.emplace(KeyMap::name(static_cast<uint16_t>(c)), c);
        EXPECT_TRUE(fresh) << "name " << it->first << " used by " << it->second << " and " << c;
    }
    EXPECT_EQ(seen.size(), 108u);
}

TEST(KeyMapName, UnnamedCodesFallBackToTheNumber) {
    EXPECT_EQ(KeyMap::name(54), "\u952E\u7801 54");
    EXPECT_EQ(KeyMap::name(65535), "\u952E\u7801 65535");
    EXPECT_EQ(KeyMap::name(22), "6");   // the digit row is not in code order
    EXPECT_EQ(KeyMap::name(23), "5");
}

// Every display name, in any case and with blanks around it, types back to its own code.
TEST(KeyMapCode, EveryDisplayNameResolvesToItsCode) {
    for (uint16_t c = 0; c < 200; ++c) {
        if (!hasName(c)) continue;
        const std::string n = KeyMap::name(c);
        std::string upper = n, lower = n;
        std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char ch) { return std::toupper(ch); });
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return std::tolower(ch); });
        SCOPED_TRACE(n);
        EXPECT_EQ(KeyMap::code(n), c);
        EXPECT_EQ(KeyMap::code(upper), c);
        EXPECT_EQ(KeyMap::code(" \t" + lower + "\n "), c);
    }
}

struct CodeCase {
    const char* text;
    std::optional<uint16_t> expected;
};

class KeyMapCodeCases : public ::testing::TestWithParam<CodeCase> {};

TEST_P(KeyMapCodeCases, Resolves) {
    EXPECT_EQ(KeyMap::code(GetParam().text), GetParam().expected) << "text: \"" << GetParam().text << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Names, KeyMapCodeCases,
    ::testing::Values(
        CodeCase{"\r\nEsc\n", 53}, CodeCase{"\u3000space\u00A0", 49}, CodeCase{"\u2028tab\u2029", 48},
        CodeCase{"Meta", 55}, CodeCase{"\u2318", 55}, CodeCase{"\u56DE\u8F66", 36}, CodeCase{"spacebar", 49},
        CodeCase{"kp7", 89}, CodeCase{"KP8", 91}, CodeCase{"kp9", 92}, CodeCase{"\u212A", 40},  // Kelvin sign folds to k
        CodeCase{"200", 200}, CodeCase{"+36", 36}, CodeCase{"-0", 0}, CodeCase{"0065535", 65535},
        CodeCase{"65536", std::nullopt}, CodeCase{"99999999999999999999999", std::nullopt}, CodeCase{"-1", std::nullopt},
        CodeCase{"+", std::nullopt}, CodeCase{"1a", std::nullopt}, CodeCase{"3 6", std::nullopt},
        CodeCase{" \t\r\n", std::nullopt}, CodeCase{"win", std::nullopt},
        CodeCase{"f20", std::nullopt}, CodeCase{"\uFF11", std::nullopt}));

// ---- modifier(named:) ---------------------------------------------------------------------

struct ModifierCase {
    const char* word;
    std::optional<ModifierSet> expected;
};

class KeyMapModifierCases : public ::testing::TestWithParam<ModifierCase> {};

TEST_P(KeyMapModifierCases, Resolves) {
    const auto got = KeyMap::modifier(GetParam().word);
    ASSERT_EQ(got.has_value(), GetParam().expected.has_value()) << GetParam().word;
    if (got) {
        EXPECT_EQ(got->rawValue, GetParam().expected->rawValue) << GetParam().word;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Words, KeyMapModifierCases,
    ::testing::Values(ModifierCase{"COMMAND", ModifierSet::command()}, ModifierCase{"\u21E7", ModifierSet::shift()},
                      ModifierCase{"  Option  ", ModifierSet::option()}, ModifierCase{"alt", ModifierSet::option()},
                      ModifierCase{"\tctrl", ModifierSet::control()}, ModifierCase{"fn", ModifierSet::function()},
                      ModifierCase{"super", std::nullopt}, ModifierCase{"", std::nullopt},
                      ModifierCase{"cm d", std::nullopt}, ModifierCase{"Return", std::nullopt},
                      // modifier words trim blanks but not line breaks
                      ModifierCase{"cmd\n", std::nullopt}));

// ---- character table ----------------------------------------------------------------------

TEST(KeyMapChar, TableHoldsExactly97AsciiCharacters) {
    int entries = 0;
    for (int b = 0; b < 256; ++b) {
        const std::string s(1, static_cast<char>(b));
        if (auto key = KeyMap::charKey(s)) {
            ++entries;
            EXPECT_LT(b, 128);
            EXPECT_TRUE(hasName(key->keyCode)) << "character " << b << " types unnamed key " << key->keyCode;
        }
    }
    EXPECT_EQ(entries, 97);
}

// The letters pair up: same key, shift only for the capital; and each unshifted character
// that is also a key's display name types that very key.
TEST(KeyMapChar, ConsistentWithTheNameTable) {
    for (char c = 'a'; c <= 'z'; ++c) {
        const auto lower = KeyMap::charKey(std::string(1, c));
        const auto upper = KeyMap::charKey(std::string(1, static_cast<char>(c - 'a' + 'A')));
        ASSERT_TRUE(lower && upper) << c;
        EXPECT_EQ(lower->keyCode, upper->keyCode) << c;
        EXPECT_FALSE(lower->needsShift);
        EXPECT_TRUE(upper->needsShift);
        EXPECT_EQ(KeyMap::code(std::string(1, c)), lower->keyCode) << c;
    }
    // Each unshifted symbol types the key of that name; its shifted partner (US ANSI) sits on
    // the same key.
    const std::string partner = "1234567890-=[];',./\\`", shifted = "!@#$%^&*()_+{}:\"<>?|~";
    for (size_t i = 0; i < shifted.size(); ++i) {
        SCOPED_TRACE(shifted[i]);
        const auto plain = KeyMap::charKey(std::string(1, partner[i]));
        const auto key = KeyMap::charKey(std::string(1, shifted[i]));
        ASSERT_TRUE(plain && key);
        EXPECT_FALSE(plain->needsShift);
        EXPECT_EQ(KeyMap::name(plain->keyCode), std::string(1, partner[i]));
        EXPECT_TRUE(key->needsShift);
        EXPECT_EQ(key->keyCode, plain->keyCode);
    }
}

TEST(KeyMapChar, ClustersAndControlCharacters) {
    auto is = [](std::string_view s, uint16_t code, bool shift) {
        const auto key = KeyMap::charKey(s);
        return key && key->keyCode == code && key->needsShift == shift;
    };
    EXPECT_TRUE(is("\n", 36, false));
    EXPECT_TRUE(is("\t", 48, false));
    EXPECT_TRUE(is(" ", 49, false));
    for (std::string_view none : std::vector<std::string_view>{"\r", "\r\n", "e\u0301", "\u00E9", "\u4E2D", "\U0001F600", "", "ab",
                                  std::string_view("\0", 1), "\x7F", "\xC3", "\u212A"})
        EXPECT_FALSE(KeyMap::charKey(none)) << "has an entry: " << none;
}

// ---- shortcut strings and display ----------------------------------------------------------

struct ShortcutCase {
    const char* text;
    std::optional<uint16_t> key;
    int64_t modifiers;
};

class KeyMapShortcutCases : public ::testing::TestWithParam<ShortcutCase> {};

TEST_P(KeyMapShortcutCases, Parses) {
    const auto got = KeyMap::parseShortcut(GetParam().text);
    ASSERT_EQ(got.has_value(), GetParam().key.has_value()) << GetParam().text;
    if (!got) return;
    EXPECT_EQ(got->keyCode, *GetParam().key) << GetParam().text;
    EXPECT_EQ(got->modifiers.rawValue, GetParam().modifiers) << GetParam().text;
}

constexpr int64_t kCmd = 1, kShift = 2, kOpt = 4, kCtrl = 8, kFn = 16;

INSTANTIATE_TEST_SUITE_P(
    Strings, KeyMapShortcutCases,
    ::testing::Values(ShortcutCase{" Cmd + Shift + S ", 1, kCmd | kShift},
                      ShortcutCase{"\u2303+\u2325+\u2318+\u21E7+fn+F1", 122, kCtrl | kOpt | kCmd | kShift | kFn},
                      ShortcutCase{"s+cmd", 1, kCmd}, ShortcutCase{"cmd+cmd+return", 36, kCmd},
                      ShortcutCase{"++cmd++s++", 1, kCmd}, ShortcutCase{"a+b", 11, 0}, ShortcutCase{"ctrl+36", 36, kCtrl},
                      ShortcutCase{"ctrl+alt", std::nullopt, 0}, ShortcutCase{"cmd+s+nokey", std::nullopt, 0},
                      ShortcutCase{"+++", std::nullopt, 0}, ShortcutCase{"cmd+ +s", std::nullopt, 0},
                      ShortcutCase{"cmd+70000", std::nullopt, 0}));

TEST(KeyMapShortcut, DisplayIsSymbolsThenName) {
    EXPECT_EQ(KeyMap::shortcutDisplay(ModifierSet::command() | ModifierSet::shift(), 1), "\u21E7\u2318S");
    EXPECT_EQ(KeyMap::shortcutDisplay(ModifierSet{}, 54), "\u952E\u7801 54");
    EXPECT_EQ(KeyMap::shortcutDisplay(ModifierSet{31}, 101), "\u2303\u2325\u21E7\u2318fn+F9");
    // The display of a parsed string reads back as the same shortcut where names allow it.
    const auto parsed = KeyMap::parseShortcut("ctrl+alt+Delete");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(KeyMap::shortcutDisplay(parsed->modifiers, parsed->keyCode), "\u2303\u2325Delete");
}

// ---- fixed sets and picker groups ----------------------------------------------------------

TEST(KeyMapSets, PickerGroupsOfferOnlyNamedKeys) {
    const auto groups = KeyMap::pickerGroups();
    ASSERT_EQ(groups.size(), 5u);
    EXPECT_EQ(groups[2].codes, KeyMap::functionKeyCodes());
    for (const auto& group : groups)
        for (uint16_t code : group.codes) EXPECT_TRUE(hasName(code)) << group.name << " offers " << code;
}

// First use from several threads at once builds each table once (run under TSan).
TEST(KeyMapThreads, ConcurrentFirstUse) {
    std::vector<std::thread> threads;
    std::vector<int> ok(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &ok] {
            int good = 0;
            for (int i = 0; i < 200; ++i) {
                good += KeyMap::code("return") == 36;
                good += KeyMap::code("keypad9") == 92;
                good += KeyMap::charKey("?").has_value();
                good += KeyMap::name(126) == "\u2191";
                good += KeyMap::modifierKeyCodes().count(63) == 1;
            }
            ok[t] = good;
        });
    for (auto& th : threads) th.join();
    for (int good : ok) EXPECT_EQ(good, 1000);
}

}  // namespace
}  // namespace tapforge
