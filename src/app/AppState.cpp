#include "app/AppState.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QThread>

#include "app/FileAccess.h"
#include "engine/LuaMacroHost.h"
#include "engine/ScriptRunner.h"
#include "input/GlobalHotKeyMonitor.h"
#include "input/InputRecorder.h"
#include "model/ScriptJson.h"
#include "vision/Base64.h"
#include "vision/ColorMatcher.h"
#include "vision/ImageMatcher.h"
#include "vision/PngCodec.h"
#include "vision/ScreenCapture.h"
#include "vision/TemplateCache.h"

namespace tapforge::app {

namespace {

constexpr const char* kRecordKey = "hotkey.record";
constexpr const char* kPlayKey = "hotkey.play";
constexpr size_t kPreviewBytes = 1024 * 1024;

QString qs(const std::string& text) { return QString::fromStdString(text); }

std::string fileName(const std::string& path) { return QFileInfo(qs(path)).fileName().toStdString(); }

std::string sizeText(double width, double height) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.0f × %.0f", width, height);
    return buffer;
}

std::string percentText(const char* format, double score) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, score * 100);
    return buffer;
}

std::string positionText(const vision::ImageMatchResult& result) {
    if (!result.center) return {};
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "，位置 (%.0f, %.0f)", result.center->x, result.center->y);
    return buffer;
}

const char* mark(bool passed) { return passed ? "✔︎" : "✘"; }

// A rough size of a document in memory, for the undo history's cap.
size_t footprint(const Script& script) {
    size_t bytes = sizeof(Script) + script.name.size();
    for (const Step& step : script.steps) {
        bytes += sizeof(Step) + step.note.size() + step.text.size() + step.luaFile.size() +
                 step.colorPoints.size() * sizeof(ColorPoint);
        if (step.imageTemplate) bytes += step.imageTemplate->pngBase64.size() + step.imageTemplate->name.size();
    }
    for (const ImageTemplate& t : script.templates) bytes += sizeof(ImageTemplate) + t.pngBase64.size();
    return bytes;
}

// The pixels of `rect` (global points, whole numbers, inside the frame's bounds) from a frozen frame.
platform::RgbaImage cropFrame(const ScreenFrame& frame, const platform::Rect& rect) {
    platform::RgbaImage out;
    const auto clampTo = [](double v, int hi) { return std::clamp(static_cast<int>(std::lround(v)), 0, hi); };
    const int x0 = clampTo((rect.x - frame.bounds.x) * frame.scale, frame.image.width);
    const int y0 = clampTo((rect.y - frame.bounds.y) * frame.scale, frame.image.height);
    const int x1 = clampTo((rect.maxX() - frame.bounds.x) * frame.scale, frame.image.width);
    const int y1 = clampTo((rect.maxY() - frame.bounds.y) * frame.scale, frame.image.height);
    if (x1 <= x0 || y1 <= y0 ||
        frame.image.pixels.size() != static_cast<size_t>(frame.image.width) * frame.image.height * 4)
        return out;
    out.width = x1 - x0;
    out.height = y1 - y0;
    out.pixels.resize(static_cast<size_t>(out.width) * out.height * 4);
    for (int y = 0; y < out.height; ++y)
        std::copy_n(frame.image.pixel(x0, y0 + y), static_cast<size_t>(out.width) * 4,
                    out.pixels.data() + static_cast<size_t>(y) * out.width * 4);
    return out;
}

enum class CaptureFailure { capture, encode };

struct Capture {
    std::optional<ImageTemplate> templ;
    CaptureFailure failure = CaptureFailure::capture;
};

// How a selected region becomes a template: clipped to the desktop, whole points, at least
// 1 × 1; read from the frame the user selected on when the overlay froze one.
Capture captureRegion(const RegionPick& pick, const platform::Desktop& desktop, const std::string& name) {
    vision::ScreenCapture capture(desktop);
    // A selection under one point (a click without a drag) is refused before rounding outwards,
    // which would make any sliver at least one point wide.
    const platform::Rect clipped = pick.rect.standardized().intersected(capture.desktopBounds());
    if (clipped.isNull() || clipped.width < 1 || clipped.height < 1) return {};
    const platform::Rect area = clipped.integral();
    platform::RgbaImage image;
    if (pick.frame) {
        image = cropFrame(*pick.frame, area);
    } else if (!desktop.grab || !desktop.grab->grab(area, image)) {
        return {};
    }
    if (image.empty()) return {};
    ImageTemplate templ;
    templ.name = name;
    templ.pixelScale = std::max(1.0, image.width / area.width);
    templ.widthPoints = image.width / templ.pixelScale;
    templ.heightPoints = image.height / templ.pixelScale;
    templ.originX = pick.rect.x;
    templ.originY = pick.rect.y;
    const auto png = vision::PngCodec::encode(image);
    if (!png) return {std::nullopt, CaptureFailure::encode};
    templ.pngBase64 = vision::encodeBase64(*png);
    return {std::move(templ), CaptureFailure::capture};
}

}  // namespace

// ------------------------------------------------------------------ locations

