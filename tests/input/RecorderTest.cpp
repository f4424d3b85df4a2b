// The recorder's classification and pause rules, driven by fabricated tap records with
// exact stamps through a fake tap.
#include <limits>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "StepText.h"
#include "input/InputRecorder.h"

namespace tapforge {
namespace {

using platform::Point;
using test::describe;
using platform::TapEvent;
using platform::TapEventType;

class FakeTap : public platform::EventTap {
public:
    bool start(Handler handler) override {
        ++starts;
        if (failStart) return false;
        handler_ = std::move(handler);
        running = true;
        return true;
    }
    void stop() override { running = false; }
    void reenable() override { ++reenables; }
    bool isRunning() const override { return running; }

    // What the platform does for each record: call the installed handler.
    void feed(const TapEvent& event) {
        ASSERT_TRUE(handler_) << "tap not started";
        handler_(event);
    }
    Handler handler_;
    bool failStart = false;
    bool running = false;
    int starts = 0;
    int reenables = 0;
};

// Stamps far from 0, which the recorder reads as "no stamp yet".
constexpr uint64_t kBaseNs = 5'000'000'000'000ull;
constexpr uint64_t ns(double ms) { return kBaseNs + static_cast<uint64_t>(ms * 1'000'000.0); }

TapEvent event(TapEventType type, double ms, Point at = {}, platform::EventFlags flags = 0) {
    TapEvent e;
    e.type = type;
    e.timestampNs = ns(ms);
    e.location = at;
    e.flags = flags;
    return e;
}
TapEvent press(double ms, Point at, int64_t clickState = 1, TapEventType type = TapEventType::leftMouseDown) {
    TapEvent e = event(type, ms, at);
    e.clickState = clickState;
    return e;
}
TapEvent release(double ms, Point at, platform::EventFlags flags = 0, TapEventType type = TapEventType::leftMouseUp) {
    return event(type, ms, at, flags);
}
TapEvent key(double ms, uint16_t code, platform::EventFlags flags = 0, bool autorepeat = false) {
    TapEvent e = event(TapEventType::keyDown, ms, {}, flags);
    e.keyCode = code;
    e.autorepeat = autorepeat;
    return e;
}
TapEvent scroll(double ms, Point at, int32_t lines) {
    TapEvent e = event(TapEventType::scrollWheel, ms, at);
    e.scrollLines = lines;
    return e;
}

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        recorder.onAppend = [this](const Step& s) { script.push_back(s); };
        recorder.onRemoveLast = [this] {
            ++removals;
            if (!script.empty()) script.pop_back();
        };
    }
    void feed(std::initializer_list<TapEvent> events) {
        for (const TapEvent& e : events) tap->feed(e);
    }
    std::vector<std::string> described() const {
        std::vector<std::string> out;
        for (const Step& s : script) out.push_back(describe(s));
        return out;
    }

    std::shared_ptr<FakeTap> tap = std::make_shared<FakeTap>();
    InputRecorder recorder{tap};
    std::vector<Step> script;
    int removals = 0;
};

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct Classification {
    const char* name;
    double heldMs;
    Point releaseAt;   // pressed at (50, 50)
    bool click;
};

class RecorderClassificationTest : public RecorderTest, public ::testing::WithParamInterface<Classification> {};

