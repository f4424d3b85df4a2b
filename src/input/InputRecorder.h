// Turns the user's real input, as the platform's listen-only event tap reports it, into
// script steps as it happens: clicks and double clicks, drags (down, sampled moves, up),
// optional pointer traces, wheel scrolls, key presses, and delay steps for the pauses
// between them. Steps are handed to the owner one by one; the recorder keeps none.
// Main thread only: start(), stop(), handle() and both callbacks. Points are global points
// as the tap reports them; stamps are the tap's nanoseconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "model/Enums.h"
#include "model/ModifierSet.h"
#include "model/Step.h"
#include "platform/EventTap.h"
#include "platform/Geometry.h"

namespace tapforge {

class InputRecorder {
public:
    // The only error thrown by the input subsystem.
    class RecorderError : public std::runtime_error {
    public:
        enum class Code { tapCreationFailed };
        explicit RecorderError(Code code);
        Code code() const { return code_; }

    private:
        Code code_;
    };

    // Classification limits, in milliseconds and points.
    static constexpr double kClickMaxMs = 500.0;
    static constexpr double kClickMaxDistance = 6.0;
    static constexpr double kDragSampleMs = 60.0;
    static constexpr double kMoveSampleMs = 120.0;
    static constexpr double kSampleDistance = 4.0;

    explicit InputRecorder(std::shared_ptr<platform::EventTap> tap);
    // Stops the tap if still recording (without delivering anything).
    ~InputRecorder();
    InputRecorder(const InputRecorder&) = delete;
    InputRecorder& operator=(const InputRecorder&) = delete;

    // Receives every produced step, in order.
    std::function<void(const Step&)> onAppend;
    // Asks the owner to drop exactly the step onAppend delivered last (a click that turned
    // out to be the first half of a double click).
    std::function<void()> onRemoveLast;
    // Record plain pointer moves (no button held). Read while recording.
    bool recordMouseMove = false;
    // Shortest pause that becomes a delay step.
    int64_t autoDelayThresholdMs = 40;

    // Begins recording; nothing when already recording. Throws RecorderError
    // (tapCreationFailed) when the tap cannot be created, leaving the recorder idle.
    void start();
    // Ends recording; nothing when not recording. A button still held becomes a trailing
    // `down` step, delivered without a delay step.
    void stop();
    bool isRecording() const { return isRecording_; }

    // One record of the tap: classifies it and emits the resulting steps.
    void handle(platform::TapEventType type, const platform::TapEvent& event);

private:
    struct PendingDown {
        uint64_t stamp = 0;
        platform::Point point;
        MouseButton button = MouseButton::left;
        int64_t clickState = 0;
    };
    struct Sample {
        uint64_t stamp = 0;
        platform::Point point;
    };
    // The last click or double click delivered, for undoing it when the next press turns
    // out to be its second half.
    struct DeliveredClick {
        MouseButton button = MouseButton::left;
        uint64_t stamp = 0;
        size_t stepsAfter = 0;   // delay and move steps delivered after it
    };

    void buttonDown(MouseButton button, const platform::TapEvent& event);
    void dragged(const platform::TapEvent& event);
    void buttonUp(MouseButton button, const platform::TapEvent& event, ModifierSet modifiers);
    void moved(const platform::TapEvent& event);
    void keyDown(const platform::TapEvent& event, ModifierSet modifiers);
    void scrolled(const platform::TapEvent& event);

    // Delivers `step`, preceded by a delay step when the pause since the last emission
    // reaches the threshold.
    void emit(Step step, uint64_t stamp);
    void deliver(const Step& step);
    bool removeDeliveredClick(MouseButton button);

    std::shared_ptr<platform::EventTap> tap_;
    bool isRecording_ = false;
    uint64_t lastStamp_ = 0;                  // of the last emitted step; 0: none yet
    std::optional<PendingDown> pendingDown_;
    std::vector<Sample> dragPoints_;
    uint64_t lastMoveStamp_ = 0;              // 0: no plain move recorded yet
    platform::Point lastMovePoint_;
    std::optional<DeliveredClick> lastClick_;
    // The tap handler holds this weakly: records queued after destruction do nothing.
    std::shared_ptr<InputRecorder*> self_;
};

}  // namespace tapforge