AppLocations AppLocations::standard() {
    AppLocations locations;
    // Qt follows XDG_DATA_HOME and XDG_CONFIG_HOME, with the usual fallbacks.
    locations.appFolder =
        (QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Tapforge").toStdString();
    locations.settingsFile =
        (QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/Tapforge/Tapforge.conf")
            .toStdString();
    return locations;
}

std::string AppLocations::autosavePath() const { return appFolder + "/autosave.json"; }
std::string AppLocations::luaScriptsFolder() const { return appFolder + "/scripts"; }

// ------------------------------------------------------------------ undo history

// Whole-document snapshots: a Script is a value, so a snapshot is a copy. Bounded by level
// count and by memory, keeping at least one level.
struct AppState::Undo {
    struct Entry {
        Script script;
        std::optional<Uuid> selection;
        size_t bytes = 0;
    };
    std::deque<Entry> undo;
    std::deque<Entry> redo;
    std::string mergeKey;   // the key of the change on top of `undo`; empty: none to merge with
    size_t undoBytes = 0;

    void record(const Script& before, const std::optional<Uuid>& selection, const std::string& key) {
        if (!key.empty() && key == mergeKey && !undo.empty()) return;
        push(undo, {before, selection, footprint(before)});
        redo.clear();
        mergeKey = key;
    }

    void push(std::deque<Entry>& stack, Entry entry) {
        if (&stack == &undo) undoBytes += entry.bytes;
        stack.push_back(std::move(entry));
        if (&stack != &undo) return;
        while (undo.size() > 1 && (undo.size() > kUndoLevels || undoBytes > kUndoMemoryBytes)) {
            undoBytes -= undo.front().bytes;
            undo.pop_front();
        }
    }

    Entry pop(std::deque<Entry>& stack) {
        Entry entry = std::move(stack.back());
        stack.pop_back();
        if (&stack == &undo) undoBytes -= entry.bytes;
        mergeKey.clear();
        return entry;
    }
};

// ------------------------------------------------------------------ autosave writer

// The main thread hands over a copy of the document; encoding and the write with its fsync run
// on one background thread at a time, so the main thread waits neither for the encoder nor the disk.
struct AppState::AutosaveWriter {
    std::thread thread;

    void wait() {
        if (thread.joinable()) thread.join();
    }

    void write(std::string path, Script script, std::function<void(std::optional<std::string>)> done) {
        wait();
        thread = std::thread([path = std::move(path), script = std::move(script), done = std::move(done)] {
            const ScriptEncodeResult encoded = encodeScript(script, JsonStyle::compact);
            done(encoded ? writeFileAtomically(path, *encoded.json) : encoded.error);
        });
    }

    ~AutosaveWriter() { wait(); }
};

struct AppState::PostBox {
    std::mutex mutex;
    std::deque<std::function<void()>> tasks;
    AppState* owner = nullptr;   // cleared first thing when the state goes
};

// One background job at a time (opening a document).
struct AppState::Opener {
    std::thread thread;

    void run(std::function<void()> job) {
        if (thread.joinable()) thread.join();
        thread = std::thread(std::move(job));
    }

    ~Opener() {
        if (thread.joinable()) thread.join();
    }
};

// ------------------------------------------------------------------ start-up

AppState::AppState(AppStateServices services, QObject* parent)
    : QObject(parent),
      services_(std::move(services)),
      locations_(services_.locations),
      timers_(services_.timers ? services_.timers : makeQtTimers()),
      script_(Script{}),
      undo_(std::make_unique<Undo>()),
      autosave_(std::make_unique<AutosaveWriter>()),
      opener_(std::make_unique<Opener>()),
      self_(std::make_shared<AppState*>(this)) {
    postBox_ = std::make_shared<PostBox>();
    postBox_->owner = this;
    qRegisterMetaType<ScriptChange>();
    const platform::Desktop& desktop = services_.desktop;
    if (desktop.permissions) {
        accessibilityGranted_ = desktop.permissions->inputTrusted(platform::Prompt::no);
        screenRecordingGranted_ = desktop.permissions->screenCapturePreflight();
    }

    ScriptRunnerServices runnerServices;
    runnerServices.desktop = desktop;
    runnerServices.postToMain = [box = postBox_](std::function<void()> task) { postFromAnyThread(box, std::move(task)); };
    runnerServices.lua = services_.lua ? services_.lua : std::make_shared<LuaMacroHost>(desktop);
    runner_ = std::make_unique<ScriptRunner>(std::move(runnerServices));
    recorder_ = std::make_unique<InputRecorder>(desktop.tap);
    hotKeys_ = std::make_unique<GlobalHotKeyMonitor>(desktop.keyMonitor);

    loadDocument();
    scheduleAutosave();

    // Both shortcuts are read before either is stored, so a custom play key survives a start.
    QSettings settings(qs(locations_.settingsFile), QSettings::IniFormat);
    const auto load = [&settings](const char* key, const HotKeyShortcut& fallback) {
        const QVariant stored = settings.value(key);
        if (!stored.isValid()) return fallback;
        const QByteArray bytes = stored.toByteArray();
        return HotKeyShortcut::fromJsonOr(std::string_view(bytes.constData(), bytes.size()), fallback);
    };
    hotKeyRecord_ = load(kRecordKey, HotKeyShortcut::defaultRecord());
    hotKeyPlay_ = load(kPlayKey, HotKeyShortcut::defaultPlay());
    applyHotKeys();

    std::weak_ptr<AppState*> weak = self_;
    runner_->onLog = [weak](const std::string& text) {
        if (auto self = weak.lock()) (*self)->log(text);
    };
    runner_->onChange = [weak] {
        if (auto self = weak.lock()) Q_EMIT (*self)->runnerChanged();
    };
    hotKeys_->onRecord = [weak] {
        auto self = weak.lock();
        if (!self) return;
        AppState& state = **self;
        if (state.isRecording_)
            state.stopRecording(state.hotKeyRecord_);
        else
            state.startRecording();
    };
    hotKeys_->onPlay = [weak] {
        if (auto self = weak.lock()) (*self)->togglePlay();
    };
    hotKeys_->onEscape = [weak] {
        auto self = weak.lock();
        if (!self) return;
        AppState& state = **self;
        // While an overlay is open, Escape is the overlay's.
        if (state.services_.ui.pickers && state.services_.ui.pickers->anyPickerOpen()) return;
        if (state.runner_->isRunning()) state.runner_->stop();
    };
    hotKeys_->start();
}

AppState::~AppState() {
    {
        std::lock_guard lock(postBox_->mutex);
        postBox_->owner = nullptr;
    }
    self_.reset();
    if (recorder_) recorder_->stop();
    if (autosaveTask_) timers_->cancel(autosaveTask_);
    runner_.reset();   // joins a run's worker before the state it posts to goes
    autosave_->wait();
    opener_.reset();
}

void AppState::loadDocument() {
    const std::string path = locations_.autosavePath();
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored) && !std::filesystem::is_symlink(path, ignored)) {
        script_ = makeStarterScript();
        return;
    }
    FileRead read = readRegularFile(path, kMaxScriptDocumentBytes);
    if (read.bytes) {
        if (auto decoded = decodeScript(*read.bytes)) {
            script_ = std::move(*decoded.script);
            return;
        }
    }
    // Keep the user's work for inspection instead of overwriting it with the starter script.
    const std::string aside =
        path + ".broken-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss").toStdString();
    std::filesystem::rename(path, aside, ignored);
    if (ignored)
        log("⚠️ 自动保存的文档无法读取，也无法移开（" + ignored.message() + "）：" + path);
    else
        log("⚠️ 自动保存的文档无法读取，已移到 " + aside);
    script_ = makeStarterScript();
}

Script AppState::makeStarterScript() {
    Script script;
    script.name = "新脚本";
    Step note(StepKind::comment);
    note.note = "点击「录制」抓取鼠标键盘操作，或用「添加」手动创建步骤；默认 F9 录制、F10 播放（可在「设置 → 热键设置」修改）。";
    script.steps.push_back(std::move(note));
    return script;
}

// ------------------------------------------------------------------ small setters

void AppState::setSelectedStepID(std::optional<Uuid> id) { select(std::move(id)); }

void AppState::select(std::optional<Uuid> id) {
    if (selectedStepID_ == id) return;
    selectedStepID_ = std::move(id);
    Q_EMIT selectedStepIDChanged();
}

