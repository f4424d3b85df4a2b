// Shared set-up of the window tests. The binary runs on a private Xvfb (started by its main):
// widget tests drive the real window in-process over an AppState on the simulated desktop with
// timers on a virtual clock; end-to-end tests start the real `tapforge` on that same server.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/AppState.h"
#include "platform/sim/SimDesktop.h"
#include "ui/DesktopServices.h"
#include "ui/MainWindow.h"

namespace tapforge::testing {

// The display name of the test's Xvfb.
const std::string& testDisplay();

// Tasks run only when the test advances time.
class VirtualTimers final : public app::Timers {
public:
    TaskId runAfter(int64_t delayMs, std::function<void()> task) override {
        tasks_.emplace(std::pair{now_ + delayMs, ++lastId_}, std::move(task));
        return lastId_;
    }
    void cancel(TaskId id) override {
        std::erase_if(tasks_, [id](const auto& entry) { return entry.first.second == id; });
    }
    void advance(int64_t ms) {
        const int64_t end = now_ + ms;
        while (!tasks_.empty() && tasks_.begin()->first.first <= end) {
            auto node = tasks_.extract(tasks_.begin());
            now_ = node.key().first;
            node.mapped()();
        }
        now_ = end;
    }

private:
    int64_t now_ = 0;
    TaskId lastId_ = 0;
    std::map<std::pair<int64_t, TaskId>, std::function<void()>> tasks_;
};

// Runs the event loop until `done` holds.
bool spinUntil(const std::function<bool()>& done, int timeoutMs = 5000);

std::string readFile(const std::string& path);

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Replaces the document (through the controller, as opening a file does).
    void load(const Script& script);

    QTemporaryDir folder;
    std::shared_ptr<platform::sim::SimDesktop> sim;
    std::shared_ptr<VirtualTimers> timers;
    std::shared_ptr<ui::QtFilePanels> panels;
    std::unique_ptr<app::AppState> state;
    std::unique_ptr<ui::MainWindow> window;
};

}  // namespace tapforge::testing
