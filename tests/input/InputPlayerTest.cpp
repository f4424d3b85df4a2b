#include "input/InputPlayer.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "platform/sim/SimDesktop.h"

namespace tapforge {
namespace {

using platform::Point;
using platform::Press;
using platform::PointerButton;
using platform::sim::PostedEvent;
using platform::sim::SimClock;
using platform::sim::SimDesktop;

const ModifierSet kNone{};
const ModifierSet kCmd = ModifierSet::command();
const ModifierSet kShift = ModifierSet::shift();

using Lines = std::vector<std::string>;

Lines lines(const std::vector<PostedEvent>& posted) {
    Lines out;
    for (const PostedEvent& e : posted) out.push_back(platform::sim::describe(e));
    return out;
}

// Forwards to the simulated desktop but refuses the events a test picks, as when one event
// cannot be created.
class PickyEventSink final : public platform::EventSink {
public:
    explicit PickyEventSink(std::shared_ptr<SimDesktop> desktop) : desktop_(std::move(desktop)) {}
    std::function<bool(uint16_t keyCode, Press)> refuseKey = [](uint16_t, Press) { return false; };
    std::function<bool(PointerButton, Press)> refuseButton = [](PointerButton, Press) { return false; };

    bool postButton(PointerButton b, Press p, Point at, platform::EventFlags f, int64_t clickState) override {
        return !refuseButton(b, p) && desktop_->postButton(b, p, at, f, clickState);
    }
    bool postMove(Point at) override { return desktop_->postMove(at); }
    bool postScroll(int32_t lines, Point at) override { return desktop_->postScroll(lines, at); }
    bool postKey(uint16_t code, Press p, platform::EventFlags f) override {
        return !refuseKey(code, p) && desktop_->postKey(code, p, f);
    }
    std::optional<Point> pointerLocation() override { return desktop_->pointerLocation(); }

private:
    std::shared_ptr<SimDesktop> desktop_;
};

class InputPlayerTest : public ::testing::Test {
protected:
    InputPlayerTest() { desktop->setPointer({500, 400}); }

    InputPlayer& player() {
        if (!player_) player_ = std::make_unique<InputPlayer>(sink ? sink : desktop, clock);
        return *player_;
    }
    Lines events() const { return lines(desktop->postedEvents()); }
    std::vector<PostedEvent> moves() const {
        std::vector<PostedEvent> out;
        for (const PostedEvent& e : desktop->postedEvents())
            if (e.kind == PostedEvent::Kind::move) out.push_back(e);
        return out;
    }