void AppState::setRecordsMouseMove(bool records) {
    if (recordsMouseMove_ == records) return;
    recordsMouseMove_ = records;
    Q_EMIT recordsMouseMoveChanged();
}

void AppState::setStatus(std::string text) {
    statusMessage_ = std::move(text);
    Q_EMIT statusMessageChanged();
}

void AppState::setAlert(std::string text) {
    alertMessage_ = std::move(text);
    Q_EMIT alertMessageChanged();
}

void AppState::dismissAlert() {
    if (!alertMessage_) return;
    alertMessage_.reset();
    Q_EMIT alertMessageChanged();
}

void AppState::setCurrentScriptPath(std::optional<std::string> path) {
    if (currentScriptPath_ == path) return;
    currentScriptPath_ = std::move(path);
    Q_EMIT currentScriptPathChanged();
}

void AppState::setShowsSettings(bool shows) {
    if (showsSettings_ == shows) return;
    showsSettings_ = shows;
    Q_EMIT showsSettingsChanged();
}

void AppState::setHotKeyRecord(const HotKeyShortcut& shortcut) {
    hotKeyRecord_ = shortcut;
    applyHotKeys();
}

void AppState::setHotKeyPlay(const HotKeyShortcut& shortcut) {
    hotKeyPlay_ = shortcut;
    applyHotKeys();
}

void AppState::applyHotKeys() {
    hotKeys_->recordShortcut = hotKeyRecord_;
    hotKeys_->playShortcut = hotKeyPlay_;
    QSettings settings(qs(locations_.settingsFile), QSettings::IniFormat);
    settings.setValue(kRecordKey, QByteArray::fromStdString(hotKeyRecord_.toJson()));
    settings.setValue(kPlayKey, QByteArray::fromStdString(hotKeyPlay_.toJson()));
    settings.sync();
    Q_EMIT hotKeysChanged();
}

bool AppState::isRunning() const { return runner_->isRunning(); }
bool AppState::isPaused() const { return runner_->isPaused(); }
std::optional<Uuid> AppState::currentStepID() const { return runner_->currentStepID(); }
int64_t AppState::cycleCount() const { return runner_->cycleCount(); }
void AppState::togglePause() { runner_->togglePause(); }

// ------------------------------------------------------------------ other threads

void AppState::postFromAnyThread(const std::shared_ptr<PostBox>& box, std::function<void()> task) {
    std::lock_guard lock(box->mutex);
    if (!box->owner) return;
    const bool wake = box->tasks.empty();
    box->tasks.push_back(std::move(task));
    // Under the box's lock, so the owner cannot go meanwhile; Qt drops the wake-up if the owner
    // is deleted before it runs.
    if (wake) QMetaObject::invokeMethod(box->owner, "runPosted", Qt::QueuedConnection);
}

void AppState::runPosted() {
    std::deque<std::function<void()>> tasks;
    {
        std::lock_guard lock(postBox_->mutex);
        tasks.swap(postBox_->tasks);
    }
    for (auto& task : tasks) task();
}

// ------------------------------------------------------------------ log

void AppState::log(const std::string& text) {
    if (QThread::currentThread() != thread()) {
        // Queued to this object: dropped by Qt if the state is gone by then.
        postFromAnyThread([this, text] { log(text); });
        return;
    }
    ++logSequence_;
    const std::string stamp = QTime::currentTime().toString("HH:mm:ss").toStdString();
    logs_.push_back({logSequence_, "[" + stamp + "] " + text});
    while (logs_.size() > static_cast<size_t>(kMaxLogLines)) logs_.pop_front();
    Q_EMIT logsChanged();
}

void AppState::clearLogs() {
    logs_.clear();
    Q_EMIT logsChanged();
}

// ------------------------------------------------------------------ document changes

void AppState::changeScript(const std::function<void(Script&)>& change, ScriptChange notice,
                            const std::string& mergeKey, UndoRecord record) {
    if (record == UndoRecord::yes) undo_->record(script_, selectedStepID_, mergeKey);
    change(script_);
    Q_EMIT scriptChanged(notice);
    scheduleAutosave();
    if (record == UndoRecord::yes) Q_EMIT undoStateChanged();
}

void AppState::replaceScript(Script script) {
    changeScript([&script](Script& s) { s = std::move(script); }, {ScriptChange::Kind::reset, 0, 0});
}

int AppState::indexOf(const Uuid& id) const {
    for (size_t i = 0; i < script_.steps.size(); ++i)
        if (script_.steps[i].id == id) return static_cast<int>(i);
    return -1;
}

void AppState::updateStep(const Uuid& id, const std::function<void(Step&)>& change, const std::string& mergeKey) {
    const int index = indexOf(id);
    if (index < 0) return;
    changeScript([&](Script& s) { change(s.steps[static_cast<size_t>(index)]); },
                 {ScriptChange::Kind::stepChanged, index, 1}, mergeKey);
}

void AppState::stopRecordingForDocumentChange() {
    if (isRecording_) stopRecording();
}

void AppState::newScript() {
    stopRecordingForDocumentChange();
    replaceScript(makeStarterScript());
    select(std::nullopt);
    setCurrentScriptPath(std::nullopt);
    log("已新建脚本");
}

void AppState::addStep(StepKind kind) {
    std::optional<GlobalPoint> pointer;
    if (services_.desktop.events)
        if (auto at = services_.desktop.events->pointerLocation()) pointer = GlobalPoint{at->x, at->y};
    Step step = Step::create(kind, pointer);
    const Uuid id = step.id;
    const int selected = selectedStepID_ ? indexOf(*selectedStepID_) : -1;
    const int at = selected >= 0 ? selected + 1 : static_cast<int>(script_.steps.size());
    changeScript([&](Script& s) { s.steps.insert(s.steps.begin() + at, std::move(step)); },
                 {ScriptChange::Kind::stepsInserted, at, 1});
    select(id);
    setStatus("已添加：" + std::string(label(kind)));
}

void AppState::deleteSelected() {
    const int index = selectedStepID_ ? indexOf(*selectedStepID_) : -1;
    if (index < 0) return;
    stopRecordingForDocumentChange();
    const int at = indexOf(*selectedStepID_);   // the recording's trim may have moved it
    if (at < 0) return;
    changeScript([at](Script& s) { s.steps.erase(s.steps.begin() + at); }, {ScriptChange::Kind::stepsRemoved, at, 1});
    if (script_.steps.empty())
        select(std::nullopt);
    else
        select(script_.steps[std::min<size_t>(static_cast<size_t>(at), script_.steps.size() - 1)].id);
}

