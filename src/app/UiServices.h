// What the application controller needs from a window system, declared here so that the
// controller stays headless: the Qt user interface (src/ui) implements these, tests use fakes.
//
// Threads: every call and every callback is on the main thread. Coordinates are global points
// (origin at the top-left of the primary monitor, y down), as everywhere in the platform layer.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/ColorPoint.h"
#include "platform/Geometry.h"
#include "platform/ScreenGrab.h"

namespace tapforge::app {

// The file panels of the save, open and Lua-file commands. Modal; answer an absolute path, or
// nothing when the user cancelled.
enum class FileKind { script, lua };

class FilePanels {
public:
    virtual ~FilePanels() = default;
    // `proposedName` is a file name without folder ("脚本.json").
    virtual std::optional<std::string> chooseSaveLocation(const std::string& title,
                                                          const std::string& proposedName) = 0;
    // `startFolder` may be empty: the panel's own default.
    virtual std::optional<std::string> chooseOpenLocation(const std::string& title, FileKind kind,
                                                          const std::string& startFolder) = 0;
};

// Opening a file with its default application and showing it in the file manager. Never a
// shell: the path is passed as one argument. False when nothing could be started.
class Launcher {
public:
    virtual ~Launcher() = default;
    virtual bool openWithDefaultApplication(const std::string& path) = 0;
    virtual bool revealInFileManager(const std::string& path) = 0;
    // Starts a new instance of the application and quits this one (after the controller has
    // flushed the autosave).
    virtual void relaunch() = 0;
};

// The screen exactly as the user saw it while an overlay was open: on X11 a window cannot be
// left out of a grab, so an overlay grabs the desktop before it appears and draws that frame.
// Captures made from a pick read from it, so they hold what the user selected.
struct ScreenFrame {
    platform::Rect bounds;        // global points covered by `image` (the desktop bounds)
    double scale = 1;             // image pixels per point
    platform::RgbaImage image;
};

struct RegionPick {
    platform::Rect rect;                        // as selected, global points, may be unnormalised
    std::shared_ptr<const ScreenFrame> frame;   // absent: capture from the live screen
};

// The three picking overlays. Starting a picker while one of the same kind is open replaces
// it: a pending region or point completion receives nothing (cancelled) first, the colour
// picker's old callbacks are dropped. Each window is gone before its callback runs.
class Pickers {
public:
    virtual ~Pickers() = default;
    virtual void selectRegion(std::function<void(std::optional<RegionPick>)> completion) = 0;
    virtual void pickPoint(std::function<void(std::optional<platform::Point>)> completion) = 0;
    // `existing` are drawn as markers; `onPick` once per click, `onFinish` once on Escape.
    virtual void pickColors(std::vector<ColorPoint> existing, std::function<void(const ColorPoint&)> onPick,
                            std::function<void()> onFinish) = 0;
    // True while any of the three has a window open (Escape then belongs to the overlay, and
    // for a moment after it closed, so that the same press cannot stop a playback).
    virtual bool anyPickerOpen() const = 0;
};

// The floating recording panel. It never takes focus and counts its own elapsed time from
// `show`.
struct RecordingPanelState {
    int stepCount = 0;
    bool recordsMouseMove = false;
    std::string stopShortcut;    // display form of the record hotkey, or "停止"
};

class RecordingPanel {
public:
    virtual ~RecordingPanel() = default;
    virtual void show(const RecordingPanelState& state, std::function<void()> onStop) = 0;
    virtual void update(const RecordingPanelState& state) = 0;
    virtual void hide() = 0;
    // The panel's frame while shown, in global points; nothing when hidden.
    virtual std::optional<platform::Rect> frameInGlobalPoints() const = 0;
};

// Everything a window system lends the controller. Any member may be null (headless use);
// the controller then treats the action as cancelled or unavailable.
struct UiServices {
    std::shared_ptr<FilePanels> filePanels;
    std::shared_ptr<Launcher> launcher;
    std::shared_ptr<Pickers> pickers;
    std::shared_ptr<RecordingPanel> recordingPanel;
};

}  // namespace tapforge::app
