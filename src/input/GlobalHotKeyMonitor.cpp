#include "input/GlobalHotKeyMonitor.h"

#include "platform/EventFlags.h"

namespace tapforge {

GlobalHotKeyMonitor::GlobalHotKeyMonitor(std::shared_ptr<platform::KeyDownMonitor> keyMonitor)
    : keyMonitor_(std::move(keyMonitor)), self_(std::make_shared<GlobalHotKeyMonitor*>(this)) {}

GlobalHotKeyMonitor::~GlobalHotKeyMonitor() {
    self_.reset();
    if (started_ && keyMonitor_) keyMonitor_->stop();
}

void GlobalHotKeyMonitor::start() {
    if (started_ || !keyMonitor_) return;
    std::weak_ptr<GlobalHotKeyMonitor*> weak = self_;
    started_ = keyMonitor_->start([weak](const platform::KeyDown& key) {
        if (auto self = weak.lock()) (*self)->handle(key);
    });
}

void GlobalHotKeyMonitor::handle(const platform::KeyDown& key) {
    // Keys typed by playback must never toggle playback or recording.
    if (key.synthetic) return;
    // The function flag is not read: a shortcut that includes fn never matches.
    ModifierSet modifiers;
    if (key.flags & platform::kFlagCommand) modifiers.insert(ModifierSet::command());
    if (key.flags & platform::kFlagShift) modifiers.insert(ModifierSet::shift());
    if (key.flags & platform::kFlagOption) modifiers.insert(ModifierSet::option());
    if (key.flags & platform::kFlagControl) modifiers.insert(ModifierSet::control());

    // Copy the callback before calling it: the owner may replace it from inside.
    std::function<void()> callback;
    switch (action(key.keyCode, modifiers, recordShortcut, playShortcut)) {
        case HotKeyAction::record: callback = onRecord; break;
        case HotKeyAction::play: callback = onPlay; break;
        case HotKeyAction::escape: callback = onEscape; break;
        case HotKeyAction::none: break;
    }
    if (callback) callback();
}

HotKeyAction GlobalHotKeyMonitor::action(uint16_t keyCode, ModifierSet modifiers, const HotKeyShortcut& record,
                                         const HotKeyShortcut& play) {
    if (record.isUsable() && record.keyCode == keyCode && record.modifiers == modifiers) return HotKeyAction::record;
    if (play.isUsable() && play.keyCode == keyCode && play.modifiers == modifiers) return HotKeyAction::play;
    if (keyCode == kEscapeKeyCode) return HotKeyAction::escape;
    return HotKeyAction::none;
}

}  // namespace tapforge