void AppState::duplicateSelected() {
    const int index = selectedStepID_ ? indexOf(*selectedStepID_) : -1;
    if (index < 0) return;
    Step copy = script_.steps[static_cast<size_t>(index)];
    copy.id = Uuid::random();
    const Uuid id = copy.id;
    changeScript([&](Script& s) { s.steps.insert(s.steps.begin() + index + 1, std::move(copy)); },
                 {ScriptChange::Kind::stepsInserted, index + 1, 1});
    select(id);
}

void AppState::moveSteps(std::vector<int> sourceRows, int destination) {
    const int count = static_cast<int>(script_.steps.size());
    std::sort(sourceRows.begin(), sourceRows.end());
    sourceRows.erase(std::unique(sourceRows.begin(), sourceRows.end()), sourceRows.end());
    std::erase_if(sourceRows, [count](int row) { return row < 0 || row >= count; });
    if (sourceRows.empty()) return;
    destination = std::clamp(destination, 0, count);
    std::vector<Step> moved, rest;
    int insertAt = 0;
    for (int i = 0; i < count; ++i) {
        if (i == destination) insertAt = static_cast<int>(rest.size());
        const bool isMoved = std::binary_search(sourceRows.begin(), sourceRows.end(), i);
        (isMoved ? moved : rest).push_back(script_.steps[static_cast<size_t>(i)]);
    }
    if (destination == count) insertAt = static_cast<int>(rest.size());
    rest.insert(rest.begin() + insertAt, std::make_move_iterator(moved.begin()), std::make_move_iterator(moved.end()));
    if (rest == script_.steps) return;
    changeScript([&rest](Script& s) { s.steps = std::move(rest); }, {ScriptChange::Kind::reset, 0, 0});
}

void AppState::moveSelected(int distance) {
    const int i = selectedStepID_ ? indexOf(*selectedStepID_) : -1;
    if (i < 0) return;
    const int64_t j = static_cast<int64_t>(i) + distance;
    if (j < 0 || j >= static_cast<int64_t>(script_.steps.size()) || j == i) return;
    changeScript([i, j](Script& s) { std::swap(s.steps[static_cast<size_t>(i)], s.steps[static_cast<size_t>(j)]); },
                 {ScriptChange::Kind::reset, 0, 0});
}

void AppState::clearAll() {
    stopRecordingForDocumentChange();
    const int count = static_cast<int>(script_.steps.size());
    changeScript([](Script& s) { s.steps.clear(); }, {ScriptChange::Kind::stepsRemoved, 0, count});
    select(std::nullopt);
    setStatus("已清空");
}

Step AppState::step(const Uuid& id) const {
    const int index = indexOf(id);
    return index >= 0 ? script_.steps[static_cast<size_t>(index)] : Step(StepKind::comment);
}

void AppState::writeStep(const Uuid& id, const Step& value, const std::string& mergeKey) {
    const int index = indexOf(id);
    if (index < 0 || script_.steps[static_cast<size_t>(index)] == value) return;
    updateStep(id, [&value](Step& s) { s = value; }, mergeKey);
}

Binding<Step> AppState::binding(const Uuid& id) {
    std::weak_ptr<AppState*> weak = self_;
    return {[weak, id] {
                auto self = weak.lock();
                return self ? (*self)->step(id) : Step(StepKind::comment);
            },
            [weak, id](const Step& value, const std::string& mergeKey) {
                if (auto self = weak.lock()) (*self)->writeStep(id, value, mergeKey);
            }};
}

void AppState::setScriptName(const std::string& name) {
    if (script_.name == name) return;
    changeScript([&name](Script& s) { s.name = name; }, {ScriptChange::Kind::settings, 0, 0}, "script.name");
}

void AppState::setLoopCount(int64_t count) {
    if (script_.loopCount == count) return;
    changeScript([count](Script& s) { s.loopCount = count; }, {ScriptChange::Kind::settings, 0, 0}, "script.loopCount");
}

void AppState::setStepIntervalMs(int64_t ms) {
    if (script_.stepIntervalMs == ms) return;
    changeScript([ms](Script& s) { s.stepIntervalMs = ms; }, {ScriptChange::Kind::settings, 0, 0},
                 "script.stepIntervalMs");
}

// ------------------------------------------------------------------ undo

bool AppState::canUndo() const { return !undo_->undo.empty(); }
bool AppState::canRedo() const { return !undo_->redo.empty(); }

void AppState::undo() {
    if (isRecording_ || undo_->undo.empty()) return;
    Undo::Entry entry = undo_->pop(undo_->undo);
    undo_->push(undo_->redo, {script_, selectedStepID_, 0});
    script_ = std::move(entry.script);
    Q_EMIT scriptChanged({ScriptChange::Kind::reset, 0, 0});
    scheduleAutosave();
    select(entry.selection && indexOf(*entry.selection) >= 0 ? entry.selection : std::nullopt);
    Q_EMIT undoStateChanged();
}

void AppState::redo() {
    if (isRecording_ || undo_->redo.empty()) return;
    Undo::Entry entry = undo_->pop(undo_->redo);
    undo_->push(undo_->undo, {script_, selectedStepID_, footprint(script_)});
    script_ = std::move(entry.script);
    Q_EMIT scriptChanged({ScriptChange::Kind::reset, 0, 0});
    scheduleAutosave();
    select(entry.selection && indexOf(*entry.selection) >= 0 ? entry.selection : std::nullopt);
    Q_EMIT undoStateChanged();
}

// ------------------------------------------------------------------ recording and playback

namespace {

std::string displayOr(const HotKeyShortcut& shortcut, const std::string& placeholder) {
    return shortcut.displayText().value_or(placeholder);
}

}  // namespace

void AppState::startRecording() {
    if (runner_->isRunning()) {
        setAlert("脚本正在运行，请先停止后再录制。");
        return;
    }
    if (!ensureAccessibility()) return;
    recorder_->recordMouseMove = recordsMouseMove_;
    std::weak_ptr<AppState*> weak = self_;
    recorder_->onAppend = [weak](const Step& step) {
        auto self = weak.lock();
        if (!self) return;
        AppState& state = **self;
        state.recordedIDs_.push_back(step.id);
        const int at = static_cast<int>(state.script_.steps.size());
        state.changeScript([&step](Script& s) { s.steps.push_back(step); }, {ScriptChange::Kind::stepsInserted, at, 1},
                           {}, UndoRecord::no);
        if (auto& panel = state.services_.ui.recordingPanel) {
            panel->update({static_cast<int>(state.script_.steps.size()), state.recordsMouseMove_,
                           displayOr(state.hotKeyRecord_, "停止")});
        }
    };
    // Only the step the recorder itself appended last, never one the user made meanwhile.
    recorder_->onRemoveLast = [weak] {
        auto self = weak.lock();
        if (!self || (*self)->recordedIDs_.empty()) return;
        AppState& state = **self;
        const Uuid id = state.recordedIDs_.back();
        state.recordedIDs_.pop_back();
        const int index = state.indexOf(id);
        if (index < 0) return;
        state.changeScript([index](Script& s) { s.steps.erase(s.steps.begin() + index); },
                           {ScriptChange::Kind::stepsRemoved, index, 1}, {}, UndoRecord::no);
    };
    // The whole recording becomes one undo step: the document as it was before it.
    const Script before = script_;
    try {
        recorder_->start();
    } catch (const InputRecorder::RecorderError& error) {
        setAlert(error.what());
        return;
    }
    undo_->record(before, selectedStepID_, {});
    Q_EMIT undoStateChanged();
    recordedIDs_.clear();
    isRecording_ = true;
    Q_EMIT recordingChanged();
    setStatus("录制中… 按 " + displayOr(hotKeyRecord_, "未设置") + " 或点击悬浮窗按钮停止");
    if (auto& panel = services_.ui.recordingPanel) {
        panel->show({static_cast<int>(script_.steps.size()), recordsMouseMove_, displayOr(hotKeyRecord_, "停止")},
                    [weak] {
                        if (auto self = weak.lock()) (*self)->stopRecording();
                    });
    }
    log(std::string("⏺ 开始录制") + (recordsMouseMove_ ? "（含鼠标轨迹）" : ""));
}

