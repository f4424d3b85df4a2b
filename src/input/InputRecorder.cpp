#include "input/InputRecorder.h"

#include <cmath>

#include "input/keymap/KeyMap.h"
#include "platform/EventFlags.h"

namespace tapforge {

using platform::TapEvent;
using platform::TapEventType;

namespace {

constexpr const char* kTapCreationFailedText =
    "无法创建事件监听：请在「系统设置 → 隐私与安全性 → 辅助功能」中授权本应用。";

// Milliseconds from `earlier` to `later`. A stamp that goes backwards (clock adjusted, events
// reordered) counts as no time at all rather than wrapping round to centuries.
double elapsedMs(uint64_t later, uint64_t earlier) {
    return later > earlier ? static_cast<double>(later - earlier) / 1'000'000.0 : 0.0;
}

double distance(platform::Point a, platform::Point b) { return std::hypot(a.x - b.x, a.y - b.y); }

ModifierSet modifiersFromFlags(platform::EventFlags flags) {
    ModifierSet out;
    if (flags & platform::kFlagCommand) out.insert(ModifierSet::command());
    if (flags & platform::kFlagShift) out.insert(ModifierSet::shift());
    if (flags & platform::kFlagOption) out.insert(ModifierSet::option());
    if (flags & platform::kFlagControl) out.insert(ModifierSet::control());
    if (flags & platform::kFlagFunction) out.insert(ModifierSet::function());
    return out;
}

Step pointerStep(StepKind kind, platform::Point at) {
    Step step(kind);
    step.hasPoint = true;
    step.x = at.x;
    step.y = at.y;
    return step;
}

Step clickStep(ClickKind kind, MouseButton button, platform::Point at, ModifierSet modifiers = {}) {
    Step step = pointerStep(StepKind::mouseClick, at);
    step.mouseButton = button;
    step.clickKind = kind;
    step.modifiers = modifiers;
    return step;
}

Step moveStep(platform::Point to) {
    Step step = pointerStep(StepKind::mouseMove, to);
    step.moveDurationMs = 0;
    return step;
}

}  // namespace

InputRecorder::RecorderError::RecorderError(Code code) : std::runtime_error(kTapCreationFailedText), code_(code) {}

InputRecorder::InputRecorder(std::shared_ptr<platform::EventTap> tap)
    : tap_(std::move(tap)), self_(std::make_shared<InputRecorder*>(this)) {}

InputRecorder::~InputRecorder() {
    self_.reset();
    if (isRecording_ && tap_) tap_->stop();
}

void InputRecorder::start() {
    if (isRecording_) return;
    if (!tap_) throw RecorderError(RecorderError::Code::tapCreationFailed);
    pendingDown_.reset();
    dragPoints_.clear();
    lastStamp_ = 0;
    lastMoveStamp_ = 0;
    lastClick_.reset();
    // Recording before the tap starts: a tap that delivers at once must not be ignored.
    isRecording_ = true;
    std::weak_ptr<InputRecorder*> weak = self_;
    const bool started = tap_->start([weak](const TapEvent& event) {
        if (auto self = weak.lock()) (*self)->handle(event.type, event);
    });
    if (!started) {
        isRecording_ = false;
        throw RecorderError(RecorderError::Code::tapCreationFailed);
    }
}

void InputRecorder::stop() {
    if (!isRecording_) return;
    isRecording_ = false;
    tap_->stop();
    if (pendingDown_) {
        // The button is still held: keep the press so playback ends in the same state.
        deliver(clickStep(ClickKind::down, pendingDown_->button, pendingDown_->point));
        pendingDown_.reset();
    }
    dragPoints_.clear();
}

void InputRecorder::handle(TapEventType type, const TapEvent& event) {
    if (!isRecording_) return;
    if (type == TapEventType::tapDisabledByTimeout || type == TapEventType::tapDisabledByUserInput) {
        if (tap_) tap_->reenable();
        return;
    }
    const ModifierSet modifiers = modifiersFromFlags(event.flags);
    switch (type) {
        case TapEventType::leftMouseDown: buttonDown(MouseButton::left, event); break;
        case TapEventType::rightMouseDown: buttonDown(MouseButton::right, event); break;
        case TapEventType::otherMouseDown: buttonDown(MouseButton::center, event); break;
        case TapEventType::leftMouseDragged:
        case TapEventType::rightMouseDragged:
        case TapEventType::otherMouseDragged: dragged(event); break;
        case TapEventType::leftMouseUp: buttonUp(MouseButton::left, event, modifiers); break;
        case TapEventType::rightMouseUp: buttonUp(MouseButton::right, event, modifiers); break;
        case TapEventType::otherMouseUp: buttonUp(MouseButton::center, event, modifiers); break;
        case TapEventType::mouseMoved: moved(event); break;
        case TapEventType::keyDown: keyDown(event, modifiers); break;
        case TapEventType::scrollWheel: scrolled(event); break;
        default: break;   // key up: the press step covers it
    }
}

void InputRecorder::buttonDown(MouseButton button, const TapEvent& event) {
    // A press while another is pending replaces it (its release was lost).
    pendingDown_ = PendingDown{event.timestampNs, event.location, button, event.clickState};
    dragPoints_.clear();
}

void InputRecorder::dragged(const TapEvent& event) {
    if (!pendingDown_) return;
    if (dragPoints_.empty()) dragPoints_.push_back({pendingDown_->stamp, pendingDown_->point});
    const Sample& last = dragPoints_.back();
    if (distance(event.location, last.point) < kSampleDistance && elapsedMs(event.timestampNs, last.stamp) < kDragSampleMs)
        return;
    dragPoints_.push_back({event.timestampNs, event.location});
}

void InputRecorder::buttonUp(MouseButton button, const TapEvent& event, ModifierSet modifiers) {
    if (!pendingDown_ || pendingDown_->button != button) return;
    const PendingDown down = *pendingDown_;
    pendingDown_.reset();
    const double elapsed = elapsedMs(event.timestampNs, down.stamp);
    const double dist = distance(event.location, down.point);
    // Written so that a distance that is not a number is not a click.
    const bool isClick = elapsed < kClickMaxMs && dist < kClickMaxDistance;
    if (isClick) {
        ClickKind kind = ClickKind::click;
        if (down.clickState > 1) {
            // The first click of the pair went out as a single click; take it back. When it
            // cannot be taken back cleanly, record what was seen: one more single click.
            if (removeDeliveredClick(button)) kind = ClickKind::doubleClick;
        }
        emit(clickStep(kind, button, down.point, modifiers), down.stamp);
        lastClick_ = DeliveredClick{button, down.stamp, 0};
    } else {
        emit(clickStep(ClickKind::down, button, down.point), down.stamp);
        for (const Sample& sample : dragPoints_) emit(moveStep(sample.point), sample.stamp);
        emit(clickStep(ClickKind::up, button, event.location), event.timestampNs);
    }
    dragPoints_.clear();
}

// The owner's last step must be the click being replaced. Only delay and move steps may have
// come after it (pointer traces), and those go too: the pointer stayed within a few points.
// Anything else in between (a key, a scroll, a drag), a different button, or a first click
// made before recording began means the owner's last step is not ours to remove.
bool InputRecorder::removeDeliveredClick(MouseButton button) {
    if (!lastClick_ || lastClick_->button != button) return false;
    const DeliveredClick click = *lastClick_;
    lastClick_.reset();
    for (size_t i = 0; i <= click.stepsAfter; ++i)
        if (onRemoveLast) onRemoveLast();
    // The pause before the double click is measured from the first press.
    lastStamp_ = click.stamp;
    return true;
}

void InputRecorder::moved(const TapEvent& event) {
    if (!recordMouseMove) return;
    if (lastMoveStamp_ != 0 && distance(event.location, lastMovePoint_) < kSampleDistance &&
        elapsedMs(event.timestampNs, lastMoveStamp_) < kMoveSampleMs)
        return;
    emit(moveStep(event.location), event.timestampNs);
    lastMoveStamp_ = event.timestampNs;
    lastMovePoint_ = event.location;
}

void InputRecorder::keyDown(const TapEvent& event, ModifierSet modifiers) {
    if (event.autorepeat) return;
    if (KeyMap::modifierKeyCodes().count(event.keyCode)) return;
    Step step(StepKind::keyPress);
    step.keyCode = event.keyCode;
    step.keyKind = KeyEventKind::press;
    step.modifiers = modifiers;
    emit(std::move(step), event.timestampNs);
}

void InputRecorder::scrolled(const TapEvent& event) {
    // Trackpads report pixel scrolling with a line delta of 0: nothing to replay.
    if (event.scrollLines == 0) return;
    Step step = pointerStep(StepKind::mouseScroll, event.location);
    step.scrollAmount = event.scrollLines;
    emit(std::move(step), event.timestampNs);
}

void InputRecorder::emit(Step step, uint64_t stamp) {
    if (lastStamp_ != 0 && stamp > lastStamp_) {
        const int64_t gap = std::llround(static_cast<double>(stamp - lastStamp_) / 1'000'000.0);
        if (gap >= autoDelayThresholdMs) {
            Step delay(StepKind::delay);
            delay.delayMs = gap;
            deliver(delay);
        }
    }
    lastStamp_ = stamp;
    deliver(step);
}

void InputRecorder::deliver(const Step& step) {
    if (lastClick_) {
        if (step.kind == StepKind::delay || step.kind == StepKind::mouseMove)
            ++lastClick_->stepsAfter;
        else
            lastClick_.reset();
    }
    if (onAppend) onAppend(step);
}

}  // namespace tapforge
