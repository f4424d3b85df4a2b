// Stub bodies: the API is fixed first so the windows can be written against it.
#include "app/AppState.h"

#include "engine/ScriptRunner.h"
#include "input/GlobalHotKeyMonitor.h"
#include "input/InputRecorder.h"

namespace tapforge::app {

struct AppState::Undo {};
struct AppState::AutosaveWriter {};

AppLocations AppLocations::standard() { return {}; }
std::string AppLocations::autosavePath() const { return appFolder + "/autosave.json"; }
std::string AppLocations::luaScriptsFolder() const { return appFolder + "/scripts"; }

AppState::AppState(AppStateServices services, QObject* parent) : QObject(parent), services_(std::move(services)) {}
AppState::~AppState() = default;
Script AppState::makeStarterScript() { return {}; }
const std::string& AppState::luaSampleText() { static const std::string text; return text; }
void AppState::setSelectedStepID(std::optional<Uuid>) {}
void AppState::setRecordsMouseMove(bool) {}
void AppState::dismissAlert() {}
void AppState::setShowsSettings(bool) {}
void AppState::setHotKeyRecord(const HotKeyShortcut&) {}
void AppState::setHotKeyPlay(const HotKeyShortcut&) {}
bool AppState::isRunning() const { return false; }
bool AppState::isPaused() const { return false; }
std::optional<Uuid> AppState::currentStepID() const { return {}; }
int64_t AppState::cycleCount() const { return 0; }
void AppState::togglePause() {}
void AppState::log(const std::string&) {}
void AppState::clearLogs() {}
void AppState::newScript() {}
void AppState::addStep(StepKind) {}
void AppState::deleteSelected() {}
void AppState::duplicateSelected() {}
void AppState::moveSteps(std::vector<int>, int) {}
void AppState::moveSelected(int) {}
void AppState::clearAll() {}
Step AppState::step(const Uuid&) const { return {}; }
void AppState::writeStep(const Uuid&, const Step&, const std::string&) {}
Binding<Step> AppState::binding(const Uuid&) { return {}; }
void AppState::setScriptName(const std::string&) {}
void AppState::setLoopCount(int64_t) {}
void AppState::setStepIntervalMs(int64_t) {}
bool AppState::canUndo() const { return false; }
bool AppState::canRedo() const { return false; }
void AppState::undo() {}
void AppState::redo() {}
void AppState::startRecording() {}
void AppState::stopRecording(std::optional<HotKeyShortcut>) {}
void AppState::togglePlay() {}
void AppState::startPlay() {}
void AppState::refreshPermissions() {}
bool AppState::ensureAccessibility() { return false; }
bool AppState::ensureScreenRecording() { return false; }
void AppState::saveScript() {}
void AppState::openScript() {}
void AppState::scheduleAutosave() {}
void AppState::flushAutosave() {}
void AppState::relaunch() {}
void AppState::chooseLuaFile(const Uuid&) {}
void AppState::createLuaSample(const Uuid&) {}
void AppState::openLuaFile(const std::string&) {}
void AppState::revealLuaFile(const std::string&) {}
std::string AppState::luaFileInfo(const std::string&) const { return {}; }
std::optional<std::string> AppState::luaFilePreview(const std::string&, int) const { return {}; }
void AppState::pickColors(const Uuid&) {}
void AppState::pickPoint(const Uuid&) {}
void AppState::captureTemplate(const Uuid&) {}
void AppState::addTemplate(const std::string&) {}
void AppState::recaptureTemplate(size_t, const ImageTemplate&) {}
void AppState::deleteTemplate(size_t, const ImageTemplate&) {}
ImageTemplate AppState::templateAt(size_t) const { return {}; }
void AppState::writeTemplate(size_t, const ImageTemplate&, const ImageTemplate&, const std::string&) {}
Binding<ImageTemplate> AppState::binding(size_t) { return {}; }
void AppState::testMatch(const ImageTemplate&) {}
void AppState::testStep(const Uuid&) {}
void AppState::testLuaStep(const Uuid&) {}

}  // namespace tapforge::app
