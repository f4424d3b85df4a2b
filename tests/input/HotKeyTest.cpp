// Shortcut validity and stored form, the matching priorities, and the monitor's dispatch.
#include <gtest/gtest.h>

#include <string>

#include "input/GlobalHotKeyMonitor.h"
#include "platform/EventFlags.h"

namespace tapforge {
namespace {

const ModifierSet kNone{}, kCmd = ModifierSet::command(), kShift = ModifierSet::shift(), kFn = ModifierSet::function();
const ModifierSet kCtrl = ModifierSet::control(), kOpt = ModifierSet::option();
constexpr uint16_t kA = 0, kS = 1, kF1 = 122, kF9 = 101, kF10 = 109, kF13 = 105, kEsc = 53;
const HotKeyShortcut kF9Plain{kF9, {}}, kF10Plain{kF10, {}};

// A shortcut conflicts with an equal one only when usable.
TEST(HotKeyShortcut, UsableNeedsAKeyAndAModifierOrAListedFKey) {
    const std::pair<HotKeyShortcut, bool> cases[] = {
        {{std::nullopt, {}}, false}, {{kA, {}}, false}, {{kA, kCmd}, true}, {{kA, kFn}, true},
        {{kF1, {}}, true}, {{kF13, {}}, false}, {{kA, ModifierSet{64}}, true}};   // last: an unknown bit alone
    for (const auto& [shortcut, usable] : cases) {
        EXPECT_EQ(shortcut.isUsable(), usable) << shortcut.toJson();
        EXPECT_EQ(HotKeyShortcut::conflict(shortcut, shortcut), usable) << shortcut.toJson();
    }
    EXPECT_FALSE(HotKeyShortcut::conflict(kF9Plain, {kF9, kCmd}));
}

// Absent or null fields read as unset; anything that is not a shortcut falls back.
TEST(HotKeyShortcut, StoredJsonDecodesRoundTripsOrFallsBackToTheDefault) {
    const HotKeyShortcut fallback = HotKeyShortcut::defaultPlay();
    const std::pair<const char*, HotKeyShortcut> good[] = {
        {R"({"keyCode":101})", {kF9, {}}}, {R"({"modifiers":2})", {std::nullopt, kShift}}, {R"({"keyCode":0})", {0, {}}},
        {R"({"keyCode":null,"modifiers":null,"other":[1]})", {}}, {R"({"keyCode":1.0,"modifiers":3})", {kS, kCmd | kShift}},
        {R"({"keyCode":65535,"modifiers":1099511627776})", {65535, ModifierSet{1LL << 40}}}};
    for (const auto& [json, expected] : good) {
        EXPECT_EQ(HotKeyShortcut::fromJson(json), expected) << json;
        EXPECT_EQ(HotKeyShortcut::fromJsonOr(json, fallback), expected) << json;
        EXPECT_EQ(HotKeyShortcut::fromJson(expected.toJson()), expected) << json;
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

TEST(HotKeyMonitor, ActionIsRecordThenPlayThenEscape) {
    const struct { uint16_t key; ModifierSet modifiers; HotKeyShortcut record, play; HotKeyAction expected; } cases[] = {
        {kF9, kNone, kF9Plain, kF10Plain, HotKeyAction::record},
        {kF9, kCmd, kF9Plain, kF10Plain, HotKeyAction::none},             // no superset match
        {kS, kCmd, {kS, kCmd | kShift}, kF10Plain, HotKeyAction::none},   // nor subset
        {kA, kNone, {kA, {}}, {kA, {}}, HotKeyAction::none},               // unusable shortcuts never match
        {kA, kCmd, {std::nullopt, kCmd}, {std::nullopt, kCmd}, HotKeyAction::none},
        {kF9, kNone, {}, kF9Plain, HotKeyAction::play},                    // an unset record leaves play reachable
        {kF9, kNone, kF9Plain, kF9Plain, HotKeyAction::record},            // equal: record wins
        {kEsc, kCmd | kOpt, kF9Plain, kF10Plain, HotKeyAction::escape},    // Escape with any modifiers
        {kEsc, kShift, kF9Plain, {kEsc, kShift}, HotKeyAction::play},      // a shortcut on Escape wins for its combination
        {kEsc, kCtrl, kF9Plain, {kEsc, kShift}, HotKeyAction::escape},
        {kEsc, kNone, {kEsc, {}}, kF10Plain, HotKeyAction::escape}};       // plain Escape is no usable shortcut
    for (const auto& c : cases)
        EXPECT_EQ(GlobalHotKeyMonitor::action(c.key, c.modifiers, c.record, c.play), c.expected) << "row " << &c - cases;
}

// Keeps the handler after stop(), as a platform may still deliver a press it had queued.
struct FakeKeys : platform::KeyDownMonitor {
    bool start(Handler h) override { return handler = std::move(h), true; }
    void stop() override { ++stops; }
    void press(uint16_t code, platform::EventFlags flags = 0, bool synthetic = false) { handler({code, flags, synthetic}); }
    Handler handler;
    int stops = 0;
};

class HotKeyMonitorTest : public ::testing::Test {
protected:
    HotKeyMonitorTest() {
        monitor.onRecord = [this] { calls += "record "; };
        monitor.onPlay = [this] { calls += "play "; };
        monitor.onEscape = [this] { calls += "escape "; };
        monitor.start();
    }
    std::shared_ptr<FakeKeys> keys = std::make_shared<FakeKeys>();
    GlobalHotKeyMonitor monitor{keys};
    std::string calls;
};

TEST_F(HotKeyMonitorTest, EachUserPressReachesItsCallbackAndOwnPostedKeysNever) {
    for (uint16_t code : {kF10, kF9, kEsc}) keys->press(code, 0, /*synthetic=*/true);
    for (uint16_t code : {kF9, kF10, kF10, kA}) keys->press(code);   // a held key repeats: each repeat counts
    keys->press(kEsc, platform::kFlagCommand);
    monitor.onPlay = nullptr;   // an unset callback drops the press
    keys->press(kF10);
    monitor.onRecord = [this] {   // a callback may replace itself
        calls += "first ";
        monitor.onRecord = [this] { calls += "second"; };
    };
    keys->press(kF9);
    keys->press(kF9);
    EXPECT_EQ(calls, "record play play escape first second");
}

TEST_F(HotKeyMonitorTest, FlagsMapToModifiersAndFnIsNotRead) {
    monitor.recordShortcut = {kS, kCmd | kShift};
    monitor.playShortcut = {kA, kCtrl | kOpt};
    keys->press(kS, platform::kFlagCommand | platform::kFlagShift);
    keys->press(kA, platform::kFlagControl | platform::kFlagOption);
    keys->press(kS, platform::kFlagCommand | platform::kFlagShift | platform::kFlagFunction);   // fn held is invisible
    monitor.recordShortcut = {kF9, kFn};   // so a shortcut that needs fn never matches
    keys->press(kF9, platform::kFlagFunction);
    keys->press(kF9);
    EXPECT_EQ(calls, "record play record ");
}

TEST(HotKeyMonitor, PressDeliveredAfterTheMonitorIsGoneDoesNothing) {
    auto keys = std::make_shared<FakeKeys>();
    auto monitor = std::make_unique<GlobalHotKeyMonitor>(keys);
    int records = 0;
    monitor->onRecord = [&] { ++records; };
    monitor->start();
    keys->press(kF9);
    monitor.reset();
    EXPECT_EQ(keys->stops, 1);
    keys->press(kF9);
    EXPECT_EQ(records, 1);
}

}  // namespace
}  // namespace tapforge
