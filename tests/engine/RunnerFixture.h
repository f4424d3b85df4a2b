// Shared set-up of the engine tests: a runner on a simulated desktop with the purely virtual
// clock, a main loop standing in for the main thread, and small step builders.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "engine/MainLoop.h"
#include "engine/ScriptRunner.h"
#include "platform/sim/SimDesktop.h"

namespace tapforge::test {

using platform::sim::PostedEvent;
using platform::sim::SimClock;
using platform::sim::SimDesktop;

inline Step delayStep(int64_t ms) {
    Step s(StepKind::delay);
    s.delayMs = ms;
    return s;
}

inline Step clickStep(double x, double y, ClickKind kind = ClickKind::click, MouseButton button = MouseButton::left) {
    Step s(StepKind::mouseClick);
    s.x = x, s.y = y, s.hasPoint = true, s.clickKind = kind, s.mouseButton = button;
    return s;
}

inline Step keyStep(std::optional<uint16_t> code, KeyEventKind kind = KeyEventKind::press, ModifierSet modifiers = {}) {
    Step s(StepKind::keyPress);
    s.keyCode = code, s.keyKind = kind, s.modifiers = modifiers;
    return s;
}

inline ColorPoint colorPoint(double x, double y, int r, int g, int b, int tolerance = 10) {
    ColorPoint p;
    p.x = x, p.y = y, p.red = r, p.green = g, p.blue = b, p.tolerance = tolerance;
    return p;
}

inline Step colorStep(std::vector<ColorPoint> points, bool wait = false, int64_t timeoutMs = 0, int64_t pollMs = 200) {
    Step s(StepKind::colorCheck);
    s.colorPoints = std::move(points);
    s.waitForCondition = wait, s.timeoutMs = timeoutMs, s.pollMs = pollMs;
    return s;
}

inline BranchTarget branchOf(BranchKind kind) {
    BranchTarget b;
    b.kind = kind;
    return b;
}

inline Script scriptOf(std::vector<Step> steps, int64_t loopCount = 1, int64_t intervalMs = 0) {
    Script s;
    s.name = "测试";
    s.steps = std::move(steps);
    s.loopCount = loopCount, s.stepIntervalMs = intervalMs;
    return s;
}

class RunnerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        sim->addScreen({0, 0, 800, 600}, 1.0, {255, 255, 255, 255});
        makeRunner({});
    }

    void makeRunner(std::shared_ptr<LuaStepHost> lua, std::function<double(double, double)> uniform = {}) {
        ScriptRunnerServices services{sim->desktop(), loop.poster(), std::move(lua), std::move(uniform)};
        runner = std::make_unique<ScriptRunner>(std::move(services));
        runner->onLog = [this](const std::string& line) { log.push_back(line); };
    }

    // Plays `script` to its end; fails the test when it hangs (60 s of real time: sanitizer
    // builds are slow).
    void play(const Script& script, std::optional<std::filesystem::path> base = std::nullopt) {
        runner->start(script, std::move(base));
        ASSERT_TRUE(runner->isRunning());
        ASSERT_TRUE(loop.runUntil([&] { return !runner->isRunning(); }, std::chrono::seconds(60)))
            << "the run did not end";
    }

    // From a clock callback (worker thread): runs `fn` on the main thread and waits for it,
    // as a user pressing a button at that virtual moment.
    void onMain(std::function<void()> fn) {
        std::promise<void> done;
        loop.poster()([&] {
            fn();
            done.set_value();
        });
        done.get_future().wait();
    }
    void stopAt(int64_t ms) {
        sim->clock().atMs(ms, [this] { onMain([this] { runner->stop(); }); });
    }

    std::vector<std::string> events() const {
        std::vector<std::string> out;
        for (const PostedEvent& e : sim->postedEvents()) out.push_back(platform::sim::describe(e));
        return out;
    }
    int64_t nowMs() const { return sim->clock().nowMicros() / 1000; }

    std::shared_ptr<SimDesktop> sim = SimDesktop::create();
    MainLoop loop;
    std::vector<std::string> log;
    std::unique_ptr<ScriptRunner> runner;
};

}  // namespace tapforge::test
