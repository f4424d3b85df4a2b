// Shared set-up of the window tests. The binary runs on a private Xvfb (started by its main):
// widget tests drive the real window in-process over an AppState on the simulated desktop with
// the controller tests' fakes (timers on a virtual clock, file panels that answer at once); end-to-end tests start the real `tapforge` on that same server.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <memory>
#include <string>

#include "app/AppFixture.h"
#include "app/AppState.h"
#include "platform/sim/SimDesktop.h"
#include "ui/MainWindow.h"

namespace tapforge::testing {

// The display name of the test's Xvfb.
const std::string& testDisplay();

using app::test::spinUntil;

std::string readFile(const std::string& path);

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Replaces the document (through the controller, as opening a file does).
    void load(const Script& script);

    QTemporaryDir folder;
    std::shared_ptr<platform::sim::SimDesktop> sim;
    std::shared_ptr<app::test::FakeTimers> timers;
    std::shared_ptr<app::test::FakePanels> panels;
    std::unique_ptr<app::AppState> state;
    std::unique_ptr<ui::MainWindow> window;
};

}  // namespace tapforge::testing
