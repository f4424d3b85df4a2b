// The recorder's classification and pause rules, fed fabricated records with exact stamps.
#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "StepText.h"
#include "input/InputRecorder.h"

namespace tapforge {
namespace {

using platform::Point;
using platform::TapEvent;
using T = platform::TapEventType;

// Keeps the handler after stop(), as a platform may still deliver a record it had queued.
struct FakeTap : platform::EventTap {
    bool start(Handler h) override {
        ++starts;
        return !failStart && (handler = std::move(h), running = true);
    }
    void stop() override { running = false; }
    void reenable() override { ++reenables; }
    bool isRunning() const override { return running; }
    Handler handler;
    bool failStart = false, running = false;
    int starts = 0, reenables = 0;
};

// Records at `ms` after a stamp far from 0, which the recorder reads as "no stamp yet".
constexpr uint64_t ns(double ms) { return 5'000'000'000'000ull + uint64_t(ms * 1e6); }
TapEvent ev(T type, double ms, Point at = {}, platform::EventFlags flags = 0) {
    return {.type = type, .timestampNs = ns(ms), .location = at, .flags = flags};
}
TapEvent down(double ms, Point at, int64_t clicks = 1, T type = T::leftMouseDown) {
    return {.type = type, .timestampNs = ns(ms), .location = at, .clickState = clicks};
}
TapEvent up(double ms, Point at, T type = T::leftMouseUp) { return ev(type, ms, at); }
TapEvent drag(double ms, Point at) { return ev(T::leftMouseDragged, ms, at); }
TapEvent moved(double ms, Point at) { return ev(T::mouseMoved, ms, at); }
TapEvent key(double ms, uint16_t code, platform::EventFlags flags = 0, bool autorepeat = false) {
    return {.type = T::keyDown, .timestampNs = ns(ms), .location = {}, .flags = flags, .keyCode = code, .autorepeat = autorepeat};
}
TapEvent scroll(double ms, Point at, int32_t lines) {
    return {.type = T::scrollWheel, .timestampNs = ns(ms), .location = at, .scrollLines = lines};
}

// A started recorder whose steps land in `script`; the owner's "remove last" pops it.
struct Rig {
    explicit Rig(bool recordMoves = false, int64_t thresholdMs = 40) {
        recorder.onAppend = [this](const Step& s) { script.push_back(s); };
        recorder.onRemoveLast = [this] { ++removals; if (!script.empty()) script.pop_back(); };
        recorder.recordMouseMove = recordMoves;
        recorder.autoDelayThresholdMs = thresholdMs;
        recorder.start();
    }
    void feed(const std::vector<TapEvent>& events) { for (const TapEvent& e : events) tap->handler(e); }
    std::string steps() const {
        std::string out;
        for (const Step& s : script) out += (out.empty() ? "" : " | ") + test::describe(s);
        return out;
    }
    std::shared_ptr<FakeTap> tap = std::make_shared<FakeTap>();
    InputRecorder recorder{tap};
    std::vector<Step> script;
    int removals = 0;
};

TEST(Recorder, RecordsToSteps) {
    const auto shift = platform::kFlagShift;
    const auto allButShift = platform::kFlagCommand | platform::kFlagFunction | platform::kFlagOption | platform::kFlagControl;
    const struct { const char* name; std::vector<TapEvent> events; const char* steps;
                   int removals = 0; bool recordMoves = false; int64_t thresholdMs = 40; } cases[] = {
        // A click is short and still: under 500 ms, under 6 points.
        {"instant", {down(0, {50, 50}), up(0, {50, 50})}, "click left@50,50"},
        {"held499", {down(0, {50, 50}), up(499.9, {50, 50})}, "click left@50,50"},
        {"held500", {down(0, {50, 50}), up(500, {50, 50})}, "down left@50,50 | delay 500 | up left@50,50"},
        {"moved5_9", {down(0, {50, 50}), up(100, {55.9, 50})}, "click left@50,50"},
        {"moved6", {down(0, {50, 50}), up(100, {56, 50})}, "down left@50,50 | delay 100 | up left@56,50"},
        {"moved6_08", {down(0, {50, 50}), up(100, {54.3, 54.3})}, "down left@50,50 | delay 100 | up left@54,54"},
        {"stampGoingBackwardsIsNoTime", {down(100, {5, 5}), up(0, {5, 5})}, "click left@5,5"},
        // Drag samples are kept 4 points or 60 ms apart; the up keeps no modifiers.
        {"drag", {down(0, {}), drag(10, {1, 0}), drag(20, {4, 0}), drag(30, {5, 0}), drag(79.9, {5, 0}), drag(80, {5, 0}),
                  drag(81, {5, 3.99}), up(200, {50, 0})},
         "down left@0,0 | move@0,0 d0 | move@4,0 d0 | delay 60 | move@5,0 d0 | delay 120 | up left@50,0"},
        {"rightDrag", {down(0, {}, 1, T::rightMouseDown), ev(T::rightMouseDragged, 10, {30, 0}),
                       ev(T::rightMouseUp, 20, {30, 0}, platform::kFlagControl)},
         "down right@0,0 | move@0,0 d0 | move@30,0 d0 | up right@30,0"},
        {"otherButtonsReleaseLeavesThePressPending",
         {up(5, {}), drag(6, {40, 40}), down(10, {7, 7}), up(20, {7, 7}, T::rightMouseUp), up(30, {7, 7})}, "click left@7,7"},
        // Plain moves only when enabled, at most one per 120 ms unless 4 points away.
        {"movesOff", {moved(0, {10, 10})}, ""},
        {"moves", {moved(100, {10, 10}), moved(150, {12, 10}), moved(219.9, {13, 10}), moved(220, {13, 10}), moved(230, {17, 10})},
         "move@10,10 d0 | delay 120 | move@13,10 d0 | move@17,10 d0", 0, true},
        // One press per stroke: modifiers alone, repeats and key ups are skipped.
        {"keys", {key(0, 56), key(1, 0, shift), key(2, 0, shift, true), key(3, 0, shift, true), ev(T::keyUp, 4), key(5, 55),
                  key(6, 58), key(7, 59), key(8, 63), key(9, 57), key(10, 60), key(11, 61), key(12, 62), key(20, 54, allButShift)},
         "key 0 press mod2 | key 54 press mod29"},
        {"scrollWithZeroLinesIsSkipped", {scroll(0, {3, 4}, 0), scroll(10, {3, 4}, 2), scroll(20, {5, 6}, -1)},
         "scroll 2@3,4 | scroll -1@5,6"},
        // Gaps round to milliseconds: 39.4 is no delay, 40.0 is one, 40.5 rounds to 41.
        {"pauses", {key(0, 0), key(39.4, 1), key(79.4, 2), key(119.9, 3)},
         "key 0 press | key 1 press | delay 40 | key 2 press | delay 41 | key 3 press"},
        {"pausesAboveAHigherThreshold", {key(0, 3), key(880, 4), key(1880, 5)},
         "key 3 press | key 4 press | delay 1000 | key 5 press", 0, false, 1000},
        // A disabled tap is switched back on; the notice is no step, so the next one has no delay.
        {"disabledTap", {ev(T::tapDisabledByTimeout, 0), ev(T::tapDisabledByUserInput, 1), key(500, 1)}, "key 1 press"},
        // The second click of a double click replaces the first, a third changes nothing more.
        {"doubleClick", {key(0, 0), down(1000, {300, 300}), up(1080, {300, 300}), down(1200, {301, 300}, 2), up(1260, {301, 301})},
         "key 0 press | delay 1000 | delay 200 | doubleClick left@301,300", 1},
        {"tripleClick", {down(0, {5, 5}), up(10, {5, 5}), down(20, {5, 5}, 2), up(30, {5, 5}), down(40, {5, 5}, 3), up(50, {5, 5})},
         "doubleClick left@5,5", 2},
        // Never remove a step that is not the first click: the owner's own last step, a drag's
        // up, or a key typed between the clicks. The pointer trace between them goes with it.
        {"firstHalfCameBeforeRecording", {down(0, {5, 5}, 2), up(10, {5, 5})}, "click left@5,5"},
        {"quickClickAfterADrag", {down(0, {}), drag(50, {40, 0}), up(100, {40, 0}), down(200, {2, 0}, 2), up(220, {2, 0})},
         "down left@0,0 | move@0,0 d0 | delay 50 | move@40,0 d0 | delay 50 | up left@40,0 | delay 100 | click left@2,0"},
        {"keyBetweenTheClicks", {down(0, {5, 5}), up(10, {5, 5}), key(100, 36), down(200, {5, 5}, 2), up(210, {5, 5})},
         "click left@5,5 | delay 100 | key 36 press | delay 100 | click left@5,5"},
        {"pointerTraceBetweenTheClicks",
         {down(0, {5, 5}), up(10, {5, 5}), moved(100, {6, 5}), moved(230, {7, 5}), down(250, {7, 5}, 2), up(260, {7, 5})},
         "delay 250 | doubleClick left@7,5", 5, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r(c.recordMoves, c.thresholdMs);
        r.feed(c.events);
        EXPECT_EQ(r.steps(), c.steps);
        EXPECT_EQ(r.removals, c.removals);
        const auto disabled = [](const TapEvent& e) { return e.type >= T::tapDisabledByTimeout; };
        EXPECT_EQ(r.tap->reenables, std::count_if(c.events.begin(), c.events.end(), disabled));
    }
}

TEST(Recorder, ReleaseAtAnUnreadablePlaceIsNoClick) {
    Rig r;
    r.feed({down(0, {50, 50}), up(100, {std::numeric_limits<double>::quiet_NaN(), 50})});
    ASSERT_EQ(r.script.size(), 3u);
    EXPECT_EQ(test::describe(r.script.front()), "down left@50,50");
    EXPECT_EQ(r.script.back().clickKind, ClickKind::up);
}

TEST(Recorder, StoppingWithAButtonHeldAddsATrailingDownAndThenRecordsNothing) {
    Rig r;
    r.feed({key(0, 1), down(5000, {8, 9}, 1, T::rightMouseDown), ev(T::rightMouseDragged, 6000, {80, 90})});
    r.recorder.stop();
    EXPECT_FALSE(r.recorder.isRecording() || r.tap->running);
    r.feed({up(6100, {80, 90}, T::rightMouseUp), key(6200, 3)});   // records the platform had queued
    r.recorder.stop();
    EXPECT_EQ(r.steps(), "key 1 press | down right@8,9");
}

TEST(Recorder, FailedTapCreationThrowsAndStaysIdle) {
    Rig r;
    r.recorder.stop();
    r.tap->failStart = true;
    InputRecorder noTap{nullptr};
    for (InputRecorder* recorder : {&r.recorder, &noTap}) {
        try {
            recorder->start();
            ADD_FAILURE() << "no error";
        } catch (const InputRecorder::RecorderError& e) { EXPECT_EQ(e.code(), InputRecorder::RecorderError::Code::tapCreationFailed); }
        EXPECT_FALSE(recorder->isRecording());
    }
    r.tap->failStart = false;
    r.recorder.start();
    r.recorder.start();   // already recording
    EXPECT_EQ(r.tap->starts, 3);
    EXPECT_TRUE(r.recorder.isRecording());
}

TEST(Recorder, RecordQueuedAfterTheRecorderIsGoneIsDropped) {
    auto r = std::make_unique<Rig>();
    int appended = 0;
    r->recorder.onAppend = [&appended](const Step&) { ++appended; };
    const auto tap = r->tap;
    r.reset();
    EXPECT_FALSE(tap->running);
    tap->handler(key(0, 1));   // the platform still had this one queued
    EXPECT_EQ(appended, 0);
}

}  // namespace
}  // namespace tapforge