void AppState::stopRecording(std::optional<HotKeyShortcut> stoppingKey) {
    if (!isRecording_) return;
    std::optional<platform::Rect> exclusion;
    if (auto& panel = services_.ui.recordingPanel) {
        if (auto frame = panel->frameInGlobalPoints()) {
            const platform::Rect f = frame->standardized();
            exclusion = platform::Rect{f.x - 6, f.y - 6, f.width + 12, f.height + 12};
        }
    }
    const auto removeLastIf = [this](const std::function<bool(const Step&)>& drop) {
        if (script_.steps.empty() || !drop(script_.steps.back())) return false;
        const int index = static_cast<int>(script_.steps.size()) - 1;
        changeScript([](Script& s) { s.steps.pop_back(); }, {ScriptChange::Kind::stepsRemoved, index, 1}, {},
                     UndoRecord::no);
        return true;
    };
    // The press that stopped the recording (when the tap saw it before the hotkey monitor did)
    // and the pause before it are the user's stop, not part of the recording. Trimmed before the
    // recorder's own trailing steps (a held button's "down") arrive.
    if (stoppingKey && stoppingKey->keyCode && !recordedIDs_.empty()) {
        const Uuid keyStep = recordedIDs_.back();
        const bool dropped = removeLastIf([&](const Step& s) {
            return s.id == keyStep && s.kind == StepKind::keyPress && s.keyCode == stoppingKey->keyCode &&
                   s.modifiers == stoppingKey->modifiers;
        });
        if (dropped) {
            recordedIDs_.pop_back();
            if (!recordedIDs_.empty()) {
                const Uuid pause = recordedIDs_.back();
                removeLastIf([&](const Step& s) { return s.id == pause && s.kind == StepKind::delay; });
            }
        }
    }
    recorder_->stop();
    isRecording_ = false;
    Q_EMIT recordingChanged();
    if (auto& panel = services_.ui.recordingPanel) panel->hide();
    if (exclusion) {
        for (int i = 0; i < 3; ++i) {
            const bool trimmed = removeLastIf([&](const Step& s) {
                return s.kind == StepKind::mouseClick && s.hasPoint && s.x >= exclusion->minX() &&
                       s.x <= exclusion->maxX() && s.y >= exclusion->minY() && s.y <= exclusion->maxY();
            });
            if (!trimmed) break;
        }
    }
    recordedIDs_.clear();
    // A recording that changed nothing leaves no undo step behind.
    if (!undo_->undo.empty() && undo_->undo.back().script == script_) {
        undo_->pop(undo_->undo);
        Q_EMIT undoStateChanged();
    }
    const std::string count = std::to_string(script_.steps.size());
    setStatus("录制完成，共 " + count + " 个步骤");
    log("⏹ 结束录制，共 " + count + " 个步骤");
}

std::optional<std::filesystem::path> AppState::baseFolder() const {
    if (!currentScriptPath_) return std::nullopt;
    return std::filesystem::path(*currentScriptPath_).parent_path();
}

void AppState::togglePlay() {
    if (runner_->isRunning())
        runner_->stop();
    else
        startPlay();
}

void AppState::startPlay() {
    if (isRecording_) {
        setAlert("正在录制中，请先停止录制。");
        return;
    }
    if (script_.steps.empty()) {
        setAlert("脚本中还没有任何步骤。");
        return;
    }
    if (!ensureAccessibility()) return;
    runner_->start(script_, baseFolder());
}

// ------------------------------------------------------------------ permissions

void AppState::refreshPermissions() {
    auto& permissions = services_.desktop.permissions;
    if (!permissions) return;
    const bool input = permissions->inputTrusted(platform::Prompt::no);
    const bool screen = permissions->screenCapturePreflight();
    if (input == accessibilityGranted_ && screen == screenRecordingGranted_) return;
    accessibilityGranted_ = input;
    screenRecordingGranted_ = screen;
    Q_EMIT permissionsChanged();
}

std::string AppState::permissionAlert(platform::Permissions::Kind kind) {
    const bool input = kind == platform::Permissions::Kind::input;
    const std::string first = input ? "需要「辅助功能」权限才能录制和回放鼠标键盘。"
                                    : "需要「屏幕录制」权限才能截图和识别屏幕颜色。";
    const std::string explanation =
        services_.desktop.permissions ? services_.desktop.permissions->missingExplanation(kind) : std::string();
    if (!explanation.empty()) return first + "\n" + explanation;
    return first + (input ? "\n请到「系统设置 → 隐私与安全性 → 辅助功能」中勾选「Tapforge」，然后重新打开本应用。"
                          : "\n请到「系统设置 → 隐私与安全性 → 屏幕录制」中勾选「Tapforge」，然后重新打开本应用。");
}

bool AppState::ensureAccessibility() {
    refreshPermissions();
    if (accessibilityGranted_) return true;
    if (services_.desktop.permissions) services_.desktop.permissions->inputTrusted(platform::Prompt::yes);
    setAlert(permissionAlert(platform::Permissions::Kind::input));
    return false;
}

bool AppState::ensureScreenRecording() {
    refreshPermissions();
    if (screenRecordingGranted_) return true;
    if (services_.desktop.permissions) services_.desktop.permissions->screenCaptureRequest();
    setAlert(permissionAlert(platform::Permissions::Kind::screenCapture));
    return false;
}

// ------------------------------------------------------------------ persistence

