// Shared set-up of the controller tests: an AppState on the simulated desktop with a virtual
// timer clock, fake window services, and its folders in a fresh temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include "app/AppState.h"
#include "platform/sim/SimDesktop.h"

namespace tapforge::app::test {

using platform::sim::SimDesktop;

using FakeTimers = VirtualTimers;

struct FakePanels final : FilePanels {
    std::deque<std::optional<std::string>> answers;
    std::vector<std::string> titles;
    std::optional<std::string> chooseSaveLocation(const std::string& title, const std::string& proposed) override {
        titles.push_back(title + "|" + proposed);
        return next();
    }
    std::optional<std::string> chooseOpenLocation(const std::string& title, FileKind, const std::string&) override {
        titles.push_back(title);
        return next();
    }
    std::optional<std::string> next() {
        if (answers.empty()) return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

struct FakeLauncher final : Launcher {
    std::vector<std::string> opened, revealed;
    int relaunches = 0;
    bool openWithDefaultApplication(const std::string& path) override { return opened.push_back(path), true; }
    bool revealInFileManager(const std::string& path) override { return revealed.push_back(path), true; }
    void relaunch() override { ++relaunches; }
};

struct FakePickers final : Pickers {
    std::function<void(std::optional<RegionPick>)> region;
    std::function<void(std::optional<platform::Point>)> point;
    std::function<void(const ColorPoint&)> onPick;
    std::function<void()> onFinish;
    bool open = false;
    void selectRegion(std::function<void(std::optional<RegionPick>)> completion) override { region = std::move(completion); }
    void pickPoint(std::function<void(std::optional<platform::Point>)> completion) override { point = std::move(completion); }
    void pickColors(std::vector<ColorPoint>, std::function<void(const ColorPoint&)> pick, std::function<void()> finish) override {
        onPick = std::move(pick), onFinish = std::move(finish);
    }
    bool anyPickerOpen() const override { return open; }
};

struct FakeRecordingPanel final : RecordingPanel {
    std::optional<platform::Rect> frame;
    std::optional<RecordingPanelState> shown;
    std::function<void()> onStop;
    void show(const RecordingPanelState& state, std::function<void()> stop) override { shown = state, onStop = std::move(stop); }
    void update(const RecordingPanelState& state) override { shown = state; }
    void hide() override { shown.reset(); }
    std::optional<platform::Rect> frameInGlobalPoints() const override { return shown ? frame : std::nullopt; }
};

// Runs the Qt event loop until `done` holds (queued log lines, runner reports, autosave results).
template <typename Condition>
bool spinUntil(Condition done, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
std::vector<std::string> logTexts(const AppState& state);   // without the stamps

class AppTest : public ::testing::Test {
protected:
    AppTest();
    ~AppTest() override;

    // A fresh AppState over the same folders (a restart of the program).
    AppState& start();
    void restart() { state_.reset(), start(); }
    AppState& state() { return *state_; }
    std::string path(const std::string& name) const { return dir_.filePath(QString::fromStdString(name)).toStdString(); }
    // Lets the autosave's timer run and its background write finish.
    void settleAutosave();

    QTemporaryDir dir_;
    AppLocations locations_;
    std::shared_ptr<SimDesktop> sim_ = SimDesktop::create();
    std::shared_ptr<FakeTimers> timers_ = std::make_shared<FakeTimers>();
    std::shared_ptr<FakePanels> panels_ = std::make_shared<FakePanels>();
    std::shared_ptr<FakeLauncher> launcher_ = std::make_shared<FakeLauncher>();
    std::shared_ptr<FakePickers> pickers_ = std::make_shared<FakePickers>();
    std::shared_ptr<FakeRecordingPanel> panel_ = std::make_shared<FakeRecordingPanel>();
    std::shared_ptr<platform::Permissions> permissions_;   // replaces the sim's when set before start()
    std::unique_ptr<AppState> state_;
};

}  // namespace tapforge::app::test