    std::shared_ptr<SimClock> clock = std::make_shared<SimClock>();
    std::shared_ptr<SimDesktop> desktop = SimDesktop::create(clock);
    std::shared_ptr<platform::EventSink> sink;  // set to interpose a PickyEventSink
    std::unique_ptr<InputPlayer> player_;
};

// ---- position --------------------------------------------------------------------------------

TEST_F(InputPlayerTest, PositionIsThePointerAtConstructionNotTheLivePointer) {
    EXPECT_EQ(player().position(), (Point{500, 400}));
    desktop->setPointer({1, 2});
    EXPECT_EQ(player().position(), (Point{500, 400}));
    // A move starts from the remembered position, not from where the user put the pointer.
    player().move({600, 400}, 32);
    EXPECT_EQ(events(), (Lines{"0ms move (550,400)", "16ms move (600,400)"}));
}

// ---- click -----------------------------------------------------------------------------------

TEST_F(InputPlayerTest, DoubleClickStatesAndTiming) {
    player().click(MouseButton::left, ClickKind::doubleClick, {10, 20}, kCmd | kShift);
    EXPECT_EQ(events(), (Lines{"0ms button left down (10,20) flags 0x120000 click 1",
                               "20ms button left up (10,20) flags 0x120000 click 1",
                               "80ms button left down (10,20) flags 0x120000 click 2",
                               "100ms button left up (10,20) flags 0x120000 click 2"}));
    EXPECT_EQ(clock->nowMicros(), 100000);
}

TEST_F(InputPlayerTest, ClickThatCannotBePostedStillPacesAndMovesPosition) {
    desktop->setPostingFails(true);
    player().click(MouseButton::left, ClickKind::doubleClick, {7, 8}, kNone);
    EXPECT_TRUE(events().empty());
    EXPECT_EQ(clock->nowMicros(), 100000);
    EXPECT_EQ(player().position(), (Point{7, 8}));
}

// ---- move ------------------------------------------------------------------------------------

struct MoveCase {
    int64_t durationMs;
    size_t events;
    int64_t intervalMicros;  // sleep after each event; 0 for the instant jump
};

class InputPlayerMoveTest : public InputPlayerTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(InputPlayerMoveTest, StepsAndIntervals) {
    const MoveCase c = GetParam();
    player().move({1500, 1000}, c.durationMs);
    const auto posted = moves();
    ASSERT_EQ(posted.size(), c.events);
    ASSERT_EQ(events().size(), c.events);  // nothing but moves
    for (size_t i = 0; i < posted.size(); ++i) EXPECT_EQ(posted[i].timeMicros, int64_t(i) * c.intervalMicros) << i;
    EXPECT_EQ(clock->nowMicros(), int64_t(c.events) * c.intervalMicros);
    EXPECT_EQ(posted.back().location, (Point{1500, 1000}));
    EXPECT_EQ(player().position(), (Point{1500, 1000}));
    // Linear in both axes from the start position (500, 400).
    for (size_t i = 0; i < posted.size(); ++i) {
        const double t = double(i + 1) / double(posted.size());
        EXPECT_DOUBLE_EQ(posted[i].location.x, 500 + 1000 * t) << i;
        EXPECT_DOUBLE_EQ(posted[i].location.y, 400 + 600 * t) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Durations, InputPlayerMoveTest,
                         ::testing::Values(MoveCase{0, 1, 0}, MoveCase{-5, 1, 0}, MoveCase{31, 1, 31000},
                                           MoveCase{32, 2, 16000}, MoveCase{100, 6, 16666},
                                           MoveCase{1936, 120, 16133}, MoveCase{10000, 120, 83333}),
                         [](const auto& info) {
                             const int64_t d = info.param.durationMs;
                             return (d < 0 ? "minus" + std::to_string(-d) : std::to_string(d)) + "ms";
                         });

// The gap between the first two of the 120 steps of a move lasting `durationMs`.
int64_t firstIntervalOfMove(int64_t durationMs) {
    auto clock = std::make_shared<SimClock>();
    auto desktop = SimDesktop::create(clock);
    InputPlayer player(desktop, clock);
    player.move({0, 0}, durationMs);
    const auto posted = desktop->postedEvents();
    EXPECT_EQ(posted.size(), 120u);
    EXPECT_EQ(posted.back().location, (Point{0, 0}));
    return posted.size() < 2 ? -1 : posted[1].timeMicros - posted[0].timeMicros;
}

TEST(InputPlayerLongMove, IntervalsStayInThe32BitMicrosecondRange) {
    constexpr int64_t kCap = 0xFFFFFFFF;
    EXPECT_EQ(firstIntervalOfMove(std::numeric_limits<int64_t>::max()), kCap);
    EXPECT_EQ(firstIntervalOfMove(600'000'000'000), kCap);
    // At the edge: 4 294 967 ms per step is kept exactly, a fraction more is capped.
    EXPECT_EQ(firstIntervalOfMove(4'294'967 * 120), 4'294'967'000);
    EXPECT_EQ(firstIntervalOfMove(4'294'967 * 120 + 119), kCap);
}

TEST_F(InputPlayerTest, InstantMoveThatFailsKeepsPosition) {
    desktop->setPostingFails(true);
    player().move({9, 9}, 0);
    EXPECT_EQ(player().position(), (Point{500, 400}));
    // An interpolated move that cannot post still takes its time.
    player().move({9, 9}, 48);
    EXPECT_EQ(clock->nowMicros(), 48000);
    EXPECT_EQ(player().position(), (Point{500, 400}));
}

// ---- scroll ----------------------------------------------------------------------------------

TEST_F(InputPlayerTest, ScrollAmountIsClampedToOneWheelEvent) {
    player().scroll(std::numeric_limits<int64_t>::max(), {1, 1});
    player().scroll(int64_t(std::numeric_limits<int32_t>::min()) - 1, {1, 1});
    player().scroll(std::numeric_limits<int32_t>::max(), {1, 1});
    EXPECT_EQ(events(), (Lines{"0ms move (1,1)", "0ms scroll 2147483647 (1,1)", "15ms move (1,1)",
                               "15ms scroll -2147483648 (1,1)", "30ms move (1,1)", "30ms scroll 2147483647 (1,1)"}));
}

// ---- key -------------------------------------------------------------------------------------

TEST_F(InputPlayerTest, AllModifiersPressInOrderAndReleaseInReverse) {
    player().key(122, KeyEventKind::press, ModifierSet{31});
    EXPECT_EQ(events(), (Lines{"0ms key down 59 flags 0x40000", "8ms key down 58 flags 0xc0000",
                               "16ms key down 56 flags 0xe0000", "24ms key down 55 flags 0x1e0000",
                               "32ms key down 63 flags 0x9e0000", "40ms key down 122 flags 0x9e0000",
                               "52ms key up 122 flags 0x9e0000", "52ms key up 63 flags 0x1e0000",
                               "60ms key up 55 flags 0xe0000", "68ms key up 56 flags 0xc0000",
                               "76ms key up 58 flags 0x40000", "84ms key up 59 flags 0x0"}));
}

TEST_F(InputPlayerTest, ModifiersAreReleasedWhenTheKeyUpCannotBeCreated) {
    auto picky = std::make_shared<PickyEventSink>(desktop);
    bool refuse = true;
    picky->refuseKey = [&refuse](uint16_t code, Press p) { return refuse && code == 1 && p == Press::up; };
    sink = picky;
    player().key(1, KeyEventKind::press, kCmd);
    EXPECT_EQ(events(), (Lines{"0ms key down 55 flags 0x100000", "8ms key down 1 flags 0x100000", "20ms key up 55 flags 0x0"}));
    EXPECT_EQ(clock->nowMicros(), 28000);
    // The key whose release failed is still held, and is released at the end.
    refuse = false;
    desktop->clearPostedEvents();
    player().releaseHeld();
    ASSERT_EQ(desktop->postedEvents().size(), 1u);
    EXPECT_EQ(desktop->postedEvents()[0].keyCode, 1);
    EXPECT_EQ(desktop->postedEvents()[0].press, Press::up);
}

// ---- typing ----------------------------------------------------------------------------------

TEST_F(InputPlayerTest, TypingMixedTextPacesEachCharacter) {
    player().typeText("a1\n");
    EXPECT_EQ(events(), (Lines{"0ms key down 0 flags 0x0", "8ms key up 0 flags 0x0", "16ms key down 18 flags 0x0",
                               "24ms key up 18 flags 0x0", "32ms key down 36 flags 0x0", "40ms key up 36 flags 0x0"}));
    EXPECT_EQ(clock->nowMicros(), 48000);
}

// Characters outside the table, and clusters holding a typable letter plus marks, post
// nothing and take no time; only the typable clusters around them are typed.
struct TypeCase {
    const char* name;
    std::string text;
    std::string typed;  // the characters expected to be typed, in order
};

class InputPlayerTypeTest : public InputPlayerTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(InputPlayerTypeTest, TypesOnlyWholeTableCharacters) {
    player().typeText(GetParam().text);
    // Type the expectation on a fresh desktop for comparison.
    auto clock2 = std::make_shared<SimClock>();
    auto desktop2 = SimDesktop::create(clock2);
    InputPlayer reference(desktop2, clock2);
    for (char c : GetParam().typed) reference.typeText(std::string(1, c));
    EXPECT_EQ(events(), lines(desktop2->postedEvents()));
    EXPECT_EQ(clock->nowMicros(), int64_t(GetParam().typed.size()) * 16000);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, InputPlayerTypeTest,
    ::testing::Values(TypeCase{"AccentedLetter", "\u00E9", ""}, TypeCase{"CombiningAccent", "e\u0301", ""},
                      TypeCase{"SeveralMarks", "xa\u0301\u0323\u20DDy", "xy"}, TypeCase{"CJK", "\u4E2D\u6587ok", "ok"},
                      TypeCase{"CarriageReturnLineFeed", "a\r\nb", "ab"}, TypeCase{"CrThenCrLf", "\r\r\n\n", "\n"},
                      TypeCase{"EmojiZwjSequence", "\U0001F468\u200D\U0001F469\u200D\U0001F467x", "x"},
                      TypeCase{"AsciiAfterJoinerStartsAnew", "\U0001F468\u200Dx", "x"},
                      TypeCase{"MarkAfterControlStaysApart", "\t\u0301", "\t"},
                      TypeCase{"InvalidBytesSkipped", "a\xFF" "b\xC3", "ab"},
                      TypeCase{"OverlongAndSurrogate", "\xC0\xAF" "c\xED\xA0\x80" "d", "cd"},
                      TypeCase{"InvalidByteBetweenLetterAndMark", "a\xFF\u0301", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- drag ------------------------------------------------------------------------------------

TEST_F(InputPlayerTest, DragSequence) {
    player().drag({10, 10}, {42, 26}, 32);
    EXPECT_EQ(events(), (Lines{"0ms move (10,10)", "0ms button left down (10,10) flags 0x0 click 1", "0ms move (26,18)",
                               "16ms move (42,26)", "32ms button left up (42,26) flags 0x0 click 1"}));
    EXPECT_EQ(player().position(), (Point{42, 26}));
}

// ---- releasing what is held ------------------------------------------------------------------

TEST_F(InputPlayerTest, ReleaseHeldLetsGoInReverseOrderWithRemainingFlags) {
    player().key(1, KeyEventKind::down, kCmd | kShift);
    player().click(MouseButton::right, ClickKind::down, {5, 6}, kNone);
    player().move({7, 8}, 0);
    desktop->clearPostedEvents();
    const int64_t start = clock->nowMicros();
    player().releaseHeld();
    std::vector<PostedEvent> posted = desktop->postedEvents();
    for (PostedEvent& e : posted) e.timeMicros -= start;
    EXPECT_EQ(lines(posted), (Lines{"0ms button right up (7,8) flags 0x120000 click 1", "8ms key up 1 flags 0x120000",
                                    "16ms key up 55 flags 0x20000", "24ms key up 56 flags 0x0"}));
    desktop->clearPostedEvents();
    player().releaseHeld();
    EXPECT_TRUE(events().empty());
}

TEST_F(InputPlayerTest, NothingIsHeldAfterBalancedOperations) {
    player().key(1, KeyEventKind::press, ModifierSet{31});
    player().typeText("Hello, World!");
    player().click(MouseButton::left, ClickKind::doubleClick, {1, 1}, kCmd);
    player().drag({1, 1}, {2, 2}, 20);
    player().key(4, KeyEventKind::down, kNone);
    player().key(4, KeyEventKind::down, kNone);  // a repeat does not need two releases
    player().key(4, KeyEventKind::up, kNone);
    player().click(MouseButton::center, ClickKind::down, {1, 1}, kNone);
    player().click(MouseButton::center, ClickKind::up, {1, 1}, kNone);
    desktop->clearPostedEvents();
    player().releaseHeld();
    EXPECT_TRUE(events().empty());
}

TEST_F(InputPlayerTest, AKeyWhosePressFailedIsNotReleased) {
    auto picky = std::make_shared<PickyEventSink>(desktop);
    picky->refuseKey = [](uint16_t code, Press p) { return code == 55 && p == Press::down; };
    picky->refuseButton = [](PointerButton, Press p) { return p == Press::down; };
    sink = picky;
    player().key(1, KeyEventKind::down, kCmd);
    player().click(MouseButton::left, ClickKind::down, {1, 1}, kNone);
    desktop->clearPostedEvents();
    player().releaseHeld();
    EXPECT_EQ(events(), (Lines{"8ms key up 1 flags 0x0"}));
}

}  // namespace
}  // namespace tapforge
