// A runner on a simulated 800 x 600 white desktop with a virtual clock, a main loop, step builders.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <map>
#include <regex>

#include "../vision/VisionTestSupport.h"
#include "engine/MainLoop.h"
#include "engine/ScriptRunner.h"
#include "platform/sim/SimDesktop.h"

namespace tapforge::test {

using platform::sim::PostedEvent;
using platform::sim::SimClock;
using platform::sim::SimDesktop;
using vision::test::point;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

template <class Set>
Step stepOf(StepKind kind, Set set) { Step s(kind); return set(s), s; }
inline Step delayStep(int64_t ms) { return stepOf(StepKind::delay, [&](Step& s) { s.delayMs = ms; }); }
inline Step clickStep(double x, double y, ClickKind k = ClickKind::click, MouseButton b = MouseButton::left) {
    return stepOf(StepKind::mouseClick,
                  [&](Step& s) { s.x = x, s.y = y, s.hasPoint = true, s.clickKind = k, s.mouseButton = b; });
}
inline Step colorStep(std::vector<ColorPoint> points, bool wait = false, int timeout = 0, int poll = 200) {
    return stepOf(StepKind::colorCheck, [&](Step& s) {
        s.colorPoints = std::move(points), s.waitForCondition = wait, s.timeoutMs = timeout, s.pollMs = poll;
    });
}
inline BranchTarget branchOf(BranchKind kind) { BranchTarget b; return b.kind = kind, b; }
// A colour check that passes on the white screen and takes `branch`.
inline Step passing(BranchTarget branch) {
    Step s = colorStep({point(10, 10, 255, 255, 255)});
    return s.onSuccess = std::move(branch), s;
}
inline Script scriptOf(std::vector<Step> steps, int64_t loops = 1, int64_t interval = 0) {
    Script s;
    return s.name = "测试", s.steps = std::move(steps), s.loopCount = loops, s.stepIntervalMs = interval, s;
}
// The first line of a run of `steps` steps; `loops` 0 for an endless one.
inline std::string started(int steps, int loops = 1) {
    return "▶︎ 开始执行「测试」，共 " + std::to_string(steps) + " 个步骤，"
           + (loops ? "循环 " + std::to_string(loops) + " 次" : "无限循环");
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
    static inline const std::string kStopped = "⏹ 脚本按要求停止", kDone = "✔︎ 全部循环执行完毕";
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
    void play(const Script& script, std::optional<std::filesystem::path> base = {}, RunOptions options = {}) {
        runner->start(script, std::move(base), options);
        ASSERT_TRUE(runner->isRunning());
        ASSERT_TRUE(ended(60s));
    }
    bool ended(std::chrono::seconds limit = 10s) {
        return loop.runUntil([&] { return !runner->isRunning(); }, limit);
    }

    void expectPlays(const std::vector<Play>& plays) {
        for (const Play& p : plays) {
            SCOPED_TRACE(p.name);
            fresh();
            if (p.arrange) p.arrange();
            // Changes between two main-thread turns arrive as one: the count only ever grows.
            cycles = {0}, runner->onChange = [this] { cycles.push_back(runner->cycleCount()); };
            play(p.script, std::nullopt, p.options);
            if (!p.log.empty()) { EXPECT_EQ(log, p.log); }
            if (p.events) { EXPECT_EQ(events(), *p.events); }
            if (p.endMs >= 0) { EXPECT_EQ(nowMs(), p.endMs); }
            if (p.grabs >= 0) { EXPECT_EQ(sim->grabCount(), p.grabs); }
            if (p.end) {
                EXPECT_TRUE(runner->lastOutcome().value().end == *p.end && !runner->lastOutcome()->luaFailed);
            }
            if (p.cycles >= 0) { EXPECT_EQ(runner->cycleCount(), p.cycles); }
            EXPECT_TRUE(std::ranges::is_sorted(cycles) && cycles.back() == runner->cycleCount());
            EXPECT_FALSE(runner->currentStepID().has_value());
            using enum PostedEvent::Kind;
            std::vector<double> clicks;
            std::map<std::tuple<PostedEvent::Kind, int, platform::PointerButton>, int> held;
            for (const PostedEvent& e : sim->postedEvents()) {
                const bool down = e.press == platform::Press::down;
                if (e.kind == key || e.kind == button) held[{e.kind, e.keyCode, e.button}] += down ? 1 : -1;
                if (e.kind == button && down) clicks.push_back(e.location.x);
            }
            if (p.clicks) { EXPECT_EQ(clicks, *p.clicks); }
            // Whatever ended the run, nothing stays down.
            for (const auto& [what, count] : held) EXPECT_EQ(count, 0) << ::testing::PrintToString(what);
            if (p.then) p.then();
        }
    }

    // At virtual `ms` (on the worker) the user presses stop or pause on the main thread; the worker waits.
    void pressAt(int64_t ms, bool pause = false) {
        sim->clock().atMs(ms, [this, pause] {
            std::promise<void> done;
            loop.poster()([&] { pause ? runner->togglePause() : runner->stop(), done.set_value(); });
            done.get_future().wait();
        });
    }

    // Every posted event, described without the usual " flags 0x0" and " click 1".
    Lines events() const {
        Lines out;
        for (const PostedEvent& e : sim->postedEvents())
            out.push_back(std::regex_replace(describe(e), std::regex(" flags 0x0\\b| click 1$"), ""));
        return out;
    }
    int64_t nowMs() const { return sim->clock().nowMicros() / 1000; }

    std::shared_ptr<SimDesktop> sim = SimDesktop::create();
    MainLoop loop;
    Lines log;
    std::vector<int64_t> cycles;
    std::unique_ptr<ScriptRunner> runner;
};

}  // namespace tapforge::test