void AppState::saveScript() {
    auto& panels = services_.ui.filePanels;
    if (!panels) return;
    const auto path = panels->chooseSaveLocation("保存脚本", (script_.name.empty() ? "脚本" : script_.name) + ".json");
    if (!path) return;
    const ScriptEncodeResult encoded = encodeScript(script_, JsonStyle::pretty);
    std::optional<std::string> error = encoded ? writeFileAtomically(*path, *encoded.json) : encoded.error;
    if (error) {
        setAlert("保存失败：" + *error);
        return;
    }
    setCurrentScriptPath(*path);
    setStatus("已保存到 " + fileName(*path));
    log("💾 已保存 " + *path);
}

void AppState::openScript() {
    auto& panels = services_.ui.filePanels;
    if (!panels || isOpening_) return;
    // The last second of edits reaches the autosave before the document is replaced.
    flushAutosave();
    const auto path = panels->chooseOpenLocation("打开脚本", FileKind::script, {});
    if (!path) return;
    isOpening_ = true;
    // Reading and decoding a large document would stall the window for a noticeable time.
    opener_->run([this, path = *path] {
        FileRead read = readRegularFile(path, kMaxScriptDocumentBytes);
        ScriptDecodeResult decoded;
        if (read.bytes) decoded = decodeScript(*read.bytes);
        auto script = std::make_shared<std::optional<Script>>(std::move(decoded.script));
        const std::string error = read.bytes ? decoded.error : read.error;
        postFromAnyThread([this, path, script, error] { finishOpen(path, std::move(*script), error); });
    });
}

void AppState::finishOpen(const std::string& path, std::optional<Script> script, const std::string& error) {
    isOpening_ = false;
    if (!script) {
        setAlert("打开失败：" + error);
        return;
    }
    stopRecordingForDocumentChange();
    script->name = QFileInfo(qs(path)).completeBaseName().toStdString();
    replaceScript(std::move(*script));
    setCurrentScriptPath(path);
    select(script_.steps.empty() ? std::nullopt : std::optional<Uuid>(script_.steps.front().id));
    setStatus("已打开 " + fileName(path));
    log("📂 已打开 " + path);
}

void AppState::scheduleAutosave() {
    if (autosaveTask_) timers_->cancel(autosaveTask_);
    std::weak_ptr<AppState*> weak = self_;
    autosaveTask_ = timers_->runAfter(kAutosaveDelayMs, [weak] {
        if (auto self = weak.lock()) {
            (*self)->autosaveTask_ = 0;
            (*self)->writeAutosaveNow();
        }
    });
}

void AppState::writeAutosaveNow() {
    // The copy is the main thread's whole share; encoding and writing run on the writer thread.
    autosave_->write(locations_.autosavePath(), script_, [this](std::optional<std::string> error) {
        postFromAnyThread([this, error] {
            // One line when autosaving starts failing, not one per second; a success re-arms it.
            if (error && !autosaveFailing_) log("⚠️ 自动保存失败：" + *error);
            autosaveFailing_ = error.has_value();
        });
    });
}

void AppState::flushAutosave() {
    if (autosaveTask_) {
        timers_->cancel(autosaveTask_);
        autosaveTask_ = 0;
        writeAutosaveNow();
    }
    autosave_->wait();
}

void AppState::relaunch() {
    flushAutosave();
    if (services_.ui.launcher) services_.ui.launcher->relaunch();
}

// ------------------------------------------------------------------ Lua files

void AppState::chooseLuaFile(const Uuid& stepID) {
    auto& panels = services_.ui.filePanels;
    if (!panels) return;
    const std::string start = baseFolder() ? baseFolder()->string() : std::string();
    const auto path = panels->chooseOpenLocation("选择 Lua 脚本", FileKind::lua, start);
    if (!path) return;
    updateStep(stepID, [&path](Step& s) { s.luaFile = *path; });
    log("已选择 Lua 脚本 " + fileName(*path));
}

void AppState::createLuaSample(const Uuid& stepID) {
    const std::string folder = locations_.luaScriptsFolder();
    const std::string stem = "macro_" + std::to_string(QDateTime::currentSecsSinceEpoch());
    // Never replace a file the user may have edited: a taken name gets a suffix.
    std::string path = folder + "/" + stem + ".lua";
    std::error_code ignored;
    for (int n = 2; std::filesystem::exists(path, ignored) || std::filesystem::is_symlink(path, ignored); ++n)
        path = folder + "/" + stem + "-" + std::to_string(n) + ".lua";
    if (auto error = writeFileAtomically(path, luaSampleText())) {
        setAlert("创建示例脚本失败：" + *error);
        return;
    }
    updateStep(stepID, [&path](Step& s) { s.luaFile = path; });
    if (services_.ui.launcher) services_.ui.launcher->openWithDefaultApplication(path);
    log("已创建示例脚本 " + path);
}

void AppState::openLuaFile(const std::string& path) {
    if (path.empty()) {
        setAlert("还没有选择 Lua 脚本文件。");
        return;
    }
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(path, ignored)) {
        setAlert("文件不存在：" + path);
        return;
    }
    if (services_.ui.launcher) services_.ui.launcher->openWithDefaultApplication(path);
}

void AppState::revealLuaFile(const std::string& path) {
    if (path.empty() || !services_.ui.launcher) return;
    services_.ui.launcher->revealInFileManager(path);
}

std::string AppState::luaFileInfo(const std::string& path) const {
    if (path.empty()) return "未选择文件";
    const QFileInfo info(qs(path));
    if (!info.exists() || !info.lastModified().isValid()) return "文件不存在";
    return std::to_string(info.size()) + " 字节 · 修改于 " +
           info.lastModified().toString("yyyy-MM-dd HH:mm:ss").toStdString();
}