TEST_P(RecorderClassificationTest, ClickOnlyWhenShortAndStill) {
    const Classification& c = GetParam();
    recorder.start();
    feed({press(0, {50, 50}), release(c.heldMs, c.releaseAt)});
    if (c.click) {
        EXPECT_THAT(described(), ElementsAre("click left@50,50"));
    } else {
        ASSERT_GE(script.size(), 2u);
        EXPECT_EQ(describe(script.front()), "down left@50,50");
        EXPECT_EQ(script.back().clickKind, ClickKind::up);
        EXPECT_EQ(script.back().kind, StepKind::mouseClick);
        for (const Step& s : script) EXPECT_NE(s.kind, StepKind::mouseMove) << "no drag events, no moves";
    }
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Matrix, RecorderClassificationTest,
    ::testing::Values(Classification{"instant", 0, {50, 50}, true},
                      Classification{"held499", 499.9, {50, 50}, true},
                      Classification{"held500", 500, {50, 50}, false},
                      Classification{"moved5_9", 100, {55.9, 50}, true},
                      Classification{"moved6", 100, {56, 50}, false},
                      Classification{"movedDiagonal", 100, {54.3, 54.3}, false},   // 6.08 points
                      Classification{"releaseAtNaN", 100, {kNaN, 50}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RecorderTest, SecondClickOfADoubleClickReplacesTheFirst) {
    recorder.start();
    feed({key(0, 0)});
    feed({press(1000, {300, 300}), release(1080, {300, 300})});
    EXPECT_THAT(described(), ElementsAre("key 0 press", "delay 1000", "click left@300,300"));
    feed({press(1200, {301, 300}, 2), release(1260, {301, 301})});
    EXPECT_EQ(removals, 1);
    EXPECT_THAT(described(), ElementsAre("key 0 press", "delay 1000", "delay 200", "doubleClick left@301,300"));
}

TEST_F(RecorderTest, TripleClickEndsAsOneDoubleClick) {
    recorder.start();
    feed({press(0, {5, 5}), release(10, {5, 5}), press(20, {5, 5}, 2), release(30, {5, 5}), press(40, {5, 5}, 3),
          release(50, {5, 5})});
    EXPECT_EQ(removals, 2);
    EXPECT_THAT(described(), ElementsAre("doubleClick left@5,5"));
}

TEST_F(RecorderTest, DragKeepsSamplesFourPointsOrSixtyMillisecondsApart) {
    recorder.start();
    feed({press(0, {0, 0}),
          event(TapEventType::leftMouseDragged, 10, {1, 0}),     // near and soon: dropped
          event(TapEventType::leftMouseDragged, 20, {4, 0}),     // 4 points: kept
          event(TapEventType::leftMouseDragged, 30, {5, 0}),     // dropped
          event(TapEventType::leftMouseDragged, 79.9, {5, 0}),   // 59.9 ms after the last sample: dropped
          event(TapEventType::leftMouseDragged, 80, {5, 0}),     // 60 ms: kept
          event(TapEventType::leftMouseDragged, 81, {5, 3.99}),  // dropped
          release(200, {50, 0})});
    EXPECT_THAT(described(), ElementsAre("down left@0,0", "move@0,0 d0", "move@4,0 d0", "delay 60", "move@5,0 d0",
                                         "delay 120", "up left@50,0"));
}

TEST_F(RecorderTest, RightDragCarriesItsButtonAndNoModifiers) {
    recorder.start();
    feed({press(0, {0, 0}, 1, TapEventType::rightMouseDown), event(TapEventType::rightMouseDragged, 10, {30, 0}),
          release(20, {30, 0}, platform::kFlagControl, TapEventType::rightMouseUp)});
    EXPECT_THAT(described(), ElementsAre("down right@0,0", "move@0,0 d0", "move@30,0 d0", "up right@30,0"));
}

TEST_F(RecorderTest, ReleaseOfAnotherButtonLeavesThePressPending) {
    recorder.start();
    feed({release(5, {0, 0}),   // nothing pending
          event(TapEventType::leftMouseDragged, 6, {40, 40}),
          press(10, {7, 7}), release(20, {7, 7}, 0, TapEventType::rightMouseUp), release(30, {7, 7})});
    EXPECT_THAT(described(), ElementsAre("click left@7,7"));
}

TEST_F(RecorderTest, PlainMovesOnlyWhenEnabledAtMostOnePer120MsUnlessFourPointsAway) {
    recorder.start();
    feed({event(TapEventType::mouseMoved, 0, {10, 10})});
    EXPECT_THAT(script, IsEmpty());
    recorder.recordMouseMove = true;
    feed({event(TapEventType::mouseMoved, 100, {10, 10}),     // first: kept
          event(TapEventType::mouseMoved, 150, {12, 10}),     // dropped
          event(TapEventType::mouseMoved, 219.9, {13, 10}),   // dropped
          event(TapEventType::mouseMoved, 220, {13, 10}),     // 120 ms: kept
          event(TapEventType::mouseMoved, 230, {17, 10})});   // 4 points: kept
    EXPECT_THAT(described(), ElementsAre("move@10,10 d0", "delay 120", "move@13,10 d0", "move@17,10 d0"));
}

TEST_F(RecorderTest, KeysRecordOnePressPerStrokeAndSkipModifiersAndRepeats) {
    recorder.start();
    feed({key(0, 56),                                              // Shift alone
          key(1, 0, platform::kFlagShift),                         // A with shift
          key(2, 0, platform::kFlagShift, /*autorepeat=*/true),   // held
          key(3, 0, platform::kFlagShift, true),
          event(TapEventType::keyUp, 4),
          key(5, 55), key(6, 58), key(7, 59), key(8, 63), key(9, 57), key(10, 60), key(11, 61), key(12, 62),
          key(20, 54, platform::kFlagCommand | platform::kFlagFunction | platform::kFlagOption | platform::kFlagControl)});
    EXPECT_THAT(described(), ElementsAre("key 0 press mod2", "key 54 press mod29"));
}

TEST_F(RecorderTest, ScrollWithZeroLinesIsSkipped) {
    recorder.start();
    feed({scroll(0, {3, 4}, 0), scroll(10, {3, 4}, 2), scroll(20, {5, 6}, -1)});
    EXPECT_THAT(described(), ElementsAre("scroll 2@3,4", "scroll -1@5,6"));
}

TEST_F(RecorderTest, PausesBelowTheThresholdAddNoDelayAndGapsRoundToMilliseconds) {
    recorder.start();
    feed({key(0, 0), key(39.4, 1), key(79.4, 2), key(119.9, 3)});
    // 39.4 rounds to 39 (no delay), 40.0 is a delay, 40.5 rounds to 41.
    EXPECT_THAT(described(), ElementsAre("key 0 press", "key 1 press", "delay 40", "key 2 press", "delay 41", "key 3 press"));
    script.clear();
    recorder.autoDelayThresholdMs = 1000;
    feed({key(1000, 4), key(2000, 5)});
    EXPECT_THAT(described(), ElementsAre("key 4 press", "delay 1000", "key 5 press"));
}

TEST_F(RecorderTest, StoppingWithAButtonHeldAddsATrailingDownWithoutDelay) {
    recorder.start();
    feed({key(0, 1), press(5000, {8, 9}, 1, TapEventType::rightMouseDown), event(TapEventType::rightMouseDragged, 6000, {80, 90})});
    recorder.stop();
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_FALSE(tap->running);
    EXPECT_THAT(described(), ElementsAre("key 1 press", "down right@8,9"));
    // Nothing is recorded once stopped, not even queued records.
    feed({release(6100, {80, 90}, 0, TapEventType::rightMouseUp), key(6200, 3)});
    EXPECT_EQ(script.size(), 2u);
    recorder.stop();   // no-op
    EXPECT_EQ(script.size(), 2u);
}

TEST_F(RecorderTest, DisabledTapIsSwitchedBackOnAndProducesNothing) {
    recorder.start();
    feed({event(TapEventType::tapDisabledByTimeout, 0), event(TapEventType::tapDisabledByUserInput, 1)});
    EXPECT_EQ(tap->reenables, 2);
    EXPECT_THAT(script, IsEmpty());
    // The notification does not count as an emission: the next step still has no delay.
    feed({key(500, 1)});
    EXPECT_THAT(described(), ElementsAre("key 1 press"));
}

TEST_F(RecorderTest, FailedTapCreationThrowsTheAccessibilityTextAndStaysIdle) {
    tap->failStart = true;
    try {
        recorder.start();
        FAIL() << "start() should throw";
    } catch (const InputRecorder::RecorderError& e) {
        EXPECT_EQ(e.code(), InputRecorder::RecorderError::Code::tapCreationFailed);
        EXPECT_STREQ(e.what(), "无法创建事件监听：请在「系统设置 → 隐私与安全性 → 辅助功能」中授权本应用。");
    }
    EXPECT_FALSE(recorder.isRecording());
    InputRecorder noTap{nullptr};
    EXPECT_THROW(noTap.start(), InputRecorder::RecorderError);
    EXPECT_FALSE(noTap.isRecording());
    tap->failStart = false;
    recorder.start();
    recorder.start();   // already recording
    EXPECT_EQ(tap->starts, 2);
    EXPECT_TRUE(recorder.isRecording());
}

// --- Faults of the plain "remove the owner's last step" rule, and their fixes. ---

TEST_F(RecorderTest, DoubleClickWhoseFirstHalfCameBeforeRecordingRemovesNothingOfTheOwner) {
    script.push_back(Step(StepKind::comment));   // the document's existing last step
    recorder.start();
    feed({press(0, {5, 5}, 2), release(10, {5, 5})});
    EXPECT_EQ(removals, 0);
    EXPECT_THAT(described(), ElementsAre("other", "click left@5,5"));
}

TEST_F(RecorderTest, QuickClickAfterADragDoesNotRemoveTheDragsUp) {
    recorder.start();
    feed({press(0, {0, 0}), event(TapEventType::leftMouseDragged, 50, {40, 0}), release(100, {40, 0}),
          press(200, {2, 0}, 2), release(220, {2, 0})});
    EXPECT_EQ(removals, 0);
    EXPECT_THAT(described(), ElementsAre("down left@0,0", "move@0,0 d0", "delay 50", "move@40,0 d0", "delay 50",
                                         "up left@40,0", "delay 100", "click left@2,0"));
}

TEST_F(RecorderTest, KeyBetweenTheTwoClicksIsKept) {
    recorder.start();
    feed({press(0, {5, 5}), release(10, {5, 5}), key(100, 36), press(200, {5, 5}, 2), release(210, {5, 5})});
    EXPECT_EQ(removals, 0);
    EXPECT_THAT(described(), ElementsAre("click left@5,5", "delay 100", "key 36 press", "delay 100", "click left@5,5"));
}

TEST_F(RecorderTest, PointerTraceBetweenTheTwoClicksGoesWithTheFirstClick) {
    recorder.recordMouseMove = true;
    recorder.start();
    feed({press(0, {5, 5}), release(10, {5, 5}), event(TapEventType::mouseMoved, 100, {6, 5}),
          event(TapEventType::mouseMoved, 230, {7, 5}), press(250, {7, 5}, 2), release(260, {7, 5})});
    EXPECT_EQ(removals, 5);   // the click, then two pairs of delay and move
    EXPECT_THAT(described(), ElementsAre("delay 250", "doubleClick left@7,5"));
}

TEST_F(RecorderTest, StampGoingBackwardsIsNoTimeNotCenturies) {
    recorder.start();
    TapEvent down = press(100, {5, 5});
    TapEvent up = release(0, {5, 5});   // earlier than the press
    feed({down, up});
    EXPECT_THAT(described(), ElementsAre("click left@5,5"));
}

TEST_F(RecorderTest, RecordQueuedAfterTheRecorderIsGoneIsDropped) {
    auto localTap = std::make_shared<FakeTap>();
    std::vector<Step> got;
    {
        InputRecorder r{localTap};
        r.onAppend = [&](const Step& s) { got.push_back(s); };
        r.start();
    }
    EXPECT_FALSE(localTap->running);
    localTap->feed(key(0, 1));   // the platform still had this one queued
    EXPECT_THAT(got, IsEmpty());
}

}  // namespace
}  // namespace tapforge
