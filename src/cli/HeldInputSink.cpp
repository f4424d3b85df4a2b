#include "cli/HeldInputSink.h"

#include <algorithm>

namespace tapforge::cli {

using platform::Press;

void HeldInputSink::note(Held held, Press press) {
    const auto same = std::find_if(held_.begin(), held_.end(), [&](const Held& h) {
        return h.isKey == held.isKey && (held.isKey ? h.keyCode == held.keyCode : h.button == held.button);
    });
    if (press == Press::down) {
        if (same == held_.end()) held_.push_back(held);
    } else if (same != held_.end()) {
        held_.erase(same);
    }
}

bool HeldInputSink::postButton(platform::PointerButton button, Press press, platform::Point at,
                               platform::EventFlags flags, int64_t clickState) {
    std::lock_guard lock(mutex_);
    if (closed_ || !inner_->postButton(button, press, at, flags, clickState)) return false;
    note({false, 0, button, at}, press);
    return true;
}

bool HeldInputSink::postMove(platform::Point at) {
    std::lock_guard lock(mutex_);
    return !closed_ && inner_->postMove(at);
}

bool HeldInputSink::postScroll(int32_t lines, platform::Point at) {
    std::lock_guard lock(mutex_);
    return !closed_ && inner_->postScroll(lines, at);
}

bool HeldInputSink::postKey(uint16_t keyCode, Press press, platform::EventFlags flags) {
    std::lock_guard lock(mutex_);
    if (closed_ || !inner_->postKey(keyCode, press, flags)) return false;
    note({true, keyCode, {}, {}}, press);
    return true;
}

bool HeldInputSink::releaseAllAndClose(platform::EventSink* through) {
    std::lock_guard lock(mutex_);
    closed_ = true;
    platform::EventSink& sink = through ? *through : *inner_;
    for (auto it = held_.rbegin(); it != held_.rend(); ++it) {
        if (it->isKey) {
            sink.postKey(it->keyCode, Press::up, 0);
        } else {
            sink.postButton(it->button, Press::up, it->at, 0, 1);
        }
    }
    held_.clear();
    // Even with nothing held: the last event posted (a release, say) may not have been read yet.
    return sink.confirmPosted();
}

}  // namespace tapforge::cli
