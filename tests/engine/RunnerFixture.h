// A runner on a simulated 800 x 600 white desktop with a virtual clock, a main loop, step builders.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <map>
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
using Lines = std::vector<std::string>;

template <class Set>
Step stepOf(StepKind kind, Set set) { Step s(kind); return set(s), s; }
inline Step delayStep(int64_t ms) { return stepOf(StepKind::delay, [&](Step& s) { s.delayMs = ms; }); }
inline Step clickStep(double x, double y, ClickKind kind = ClickKind::click, MouseButton button = MouseButton::left) {
    return stepOf(StepKind::mouseClick, [&](Step& s) { s.x = x, s.y = y, s.hasPoint = true, s.clickKind = kind, s.mouseButton = button; });
}
inline Step keyStep(std::optional<uint16_t> code, KeyEventKind kind = KeyEventKind::press, ModifierSet modifiers = {}) {
    return stepOf(StepKind::keyPress, [&](Step& s) { s.keyCode = code, s.keyKind = kind, s.modifiers = modifiers; });
}
inline ColorPoint colorPoint(double x, double y, int r, int g, int b, int tolerance = 10) {
    ColorPoint p;
    return p.x = x, p.y = y, p.red = r, p.green = g, p.blue = b, p.tolerance = tolerance, p;
}
inline Step colorStep(std::vector<ColorPoint> points, bool wait = false, int64_t timeoutMs = 0, int64_t pollMs = 200) {
    return stepOf(StepKind::colorCheck, [&](Step& s) {
        s.colorPoints = std::move(points), s.waitForCondition = wait, s.timeoutMs = timeoutMs, s.pollMs = pollMs;
    });
}
inline BranchTarget branchOf(BranchKind kind) { BranchTarget b; return b.kind = kind, b; }
inline Step withBranches(Step step, BranchTarget onSuccess, BranchTarget onFailure) {
    return step.onSuccess = std::move(onSuccess), step.onFailure = std::move(onFailure), step;
}
inline Script scriptOf(std::vector<Step> steps, int64_t loopCount = 1, int64_t intervalMs = 0) {
    Script s;
    return s.name = "测试", s.steps = std::move(steps), s.loopCount = loopCount, s.stepIntervalMs = intervalMs, s;
}

// One run from a fresh desktop at virtual time 0, and what an outsider sees; unset means unchecked.
struct Play {
    std::string name;
    Script script;
    Lines log = {};                              // the whole log
    std::optional<Lines> events = {};            // every posted event, described
    std::optional<std::vector<double>> clicks = {};   // the x of every button press
    int64_t endMs = -1;                          // virtual time at the end
    int grabs = -1;
    std::optional<RunOutcome::End> end = {};
    int64_t cycles = -1;
    RunOptions options = {};
    std::function<void()> arrange = {};          // after the reset, before the start
    std::function<void()> then = {};             // further checks
};

class RunnerFixture : public ::testing::Test {
protected:
    static inline const std::string kStart1 = "▶︎ 开始执行「测试」，共 1 个步骤，循环 1 次",
                                    kStart2 = "▶︎ 开始执行「测试」，共 2 个步骤，循环 1 次",
                                    kStart4 = "▶︎ 开始执行「测试」，共 4 个步骤，循环 1 次", kStopped = "⏹ 脚本按要求停止",
                                    kDone = "✔︎ 全部循环执行完毕";
    void SetUp() override { setUpDesktop(); }
    virtual void setUpDesktop() {
        sim->addScreen({0, 0, 800, 600}, 1.0, {255, 255, 255, 255});
        makeRunner({});
    }
    void fresh() { sim = SimDesktop::create(), log.clear(), setUpDesktop(); }

    void makeRunner(std::shared_ptr<LuaStepHost> lua, std::function<double(double, double)> uniform = {}) {
        useServices({sim->desktop(), loop.poster(), std::move(lua), std::move(uniform)});
    }
    void useServices(ScriptRunnerServices services) {
        runner = std::make_unique<ScriptRunner>(std::move(services));
        runner->onLog = [this](const std::string& line) { log.push_back(line); };
    }

    // Plays `script` to its end; a hang fails (60 s of real time: sanitizer builds are slow).
    void play(const Script& script, std::optional<std::filesystem::path> base = std::nullopt, RunOptions options = {}) {
        runner->start(script, std::move(base), options);
        ASSERT_TRUE(runner->isRunning());
        ASSERT_TRUE(loop.runUntil([&] { return !runner->isRunning(); }, std::chrono::seconds(60))) << "the run did not end";
    }

    void expectPlays(const std::vector<Play>& plays) {
        std::vector<int64_t> cycles;
        for (const Play& p : plays) {
            SCOPED_TRACE(p.name);
            fresh();
            // Changes between two main-thread turns arrive as one: the count only ever grows.
            cycles = {0};
            if (p.arrange) p.arrange();
            runner->onChange = [&] { cycles.push_back(runner->cycleCount()); };
            play(p.script, std::nullopt, p.options);
            if (!p.log.empty()) { EXPECT_EQ(log, p.log); }
            if (p.events) { EXPECT_EQ(events(), *p.events); }
            if (p.clicks) { EXPECT_EQ(clickXs(), *p.clicks); }
            if (p.endMs >= 0) { EXPECT_EQ(nowMs(), p.endMs); }
            if (p.grabs >= 0) { EXPECT_EQ(sim->grabCount(), p.grabs); }
            if (p.end) { EXPECT_EQ(runner->lastOutcome().value().end, *p.end); EXPECT_FALSE(runner->lastOutcome()->luaFailed); }
            if (p.cycles >= 0) { EXPECT_EQ(runner->cycleCount(), p.cycles); }
            EXPECT_TRUE(std::is_sorted(cycles.begin(), cycles.end()));
            EXPECT_EQ(cycles.back(), runner->cycleCount());
            EXPECT_FALSE(runner->currentStepID().has_value());
            std::map<std::pair<PostedEvent::Kind, int>, int> held;   // whatever ended the run, nothing stays down
            for (const PostedEvent& e : sim->postedEvents())
                if (e.kind == PostedEvent::Kind::key || e.kind == PostedEvent::Kind::button)
                    held[{e.kind, e.kind == PostedEvent::Kind::key ? e.keyCode : int(e.button)}] += e.press == platform::Press::down ? 1 : -1;
            for (const auto& [what, count] : held) EXPECT_EQ(count, 0) << int(what.first) << " " << what.second;
            if (p.then) p.then();
        }
        runner->onChange = {};
    }

    // At virtual `ms` (a worker thread) the user presses stop or pause on the main thread; the worker waits for it.
    void pressAt(int64_t ms, bool pause = false) {
        sim->clock().atMs(ms, [this, pause] {
            std::promise<void> done;
            loop.poster()([&] { pause ? runner->togglePause() : runner->stop(), done.set_value(); });
            done.get_future().wait();
        });
    }

    Lines events() const {
        Lines out;
        for (const PostedEvent& e : sim->postedEvents()) out.push_back(platform::sim::describe(e));
        return out;
    }
    std::vector<double> clickXs() const {
        std::vector<double> xs;
        for (const PostedEvent& e : sim->postedEvents())
            if (e.kind == PostedEvent::Kind::button && e.press == platform::Press::down) xs.push_back(e.location.x);
        return xs;
    }
    int64_t nowMs() const { return sim->clock().nowMicros() / 1000; }

    std::shared_ptr<SimDesktop> sim = SimDesktop::create();
    MainLoop loop;
    Lines log;
    std::unique_ptr<ScriptRunner> runner;
};

}  // namespace tapforge::test
