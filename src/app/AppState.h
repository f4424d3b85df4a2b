// The application's one central state: the document being edited and played, the selection,
// recording and playback control, the run log, status and alert texts, permissions, the current
// file, the global hotkeys, saving, opening and the debounced autosave, undo and redo, and the
// screen-picking and template operations. Every view reads it and calls its operations; it
// needs a window system only through UiServices, so it runs headless in tests.
//
// Relies on: the platform Desktop (sim in tests, x11 in the application), the window-system
// services (any may be absent), a Timers source (Qt timers, or a virtual clock in tests) and
// the folders of AppLocations.
//
// Threads: the AppState lives on the main thread, with a running Qt event loop (the runner's
// reports and log lines from other threads arrive as queued calls). Everything here is main
// thread only, except log(), which may be called from any thread.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <QObject>

#include "app/CheckOutcome.h"
#include "app/Timers.h"
#include "app/UiServices.h"
#include "input/HotKeyShortcut.h"
#include "model/Enums.h"
#include "model/ImageTemplate.h"
#include "model/Script.h"
#include "model/Step.h"
#include "model/Uuid.h"
#include "platform/Desktop.h"

namespace tapforge {
class ScriptRunner;
class InputRecorder;
class GlobalHotKeyMonitor;
class LuaStepHost;
}  // namespace tapforge

namespace tapforge::app {

// One run-log entry. `id` increases by one per line over the life of the program (clearing
// the log does not restart it); `text` is "[HH:mm:ss] " + the message.
struct LogLine {
    uint64_t id = 0;
    std::string text;
    friend bool operator==(const LogLine&, const LogLine&) = default;
};

// Where the application keeps its files.
struct AppLocations {
    std::string appFolder;      // holds "autosave.json", the instance lock, "scripts/"
    std::string settingsFile;   // the hotkeys (an INI file read through QSettings)

    // $XDG_DATA_HOME/Tapforge (else ~/.local/share/Tapforge); the settings in the user's
    // config folder ($XDG_CONFIG_HOME, else ~/.config) under Tapforge/Tapforge.conf.
    static AppLocations standard();
    std::string autosavePath() const;      // appFolder + "/autosave.json"
    std::string luaScriptsFolder() const;  // appFolder + "/scripts"
};

// What changed in the document, so a list view can update only the rows involved.
struct ScriptChange {
    enum class Kind {
        reset,          // anything: reload everything
        stepsInserted,  // rows first … first + count − 1 are new
        stepsRemoved,   // rows first … first + count − 1 (of the old list) are gone
        stepChanged,    // row first changed in place
        settings,       // name, loop count, step interval or the template library
    };
    Kind kind = Kind::reset;
    int first = 0;
    int count = 0;
};

struct AppStateServices {
    platform::Desktop desktop;
    UiServices ui;
    AppLocations locations;
    std::shared_ptr<Timers> timers;      // absent: Qt timers
    std::shared_ptr<LuaStepHost> lua;    // absent: the macro library over `desktop`
};

// A value and a writer for one step or template row, for editors. Both hold the AppState
// weakly: once it is gone, reading yields the placeholder and writing does nothing.
template <typename T>
struct Binding {
    std::function<T()> get;
    // `mergeKey`: consecutive writes with the same non-empty key (one text field being typed
    // in) form one undo step.
    std::function<void(const T&, const std::string& mergeKey)> set;
};

class AppState : public QObject {
    Q_OBJECT

public:
    static constexpr int kMaxLogLines = 100;
    static constexpr int64_t kAutosaveDelayMs = 1000;
    static constexpr int64_t kCaptureDelayMs = 200;
    static constexpr size_t kUndoLevels = 100;
    static constexpr size_t kUndoMemoryBytes = 512u * 1024 * 1024;

    // Builds the state in start-up order: permissions, services, the autosaved document (a
    // corrupt one is moved aside and logged), hotkeys, callbacks, the hotkey monitor.
    explicit AppState(AppStateServices services, QObject* parent = nullptr);
    // Stops a recording and a run; waits for an autosave being written (does not flush a
    // pending one: call flushAutosave() first when quitting).
    ~AppState() override;

    // The starter document of a new script.
    static Script makeStarterScript();
    // The 41-line Lua sample.
    static const std::string& luaSampleText();

