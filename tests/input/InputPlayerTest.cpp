#include "input/InputPlayer.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

#include "platform/sim/SimDesktop.h"

namespace tapforge {
namespace {

using platform::Point;
using platform::Press;
using platform::sim::PostedEvent;
using platform::sim::SimClock;
using platform::sim::SimDesktop;

const ModifierSet kNone{}, kCmd = ModifierSet::command(), kShift = ModifierSet::shift();

// A player made with the pointer at (500, 400), posting through the rig itself (a handle owning nothing),
// which forwards to the simulated desktop but refuses the key (by code) or button (code -1) events `refuse` picks.
struct Rig : platform::EventSink {
    bool postButton(platform::PointerButton b, Press p, Point at, platform::EventFlags f, int64_t n) override {
        return !refuse(-1, p) && desktop->postButton(b, p, at, f, n);
    }
    bool postMove(Point at) override { return desktop->postMove(at); }
    bool postScroll(int32_t n, Point at) override { return desktop->postScroll(n, at); }
    bool postKey(uint16_t c, Press p, platform::EventFlags f) override { return !refuse(c, p) && desktop->postKey(c, p, f); }
    std::optional<Point> pointerLocation() override { return desktop->pointerLocation(); }
    std::string events() const { return platform::sim::describe(desktop->postedEvents()); }   // a line per event