std::optional<std::string> AppState::luaFilePreview(const std::string& path, int maxLines) const {
    if (path.empty()) return std::nullopt;
    FileRead read = readRegularFile(path, kPreviewBytes, OverCap::truncate);
    if (!read.bytes) return std::nullopt;
    std::string& text = *read.bytes;
    // A preview cut at the cap may end inside a character: drop that partial character.
    if (text.size() == kPreviewBytes) {
        size_t cut = text.size();
        while (cut > 0 && cut > text.size() - 4 && (static_cast<unsigned char>(text[cut - 1]) & 0xC0) == 0x80) --cut;
        if (cut > 0 && static_cast<unsigned char>(text[cut - 1]) >= 0xC0) text.resize(cut - 1);
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    (void)QString(decoder(QByteArrayView(text.data(), static_cast<qsizetype>(text.size()))));
    if (decoder.hasError()) return std::nullopt;
    std::string out;
    size_t start = 0;
    for (int line = 1; line <= maxLines; ++line) {
        const size_t end = text.find('\n', start);
        if (line > 1) out += '\n';
        out += std::to_string(line) + "\t" + text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

const std::string& AppState::luaSampleText() {
    static const std::string text =
        "-- Tapforge Lua 示例脚本\n"
        "-- 可用的命名空间：mouse / keyboard / color / image / screen / script\n"
        "-- 另有全局函数：log(...)、printf(fmt, ...)、sleep(ms)\n"
        "\n"
        "log(\"Lua 脚本启动\")\n"
        "\n"
        "-- 鼠标：click(x, y[, 按键][, 次数])、move、drag、scroll、pos()\n"
        "-- mouse.click(100, 200)\n"
        "-- mouse.move(400, 300, 300)         -- 300ms 平滑移动\n"
        "-- mouse.drag(100, 100, 500, 500)    -- 拖拽\n"
        "-- mouse.scroll(-3)\n"
        "-- local x, y = mouse.pos()\n"
        "\n"
        "-- 键盘：press / down / up / hotkey / type\n"
        "-- keyboard.press(\"f5\")\n"
        "-- keyboard.hotkey(\"cmd+shift+a\")\n"
        "-- keyboard.type(\"hello world\")\n"
        "\n"
        "-- 颜色：get(x, y) 返回 r, g, b, hex；match / wait 支持 \"#RRGGBB\" 或 r, g, b\n"
        "-- local r, g, b, hex = color.get(100, 200)\n"
        "-- if color.match(100, 200, \"#FF0000\", 12) then log(\"是红色\") end\n"
        "-- color.wait(100, 200, \"#00FF00\", 10, 5000)\n"
        "-- if color.matchAll({{x=10,y=10,color=\"#FF0000\"},{x=20,y=20,color=\"#00FF00\"}}, \"any\") then\n"
        "--     log(\"至少命中一个颜色点\")\n"
        "-- end\n"
        "\n"
        "-- 图像：模板库里按名称查找，返回 x, y, 相似度\n"
        "-- local bx, by, score = image.find(\"登录按钮\", 0.9)\n"
        "-- if bx then log(\"找到按钮\", bx, by, score) end\n"
        "-- image.wait(\"弹窗\", 0.9, 8000)\n"
        "-- log(\"模板库：\", table.concat(image.list(), \", \"))\n"
        "\n"
        "-- 屏幕信息\n"
        "-- local w, h = screen.size()\n"
        "\n"
        "-- 流程控制\n"
        "-- script.jump(3)        -- 跳转到第 3 个步骤\n"
        "-- script.stop()         -- 立即停止脚本\n"
        "\n"
        "-- 返回值决定「执行分支」：返回 true 走成功分支，false 走失败分支，返回 nil 则继续下一步\n"
        "return true";
    return text;
}

// ------------------------------------------------------------------ templates and picking

void AppState::pickColors(const Uuid& stepID) {
    if (!ensureScreenRecording()) return;
    const int index = indexOf(stepID);
    if (index < 0 || !services_.ui.pickers) return;
    std::weak_ptr<AppState*> weak = self_;
    services_.ui.pickers->pickColors(
        script_.steps[static_cast<size_t>(index)].colorPoints,
        [weak, stepID](const ColorPoint& point) {
            auto self = weak.lock();
            if (!self || (*self)->indexOf(stepID) < 0) return;
            (*self)->updateStep(stepID, [&point](Step& s) { s.colorPoints.push_back(point); });
            (*self)->log("拾取颜色 " + point.display());
        },
        [weak] {
            if (auto self = weak.lock()) (*self)->setStatus("取色结束");
        });
}

void AppState::pickPoint(const Uuid& stepID) {
    if (!services_.ui.pickers) return;
    std::weak_ptr<AppState*> weak = self_;
    services_.ui.pickers->pickPoint([weak, stepID](std::optional<platform::Point> point) {
        auto self = weak.lock();
        if (!self) return;
        AppState& state = **self;
        if (!point) {
            state.setStatus("已取消取点");
            return;
        }
        state.updateStep(stepID, [&point](Step& s) {
            s.x = point->x;
            s.y = point->y;
            s.hasPoint = true;
        });
        char text[96];
        std::snprintf(text, sizeof text, "(%.0f, %.0f)", point->x, point->y);
        state.setStatus(std::string("已记录坐标 ") + text);
        state.log(std::string("拾取坐标 ") + text);
    });
}

void AppState::afterRegionPick(std::function<void(AppState&, std::optional<RegionPick>)> done) {
    if (!services_.ui.pickers) return;
    std::weak_ptr<AppState*> weak = self_;
    services_.ui.pickers->selectRegion([weak, done = std::move(done)](std::optional<RegionPick> pick) {
        auto self = weak.lock();
        if (!self) return;
        if (!pick) {
            done(**self, std::nullopt);
            return;
        }
        // The overlay must be gone from the screen before a live grab.
        (*self)->timers_->runAfter(kCaptureDelayMs, [weak, done, pick] {
            if (auto self = weak.lock()) done(**self, pick);
        });
    });
}

void AppState::captureTemplate(const Uuid& stepID) {
    if (!ensureScreenRecording()) return;
    afterRegionPick([stepID](AppState& state, std::optional<RegionPick> pick) {
        if (!pick) {
            state.log("已取消截图");
            return;
        }
        const auto imageChecks = std::count_if(state.script_.steps.begin(), state.script_.steps.end(),
                                               [](const Step& s) { return s.kind == StepKind::imageCheck; });
        Capture capture = captureRegion(*pick, state.services_.desktop, "模板" + std::to_string(imageChecks + 1));
        if (!capture.templ) {
            state.setAlert(capture.failure == CaptureFailure::encode ? "图片编码失败。"
                                                                     : "截图失败，请确认已授予「屏幕录制」权限后重试。");
            return;
        }
        if (state.indexOf(stepID) < 0) return;
        const ImageTemplate& t = *capture.templ;
        state.updateStep(stepID, [&t](Step& s) { s.imageTemplate = t; });
        const std::string size = sizeText(t.widthPoints, t.heightPoints);
        state.setStatus("已保存图片模板 " + size);
        state.log("已保存图片模板「" + t.name + "」 " + size);
    });
}

void AppState::addTemplate(const std::string& proposedName) {
    if (!ensureScreenRecording()) return;
    std::string name = qs(proposedName).trimmed().toStdString();
    if (name.empty()) name = "模板" + std::to_string(script_.templates.size() + 1);
    afterRegionPick([name](AppState& state, std::optional<RegionPick> pick) {
        if (!pick) return;
        Capture capture = captureRegion(*pick, state.services_.desktop, name);
        if (!capture.templ) {
            state.setAlert("截图失败，请确认已授予「屏幕录制」权限。");
            return;
        }
        const ImageTemplate& t = *capture.templ;
        state.changeScript([&t](Script& s) { s.templates.push_back(t); }, {ScriptChange::Kind::settings, 0, 0});
        state.setStatus("模板「" + name + "」已加入模板库");
        state.log("已添加模板「" + name + "」 " + sizeText(t.widthPoints, t.heightPoints));
    });
}

bool AppState::templateRowHolds(size_t index, const ImageTemplate& expected) const {
    return index < script_.templates.size() && script_.templates[index] == expected;
}

void AppState::recaptureTemplate(size_t index, const ImageTemplate& expected) {
    if (!ensureScreenRecording()) return;
    afterRegionPick([index, expected](AppState& state, std::optional<RegionPick> pick) {
        if (!pick) return;
        Capture capture = captureRegion(*pick, state.services_.desktop, expected.name);
        if (!capture.templ) {
            state.setAlert("截图失败，请确认已授予「屏幕录制」权限。");
            return;
        }
        // The row was edited or deleted while the user selected: nothing to update.
        if (!state.templateRowHolds(index, expected)) return;
        const ImageTemplate& t = *capture.templ;
        state.changeScript([&](Script& s) { s.templates[index] = t; }, {ScriptChange::Kind::settings, 0, 0});
        state.setStatus("模板「" + expected.name + "」已更新");
    });
}

void AppState::deleteTemplate(size_t index, const ImageTemplate& expected) {
    if (!templateRowHolds(index, expected)) return;
    changeScript([index](Script& s) { s.templates.erase(s.templates.begin() + static_cast<ptrdiff_t>(index)); },
                 {ScriptChange::Kind::settings, 0, 0});
}

ImageTemplate AppState::templateAt(size_t index) const {
    if (index < script_.templates.size()) return script_.templates[index];
    return ImageTemplate{};
}

void AppState::writeTemplate(size_t index, const ImageTemplate& expected, const ImageTemplate& value,
                             const std::string& mergeKey) {
    if (!templateRowHolds(index, expected) || expected == value) return;
    changeScript([&](Script& s) { s.templates[index] = value; }, {ScriptChange::Kind::settings, 0, 0}, mergeKey);
}

Binding<ImageTemplate> AppState::binding(size_t templateIndex) {
    std::weak_ptr<AppState*> weak = self_;
    return {[weak, templateIndex] {
                auto self = weak.lock();
                return self ? (*self)->templateAt(templateIndex) : ImageTemplate{};
            },
            [weak, templateIndex](const ImageTemplate& value, const std::string& mergeKey) {
                auto self = weak.lock();
                if (!self || templateIndex >= (*self)->script_.templates.size()) return;
                (*self)->writeTemplate(templateIndex, (*self)->script_.templates[templateIndex], value, mergeKey);
            }};
}

void AppState::testMatch(const ImageTemplate& templ) {
    if (!ensureScreenRecording()) return;
    const vision::SharedImage image = vision::TemplateCache::shared().image(templ);
    if (!image) {
        setStatus("模板解码失败");
        return;
    }
    vision::ScreenCapture capture(services_.desktop);
    const auto snapshot = capture.grabMainDisplay();
    if (!snapshot) {
        setStatus("截屏失败");
        return;
    }
    const auto result = vision::ImageMatcher::find(*image, {templ.widthPoints, templ.heightPoints}, *snapshot,
                                                   std::nullopt, 0.8);
    setStatus("「" + templ.name + "」最高相似度 " + percentText("%.1f%%", result.score));
    log(std::string(mark(result.matched)) + " 模板测试「" + templ.name + "」：相似度 " +
        percentText("%.1f%%", result.score) + positionText(result));
}

void AppState::testStep(const Uuid& stepID) {
    const int index = indexOf(stepID);
    if (index < 0) return;
    const Step step = script_.steps[static_cast<size_t>(index)];
    vision::ScreenCapture capture(services_.desktop);
    if (step.kind == StepKind::imageCheck) {
        const vision::SharedImage image =
            step.imageTemplate ? vision::TemplateCache::shared().image(*step.imageTemplate) : nullptr;
        if (!image) {
            setStatus("还没有截取图片模板");
            return;
        }
        if (!ensureScreenRecording()) return;
        const auto snapshot = capture.grabMainDisplay();
        if (!snapshot) {
            setStatus("截图失败");
            return;
        }
        const ImageTemplate& t = *step.imageTemplate;
        std::optional<platform::Rect> area;
        if (!step.searchFullScreen) {
            const double m = step.searchMargin, s = snapshot->scale;
            area = platform::Rect{(t.originX - m - snapshot->origin.x) * s, (t.originY - m - snapshot->origin.y) * s,
                                  (t.widthPoints + 2 * m) * s, (t.heightPoints + 2 * m) * s};
        }
        const auto result =
            vision::ImageMatcher::find(*image, {t.widthPoints, t.heightPoints}, *snapshot, area, step.threshold);
        setStatus("相似度 " + percentText("%.1f%%", result.score));
        log(std::string(mark(result.matched)) + " 测试图片：相似度 " + percentText("%.1f%%", result.score) +
            positionText(result));
        Q_EMIT checkTested(stepID, CheckOutcome::image(result, *snapshot, area));
    } else if (step.kind == StepKind::colorCheck) {
        std::vector<ColorPoint> points;
        std::copy_if(step.colorPoints.begin(), step.colorPoints.end(), std::back_inserter(points),
                     [](const ColorPoint& p) { return p.enabled; });
        if (points.empty()) {
            setStatus("没有可用的颜色点");
            return;
        }
        if (!ensureScreenRecording()) return;
        const auto snapshot = capture.capture(points, 12);
        const vision::ColorCheckResult result =
            snapshot ? vision::ColorMatcher::check(points, step.colorMode, *snapshot) : vision::ColorCheckResult{};
        setStatus(result.matched ? "颜色比对通过" : "颜色比对未通过");
        log(std::string(mark(result.matched)) + " 测试颜色：" + result.description());
        Q_EMIT checkTested(stepID, CheckOutcome::color(result));
    } else {
        setStatus("该步骤不需要测试");
    }
}

void AppState::testLuaStep(const Uuid& stepID) {
    const int index = indexOf(stepID);
    if (index < 0) return;
    const Step& step = script_.steps[static_cast<size_t>(index)];
    if (step.luaFile.empty()) {
        setAlert("请先选择 .lua 文件。");
        return;
    }
    if (runner_->isRunning()) {
        setAlert("脚本正在运行中。");
        return;
    }
    // Its input would be recorded as the user's.
    if (isRecording_) {
        setAlert("正在录制中，请先停止录制。");
        return;
    }
    if (!ensureAccessibility()) return;
    Script single;
    single.name = "测试 " + std::filesystem::path(step.luaFile).filename().string();
    single.steps = {step};
    single.loopCount = 1;
    single.stepIntervalMs = 0;
    single.templates = script_.templates;
    runner_->start(single, baseFolder());
}

}  // namespace tapforge::app