    // ---------------------------------------------------------------- published state
    const Script& script() const { return script_; }
    const std::optional<Uuid>& selectedStepID() const { return selectedStepID_; }
    void setSelectedStepID(std::optional<Uuid> id);
    bool isRecording() const { return isRecording_; }
    bool recordsMouseMove() const { return recordsMouseMove_; }
    void setRecordsMouseMove(bool records);
    const std::deque<LogLine>& logs() const { return logs_; }
    const std::string& statusMessage() const { return statusMessage_; }
    const std::optional<std::string>& alertMessage() const { return alertMessage_; }
    void dismissAlert();
    bool accessibilityGranted() const { return accessibilityGranted_; }
    bool screenRecordingGranted() const { return screenRecordingGranted_; }
    const std::optional<std::string>& currentScriptPath() const { return currentScriptPath_; }
    bool showsSettings() const { return showsSettings_; }
    void setShowsSettings(bool shows);
    const HotKeyShortcut& hotKeyRecord() const { return hotKeyRecord_; }
    const HotKeyShortcut& hotKeyPlay() const { return hotKeyPlay_; }
    // Each pushes both shortcuts to the monitor and stores both.
    void setHotKeyRecord(const HotKeyShortcut& shortcut);
    void setHotKeyPlay(const HotKeyShortcut& shortcut);
    const AppLocations& locations() const { return locations_; }

    // The runner's observable state (the toolbar, the step list's current row).
    bool isRunning() const;
    bool isPaused() const;
    std::optional<Uuid> currentStepID() const;
    int64_t cycleCount() const;
    // The pause toggle of the toolbar and the menu; ignored while idle.
    void togglePause();

    // ---------------------------------------------------------------- log
    // Appends "[HH:mm:ss] " + text, keeping the newest 100 lines. Any thread: off the main
    // thread the call is queued to it (the stamp is taken there).
    void log(const std::string& text);
    void clearLogs();

    // ---------------------------------------------------------------- document and editing
    void newScript();
    void addStep(StepKind kind);
    void deleteSelected();
    void duplicateSelected();
    // Moves the steps at `sourceRows` (any order) before the step at `destination` (the
    // count appends), as list drag and drop does.
    void moveSteps(std::vector<int> sourceRows, int destination);
    void moveSelected(int distance);
    void clearAll();
    // The step with `id`; a fresh comment step when there is none.
    Step step(const Uuid& id) const;
    // Replaces the step with `id` when it still exists.
    void writeStep(const Uuid& id, const Step& value, const std::string& mergeKey = {});
    Binding<Step> binding(const Uuid& id);
    // The script's own settings (the main window's name, loop and interval fields).
    void setScriptName(const std::string& name);
    void setLoopCount(int64_t count);
    void setStepIntervalMs(int64_t ms);

    // ---------------------------------------------------------------- undo
    bool canUndo() const;
    bool canRedo() const;
    // Ignored while recording.
    void undo();
    void redo();

    // ---------------------------------------------------------------- recording and playback
    void startRecording();
    // `stoppingKey`: the shortcut whose press stopped the recording (the record hotkey or the
    // menu's shortcut); that press and the pause before it are not kept. Absent: the panel's
    // stop button or a click in a menu.
    void stopRecording(std::optional<HotKeyShortcut> stoppingKey = std::nullopt);
    void togglePlay();
    void startPlay();

    // ---------------------------------------------------------------- permissions
    void refreshPermissions();
    bool ensureAccessibility();
    bool ensureScreenRecording();

    // ---------------------------------------------------------------- persistence
    void saveScript();
    // Flushes a pending autosave first. The file is read and decoded on a background thread;
    // the document changes (or the alert is set) in a later turn of the event loop.
    void openScript();
    bool isOpening() const { return isOpening_; }
    // Debounced: one write kAutosaveDelayMs after the last call.
    void scheduleAutosave();
    // Writes a pending autosave now and waits for every autosave write to end. Call before
    // quitting; relaunch() and openScript() call it themselves.
    void flushAutosave();
    // Flushes the autosave, then asks the launcher to start a new instance and quit this one.
    void relaunch();

    void chooseLuaFile(const Uuid& stepID);
    void createLuaSample(const Uuid& stepID);
    void openLuaFile(const std::string& path);
    void revealLuaFile(const std::string& path);
    std::string luaFileInfo(const std::string& path) const;
    std::optional<std::string> luaFilePreview(const std::string& path, int maxLines) const;

