// Shortcut validity, its stored JSON form, the matching priorities, and the monitor's
// handling of platform key presses (own posted keys, the fn flag, callback dispatch).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/GlobalHotKeyMonitor.h"
#include "input/HotKeyShortcut.h"
#include "platform/EventFlags.h"

namespace tapforge {
namespace {

constexpr ModifierSet kNone{};
const ModifierSet kCmd = ModifierSet::command();
const ModifierSet kShift = ModifierSet::shift();
constexpr uint16_t kA = 0, kS = 1, kF1 = 122, kF9 = 101, kF10 = 109, kF13 = 105, kEsc = 53;

struct Usable {
    const char* name;
    HotKeyShortcut shortcut;
    bool usable;
};

class HotKeyUsableTest : public ::testing::TestWithParam<Usable> {};

TEST_P(HotKeyUsableTest, NeedsAKeyAndAModifierOrAnFKey) {
    EXPECT_EQ(GetParam().shortcut.isUsable(), GetParam().usable);
}

INSTANTIATE_TEST_SUITE_P(Matrix, HotKeyUsableTest,
                         ::testing::Values(Usable{"noKey", {std::nullopt, {}}, false},
                                           Usable{"plainLetter", {kA, {}}, false},
                                           Usable{"cmdLetter", {kA, ModifierSet::command()}, true},
                                           Usable{"fnOnlyLetter", {kA, ModifierSet::function()}, true},
                                           Usable{"F1", {kF1, {}}, true},
                                           Usable{"F13NotInList", {kF13, {}}, false},
                                           Usable{"unknownBitOnly", {kA, ModifierSet{64}}, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HotKeyShortcut, JsonRoundTripsEveryField) {
    for (const HotKeyShortcut& s : {HotKeyShortcut{kS, kCmd | kShift}, HotKeyShortcut{std::nullopt, kCmd},
                                    HotKeyShortcut{0, {}}, HotKeyShortcut{65535, ModifierSet{1LL << 40}}}) {
        SCOPED_TRACE(s.toJson());
        EXPECT_EQ(HotKeyShortcut::fromJson(s.toJson()), s);
    }
}

// Absent or null fields read as unset; anything that is not a shortcut falls back.
TEST(HotKeyShortcut, StoredJsonDecodesOrFallsBackToTheDefault) {
    const HotKeyShortcut fallback = HotKeyShortcut::defaultPlay();
    const std::pair<const char*, HotKeyShortcut> good[] = {
        {R"({"keyCode":101})", {kF9, {}}},
        {R"({"modifiers":2})", {std::nullopt, kShift}},
        {R"({"keyCode":null,"modifiers":null,"other":[1]})", {}},
        {R"({"keyCode":1.0,"modifiers":3})", {kS, kCmd | kShift}}};
    for (const auto& [json, expected] : good) {
        EXPECT_EQ(HotKeyShortcut::fromJson(json), expected) << json;
        EXPECT_EQ(HotKeyShortcut::fromJsonOr(json, fallback), expected) << json;
    }
    const std::string padded = std::string(5000, ' ') + "{}";
    for (const char* bad : {"", "null", "[]", "101", "{", R"({"keyCode":65536})", R"({"keyCode":-1})",
                            R"({"keyCode":1.5})", R"({"keyCode":"1"})", R"({"modifiers":0.5})", R"({"modifiers":1e30})",
                            R"({"modifiers":18446744073709551615})", padded.c_str()}) {
        EXPECT_FALSE(HotKeyShortcut::fromJson(bad).has_value()) << bad;
        EXPECT_EQ(HotKeyShortcut::fromJsonOr(bad, fallback), fallback) << bad;
    }
    EXPECT_EQ(HotKeyShortcut::fromJsonOr(std::nullopt, fallback), fallback);
}

TEST(HotKeyShortcut, ConflictOnlyWhenTheRecordShortcutIsUsableAndBothAreEqual) {
    EXPECT_TRUE(HotKeyShortcut::conflict({kF9, {}}, {kF9, {}}));
    EXPECT_FALSE(HotKeyShortcut::conflict({kF9, {}}, {kF9, kCmd}));
    EXPECT_FALSE(HotKeyShortcut::conflict({kA, {}}, {kA, {}}));
    EXPECT_FALSE(HotKeyShortcut::conflict({std::nullopt, {}}, {std::nullopt, {}}));
}

struct Match {
    const char* name;
    uint16_t keyCode;
    ModifierSet modifiers;
    HotKeyShortcut record;
    HotKeyShortcut play;
    HotKeyAction expected;
};

class HotKeyActionTest : public ::testing::TestWithParam<Match> {};

TEST_P(HotKeyActionTest, RecordThenPlayThenEscape) {
    const Match& m = GetParam();
    EXPECT_EQ(GlobalHotKeyMonitor::action(m.keyCode, m.modifiers, m.record, m.play), m.expected);
}

const HotKeyShortcut kF9Plain{kF9, {}}, kF10Plain{kF10, {}};

INSTANTIATE_TEST_SUITE_P(
    Matrix, HotKeyActionTest,
    ::testing::Values(
        Match{"F9Records", kF9, kNone, kF9Plain, kF10Plain, HotKeyAction::record},
        Match{"CmdF9IsNotASupersetMatch", kF9, ModifierSet::command(), kF9Plain, kF10Plain, HotKeyAction::none},
        Match{"SubsetDoesNotMatch", kS, ModifierSet::command(), {kS, ModifierSet::command() | ModifierSet::shift()},
              kF10Plain, HotKeyAction::none},
        Match{"PlainANeverMatches", kA, kNone, {kA, {}}, {kA, {}}, HotKeyAction::none},
        Match{"NoKeyCodeNeverMatches", kA, ModifierSet::command(), {std::nullopt, ModifierSet::command()},
              {std::nullopt, ModifierSet::command()}, HotKeyAction::none},
        Match{"UnsetRecordLeavesPlayReachable", kF9, kNone, {std::nullopt, {}}, kF9Plain, HotKeyAction::play},
        Match{"EqualShortcutsMeanRecord", kF9, kNone, kF9Plain, kF9Plain, HotKeyAction::record},
        Match{"EscapeWithAnyModifiers", kEsc, ModifierSet::command() | ModifierSet::option(), kF9Plain, kF10Plain,
              HotKeyAction::escape},
        Match{"ShortcutOnEscapeWinsForItsCombination", kEsc, ModifierSet::shift(), kF9Plain,
              {kEsc, ModifierSet::shift()}, HotKeyAction::play},
        Match{"ShortcutOnEscapeOtherCombinationIsEscape", kEsc, ModifierSet::control(), kF9Plain,
              {kEsc, ModifierSet::shift()}, HotKeyAction::escape},
        Match{"PlainEscapeShortcutIsUnusableSoEscape", kEsc, kNone, {kEsc, {}}, kF10Plain, HotKeyAction::escape}),

    [](const auto& info) { return std::string(info.param.name); });

class FakeKeyMonitor : public platform::KeyDownMonitor {
public:
    bool start(Handler handler) override {
        ++starts;
        if (failStart) return false;
        handler_ = std::move(handler);
        return true;
    }
    void stop() override { ++stops; }
    void press(uint16_t code, platform::EventFlags flags = 0, bool synthetic = false) {
        ASSERT_TRUE(handler_);
        handler_(platform::KeyDown{code, flags, synthetic});
    }
    Handler handler_;
    bool failStart = false;
    int starts = 0;
    int stops = 0;
};

class HotKeyMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        monitor.onRecord = [this] { calls.push_back("record"); };
        monitor.onPlay = [this] { calls.push_back("play"); };
        monitor.onEscape = [this] { calls.push_back("escape"); };
    }
    std::shared_ptr<FakeKeyMonitor> keys = std::make_shared<FakeKeyMonitor>();
    GlobalHotKeyMonitor monitor{keys};
    std::vector<std::string> calls;
};

TEST_F(HotKeyMonitorTest, PressesReachTheirCallbacksOncePerPressIncludingRepeats) {
    monitor.start();
    keys->press(kF9);
    keys->press(kF10);
    keys->press(kF10);   // a held key repeats: each repeat counts
    keys->press(kEsc, platform::kFlagCommand);
    keys->press(kA);
    EXPECT_EQ(calls, (std::vector<std::string>{"record", "play", "play", "escape"}));
}

TEST_F(HotKeyMonitorTest, OwnPostedKeysNeverTrigger) {
    monitor.start();
    keys->press(kF10, 0, /*synthetic=*/true);
    keys->press(kF9, 0, true);
    keys->press(kEsc, 0, true);
    EXPECT_TRUE(calls.empty());
    keys->press(kF10);
    EXPECT_EQ(calls, (std::vector<std::string>{"play"}));
}

TEST_F(HotKeyMonitorTest, FlagsMapToModifiersAndFnIsNotRead) {
    monitor.recordShortcut = {kS, kCmd | kShift};
    monitor.playShortcut = {kA, ModifierSet::control() | ModifierSet::option()};
    monitor.start();
    keys->press(kS, platform::kFlagCommand | platform::kFlagShift);
    keys->press(kA, platform::kFlagControl | platform::kFlagOption);
    // fn held alongside is invisible: the press still matches.
    keys->press(kS, platform::kFlagCommand | platform::kFlagShift | platform::kFlagFunction);
    EXPECT_EQ(calls, (std::vector<std::string>{"record", "play", "record"}));
    calls.clear();
    // A shortcut that needs fn can never match.
    monitor.recordShortcut = {kF9, ModifierSet::function()};
    keys->press(kF9, platform::kFlagFunction);
    keys->press(kF9);
    EXPECT_TRUE(calls.empty());
}

TEST_F(HotKeyMonitorTest, UnsetCallbacksDropAndCallbacksMayReplaceThemselves) {
    monitor.start();
    monitor.onPlay = nullptr;
    keys->press(kF10);
    EXPECT_TRUE(calls.empty());
    monitor.onRecord = [this] {
        calls.push_back("first");
        monitor.onRecord = [this] { calls.push_back("second"); };
    };
    keys->press(kF9);
    keys->press(kF9);
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "second"}));
}

TEST(HotKeyMonitor, PressDeliveredAfterTheMonitorIsGoneDoesNothing) {
    auto keys = std::make_shared<FakeKeyMonitor>();
    int records = 0;
    {
        GlobalHotKeyMonitor monitor{keys};
        monitor.onRecord = [&] { ++records; };
        monitor.start();
        keys->press(kF9);
    }
    EXPECT_EQ(keys->stops, 1);
    keys->press(kF9);
    EXPECT_EQ(records, 1);
}

}  // namespace
}  // namespace tapforge
