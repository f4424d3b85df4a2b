// Watches every key press, whatever window has focus, through the platform key-down
// monitor, and calls the owner back when the record shortcut, the play shortcut or Escape
// is pressed. Keys this program posted itself never count.
// Main thread only: start(), handle(), the shortcut fields and the callbacks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "input/HotKeyShortcut.h"
#include "model/ModifierSet.h"
#include "platform/KeyDownMonitor.h"

namespace tapforge {

enum class HotKeyAction { record, play, escape, none };

class GlobalHotKeyMonitor {
public:
    static constexpr uint16_t kEscapeKeyCode = 53;

    explicit GlobalHotKeyMonitor(std::shared_ptr<platform::KeyDownMonitor> keyMonitor);
    // Stops the platform monitor; a key press already queued for this monitor is dropped.
    ~GlobalHotKeyMonitor();
    GlobalHotKeyMonitor(const GlobalHotKeyMonitor&) = delete;
    GlobalHotKeyMonitor& operator=(const GlobalHotKeyMonitor&) = delete;

    // Unset callbacks drop the notification. At most one is called per key press.
    std::function<void()> onRecord;
    std::function<void()> onPlay;
    std::function<void()> onEscape;   // Escape with neither shortcut matching

    HotKeyShortcut recordShortcut = HotKeyShortcut::defaultRecord();
    HotKeyShortcut playShortcut = HotKeyShortcut::defaultPlay();

    // Installs the key-down monitor; nothing when already installed. A monitor that cannot
    // be installed is simply absent (a later call tries again).
    void start();
    bool isStarted() const { return started_; }

    // One key press as the platform monitor reports it.
    void handle(const platform::KeyDown& key);

    // Record first, then play (each only when usable and with exactly these modifiers),
    // then Escape with any modifiers.
    static HotKeyAction action(uint16_t keyCode, ModifierSet modifiers, const HotKeyShortcut& record,
                               const HotKeyShortcut& play);

private:
    std::shared_ptr<platform::KeyDownMonitor> keyMonitor_;
    bool started_ = false;
    // Handlers hold this weakly: a press delivered after the monitor is gone does nothing.
    std::shared_ptr<GlobalHotKeyMonitor*> self_;
};

}  // namespace tapforge