    // ---------------------------------------------------------------- templates and picking
    void pickColors(const Uuid& stepID);
    void pickPoint(const Uuid& stepID);
    void captureTemplate(const Uuid& stepID);
    void addTemplate(const std::string& proposedName);
    // Row operations of the template library: they act only while row `index` still holds
    // `expected` (an edit or a delete may have come in between).
    void recaptureTemplate(size_t index, const ImageTemplate& expected);
    void deleteTemplate(size_t index, const ImageTemplate& expected);
    // The library template at `index`; the placeholder "模板" when there is none.
    ImageTemplate templateAt(size_t index) const;
    void writeTemplate(size_t index, const ImageTemplate& expected, const ImageTemplate& value,
                       const std::string& mergeKey = {});
    Binding<ImageTemplate> binding(size_t templateIndex);
    void testMatch(const ImageTemplate& templ);
    void testStep(const Uuid& stepID);
    void testLuaStep(const Uuid& stepID);

Q_SIGNALS:
    void scriptChanged(const tapforge::app::ScriptChange& change);
    void selectedStepIDChanged();
    void recordingChanged();
    void recordsMouseMoveChanged();
    void logsChanged();
    void statusMessageChanged();
    void alertMessageChanged();
    void permissionsChanged();
    void currentScriptPathChanged();
    void showsSettingsChanged();
    void hotKeysChanged();
    void runnerChanged();
    void undoStateChanged();
    // A colour or image check step was tested: what it saw, for its editor.
    void checkTested(const tapforge::Uuid& stepID, const tapforge::app::CheckOutcome& outcome);

private Q_SLOTS:
    // Runs what other threads handed over with postFromAnyThread, in order.
    void runPosted();

private:
    struct Undo;
    struct AutosaveWriter;
    struct Opener;

    // Tasks handed from other threads to the main thread. Shared with those threads, so that a
    // thread outliving the state (a runner's worker that ignored its stop) posts into a box that
    // still exists and is dropped there. The hand-over goes through our own mutex and the
    // wake-up carries no data, so ThreadSanitizer sees the ordering Qt's event queue provides in
    // its uninstrumented library.
    struct PostBox;
    static void postFromAnyThread(const std::shared_ptr<PostBox>& box, std::function<void()> task);
    void postFromAnyThread(std::function<void()> task) { postFromAnyThread(postBox_, std::move(task)); }
    std::shared_ptr<PostBox> postBox_;

    void setStatus(std::string text);
    void setAlert(std::string text);
    void setCurrentScriptPath(std::optional<std::string> path);
    void select(std::optional<Uuid> id);
    // The one way the document changes: records undo (unless recording appends), emits,
    // schedules the autosave.
    enum class UndoRecord { yes, no };
    void changeScript(const std::function<void(Script&)>& change, ScriptChange notice,
                      const std::string& mergeKey = {}, UndoRecord record = UndoRecord::yes);
    void replaceScript(Script script);
    int indexOf(const Uuid& id) const;
    void updateStep(const Uuid& id, const std::function<void(Step&)>& change, const std::string& mergeKey = {});
    void applyHotKeys();
    void loadDocument();
    void writeAutosaveNow();
    void finishOpen(const std::string& path, std::optional<Script> script, const std::string& error);
    void stopRecordingForDocumentChange();
    std::string permissionAlert(platform::Permissions::Kind kind);
    std::optional<std::filesystem::path> baseFolder() const;
    // Starts the region selector; `done` gets nothing on cancel, or the pick after the
    // capture delay (the overlay has left the screen by then).
    void afterRegionPick(std::function<void(AppState&, std::optional<RegionPick>)> done);
    bool templateRowHolds(size_t index, const ImageTemplate& expected) const;

    AppStateServices services_;
    AppLocations locations_;
    std::shared_ptr<Timers> timers_;

    Script script_;
    std::optional<Uuid> selectedStepID_;
    bool isRecording_ = false;
    bool recordsMouseMove_ = false;
    std::deque<LogLine> logs_;
    std::string statusMessage_ = "就绪";
    std::optional<std::string> alertMessage_;
    bool accessibilityGranted_ = false;
    bool screenRecordingGranted_ = false;
    std::optional<std::string> currentScriptPath_;
    bool showsSettings_ = false;
    HotKeyShortcut hotKeyRecord_ = HotKeyShortcut::defaultRecord();
    HotKeyShortcut hotKeyPlay_ = HotKeyShortcut::defaultPlay();
    uint64_t logSequence_ = 0;
    bool autosaveFailing_ = false;   // logged once until a write succeeds again

    std::unique_ptr<ScriptRunner> runner_;
    std::unique_ptr<InputRecorder> recorder_;
    std::unique_ptr<GlobalHotKeyMonitor> hotKeys_;
    std::unique_ptr<Undo> undo_;
    std::unique_ptr<AutosaveWriter> autosave_;
    std::unique_ptr<Opener> opener_;
    bool isOpening_ = false;
    Timers::TaskId autosaveTask_ = 0;
    std::vector<Uuid> recordedIDs_;   // steps the recorder appended in this recording, in order
    // Weak handle for callbacks installed on services and timers.
    std::shared_ptr<AppState*> self_;
};

}  // namespace tapforge::app

Q_DECLARE_METATYPE(tapforge::app::ScriptChange)