    std::function<bool(int code, Press)> refuse = [](int, Press) { return false; };
    std::shared_ptr<SimClock> clock = std::make_shared<SimClock>();
    std::shared_ptr<SimDesktop> desktop = SimDesktop::create(clock);
    InputPlayer player{(desktop->setPointer({500, 400}), std::shared_ptr<EventSink>(std::shared_ptr<void>(), this)), clock};
};

class InputPlayerTest : public Rig, public ::testing::Test {};

TEST_F(InputPlayerTest, PositionIsThePointerAtConstructionNotTheLivePointer) {
    desktop->setPointer({1, 2});
    EXPECT_EQ(player.position(), (Point{500, 400}));
    player.move({600, 400}, 32);   // starts from the remembered position
    EXPECT_EQ(events(), "0ms move (550,400)\n16ms move (600,400)");
}

TEST_F(InputPlayerTest, DoubleClickStatesAndTiming) {
    player.click(MouseButton::left, ClickKind::doubleClick, {10, 20}, kCmd | kShift);
    EXPECT_EQ(events(), "0ms button left down (10,20) flags 0x120000 click 1\n20ms button left up (10,20) flags 0x120000 click 1\n"
                        "80ms button left down (10,20) flags 0x120000 click 2\n100ms button left up (10,20) flags 0x120000 click 2");
}

// What cannot be posted still takes its time; a click still moves the position, a move does not.
TEST_F(InputPlayerTest, EventsThatCannotBePosted) {
    desktop->setPostingFails(true);
    player.move({9, 9}, 0);
    player.move({9, 9}, 48);
    EXPECT_EQ(player.position(), (Point{500, 400}));
    player.click(MouseButton::left, ClickKind::doubleClick, {7, 8}, kNone);
    EXPECT_EQ(player.position(), (Point{7, 8}));
    EXPECT_EQ(clock->nowMicros(), 148000);
    EXPECT_EQ(events(), "");
}

// Steps are linear in both axes and evenly spaced; an interval never exceeds the 32-bit
// microsecond range (4 294 967 ms per step is kept exactly, a fraction more is capped).
TEST(InputPlayerMove, StepsAndIntervals) {
    constexpr int64_t kCap = 0xFFFFFFFF;
    const struct { int64_t durationMs; size_t events; int64_t intervalMicros; } cases[] = {
        {0, 1, 0}, {-5, 1, 0}, {31, 1, 31000}, {32, 2, 16000}, {100, 6, 16666}, {1936, 120, 16133},
        {10000, 120, 83333}, {4'294'967 * 120, 120, 4'294'967'000}, {4'294'967 * 120 + 119, 120, kCap},
        {600'000'000'000, 120, kCap}, {std::numeric_limits<int64_t>::max(), 120, kCap}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.durationMs);
        Rig r;
        r.player.move({1500, 1000}, c.durationMs);
        const auto posted = r.desktop->postedEvents();
        ASSERT_EQ(posted.size(), c.events);
        for (size_t i = 0; i < posted.size(); ++i) {
            const double t = double(i + 1) / double(posted.size());
            EXPECT_EQ(posted[i].kind, PostedEvent::Kind::move);
            EXPECT_EQ(posted[i].timeMicros, int64_t(i) * c.intervalMicros) << i;
            EXPECT_DOUBLE_EQ(posted[i].location.x, 500 + 1000 * t) << i;
            EXPECT_DOUBLE_EQ(posted[i].location.y, 400 + 600 * t) << i;
        }
        EXPECT_EQ(r.clock->nowMicros(), int64_t(c.events) * c.intervalMicros);
        EXPECT_EQ(r.player.position(), (Point{1500, 1000}));
    }
}

TEST_F(InputPlayerTest, ScrollAmountIsClampedToOneWheelEvent) {
    player.scroll(std::numeric_limits<int64_t>::max(), {1, 1});
    player.scroll(int64_t(std::numeric_limits<int32_t>::min()) - 1, {1, 1});
    player.scroll(std::numeric_limits<int32_t>::max(), {1, 1});
    EXPECT_EQ(events(), "0ms move (1,1)\n0ms scroll 2147483647 (1,1)\n15ms move (1,1)\n"
                        "15ms scroll -2147483648 (1,1)\n30ms move (1,1)\n30ms scroll 2147483647 (1,1)");
}

TEST_F(InputPlayerTest, AllModifiersPressInOrderAndReleaseInReverse) {
    player.key(122, KeyEventKind::press, ModifierSet{31});
    EXPECT_EQ(events(), "0ms key down 59 flags 0x40000\n8ms key down 58 flags 0xc0000\n16ms key down 56 flags 0xe0000\n"
                        "24ms key down 55 flags 0x1e0000\n32ms key down 63 flags 0x9e0000\n40ms key down 122 flags 0x9e0000\n"
                        "52ms key up 122 flags 0x9e0000\n52ms key up 63 flags 0x1e0000\n60ms key up 55 flags 0xe0000\n"
                        "68ms key up 56 flags 0xc0000\n76ms key up 58 flags 0x40000\n84ms key up 59 flags 0x0");
}

TEST_F(InputPlayerTest, TypingMixedTextPacesEachCharacter) {
    player.typeText("a1\n");
    EXPECT_EQ(events(), "0ms key down 0 flags 0x0\n8ms key up 0 flags 0x0\n16ms key down 18 flags 0x0\n"
                        "24ms key up 18 flags 0x0\n32ms key down 36 flags 0x0\n40ms key up 36 flags 0x0");
    EXPECT_EQ(clock->nowMicros(), 48000);
}

// Characters outside the table, and clusters holding a typable letter plus marks, post
// nothing and take no time; only the typable clusters around them are typed.
TEST(InputPlayerTyping, TypesOnlyWholeTableCharacters) {
    const std::pair<std::string, std::string> cases[] = {   // text, the characters typed
        {"\u00E9", ""}, {"e\u0301", ""}, {"xa\u0301\u0323\u20DDy", "xy"}, {"\u4E2D\u6587ok", "ok"},
        {"a\r\nb", "ab"}, {"\r\r\n\n", "\n"}, {"\U0001F468\u200D\U0001F469\u200D\U0001F467x", "x"},
        {"\U0001F468\u200Dx", "x"},   // ASCII after a joiner starts anew
        {"\t\u0301", "\t"},           // a mark after a control character stays apart
        {"a\xFF" "b\xC3", "ab"}, {"\xC0\xAF" "c\xED\xA0\x80" "d", "cd"}, {"a\xFF\u0301", ""}};
    for (const auto& [text, typed] : cases) {
        SCOPED_TRACE(text);
        Rig r, reference;
        r.player.typeText(text);
        for (char c : typed) reference.player.typeText(std::string(1, c));
        EXPECT_EQ(r.events(), reference.events());
        EXPECT_EQ(r.clock->nowMicros(), int64_t(typed.size()) * 16000);
    }
}

TEST_F(InputPlayerTest, DragSequence) {
    player.drag({10, 10}, {42, 26}, 32);
    EXPECT_EQ(events(), "0ms move (10,10)\n0ms button left down (10,10) flags 0x0 click 1\n0ms move (26,18)\n"
                        "16ms move (42,26)\n32ms button left up (42,26) flags 0x0 click 1");
    EXPECT_EQ(player.position(), (Point{42, 26}));
}

// After balanced operations nothing is held; what is held is let go once, in reverse order,
// with the flags still held.
TEST_F(InputPlayerTest, ReleaseHeldLetsGoOfWhatIsHeldOnce) {
    player.key(1, KeyEventKind::press, ModifierSet{31});
    player.typeText("Hello, World!");
    player.click(MouseButton::left, ClickKind::doubleClick, {1, 1}, kCmd);
    player.drag({1, 1}, {2, 2}, 20);
    player.key(4, KeyEventKind::down, kNone);
    player.key(4, KeyEventKind::down, kNone);   // a repeat does not need two releases
    player.key(4, KeyEventKind::up, kNone);
    player.click(MouseButton::center, ClickKind::down, {1, 1}, kNone);
    player.click(MouseButton::center, ClickKind::up, {1, 1}, kNone);
    player.key(1, KeyEventKind::down, kCmd | kShift);
    player.click(MouseButton::right, ClickKind::down, {5, 6}, kNone);
    player.move({7, 8}, 0);
    desktop->clearPostedEvents();
    player.releaseHeld();
    player.releaseHeld();
    EXPECT_EQ(events(), "436ms button right up (7,8) flags 0x120000 click 1\n444ms key up 1 flags 0x120000\n"
                        "452ms key up 55 flags 0x20000\n460ms key up 56 flags 0x0");
}

TEST_F(InputPlayerTest, ModifiersAreReleasedWhenTheKeyUpCannotBeCreatedAndTheKeyAtTheEnd) {
    refuse = [](int code, Press press) { return code == 1 && press == Press::up; };
    player.key(1, KeyEventKind::press, kCmd);
    refuse = [](int, Press) { return false; };
    player.releaseHeld();
    EXPECT_EQ(events(), "0ms key down 55 flags 0x100000\n8ms key down 1 flags 0x100000\n20ms key up 55 flags 0x0\n"
                        "28ms key up 1 flags 0x0");
}

TEST_F(InputPlayerTest, AKeyOrButtonWhosePressFailedIsNotReleased) {
    refuse = [](int code, Press press) { return (code == 55 || code == -1) && press == Press::down; };
    player.key(1, KeyEventKind::down, kCmd);
    player.click(MouseButton::left, ClickKind::down, {1, 1}, kNone);
    desktop->clearPostedEvents();
    player.releaseHeld();
    EXPECT_EQ(events(), "8ms key up 1 flags 0x0");
}

}  // namespace
}  // namespace tapforge
