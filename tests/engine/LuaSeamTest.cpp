// How the runner drives a Lua host: set-up and tear-down per run, the interrupt flag, and the
// branch each Lua result selects. The host here is a scripted fake; the real one is Lua's.
#include <algorithm>
#include <deque>
#include <mutex>

#include "RunnerFixture.h"

namespace tapforge::test {
namespace {

using Lines = std::vector<std::string>;

struct FakeLuaHost : LuaStepHost {
    std::mutex mutex;
    std::vector<std::string> calls;
    std::deque<LuaStepResult> results;
    std::function<void(const LuaRunContext&)> duringStep;
    std::optional<LuaRunContext> context;

    void record(std::string call) {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(call));
    }
    void setUpRun(const LuaRunContext& c) override {
        record("setUp");
        context.emplace(c);
        c.log("Lua 可用模板库：按钮");
    }
    LuaStepResult runStep(const Step& step) override {
        record("step " + step.luaFile);
        if (duringStep) duringStep(*context);
        if (results.empty()) return LuaStepResult::passed();
        LuaStepResult r = results.front();
        results.pop_front();
        return r;
    }
    void tearDownRun() override {
        record("tearDown");
        context.reset();
    }
    void setInterrupt(bool on) override { record(on ? "interrupt" : "clear"); }
    std::vector<std::string> snapshot() {
        std::lock_guard lock(mutex);
        return calls;
    }
};

Step luaStep(std::string file) {
    Step s(StepKind::lua);
    s.luaFile = std::move(file);
    s.onFailure = branchOf(BranchKind::stop);
    return s;
}

class LuaSeam : public RunnerFixture {
protected:
    void SetUp() override {
        RunnerFixture::SetUp();
        makeRunner(host);
    }
    std::shared_ptr<FakeLuaHost> host = std::make_shared<FakeLuaHost>();
};

TEST_F(LuaSeam, WithoutAHostALuaStepFails) {
    makeRunner({});
    play(scriptOf({luaStep("a.lua"), clickStep(1, 1)}));
    EXPECT_EQ(log, (Lines{"▶︎ 开始执行「测试」，共 2 个步骤，循环 1 次", "⚠️ Lua 运行时不可用", "⏹ 脚本按要求停止"}));
}

TEST_F(LuaSeam, SetUpOncePerRunBeforeTheStartLineAndTearDownAtTheEnd) {
    Step disabled = luaStep("never.lua");
    disabled.enabled = false;
    play(scriptOf({luaStep("a.lua"), disabled, luaStep("b.lua")}, 2), "/scripts");
    EXPECT_EQ(host->snapshot(), (Lines{"clear", "setUp", "step a.lua", "step b.lua", "step a.lua", "step b.lua",
                                       "clear", "tearDown"}));
    EXPECT_EQ(log[0], "Lua 可用模板库：按钮");
    EXPECT_EQ(log[1], "▶︎ 开始执行「测试」，共 3 个步骤，循环 2 次");

    host->calls.clear();   // without a Lua step there is nothing to set up
    play(scriptOf({clickStep(1, 1)}));
    EXPECT_EQ(host->snapshot(), (Lines{"clear", "clear"}));
}

TEST_F(LuaSeam, ResultsSelectTheBranch) {
    Script script = scriptOf({clickStep(1, 0), luaStep("x.lua"), clickStep(2, 0), clickStep(3, 0)});
    script.steps[1].onSuccess = branchOf(BranchKind::next);
    struct Case {
        const char* name;
        LuaStepResult result;
        std::vector<double> clicks;
        std::string last;
    };
    const std::vector<Case> cases{
        {"passed", LuaStepResult::passed(), {1, 2, 3}, "✔︎ 全部循环执行完毕"},
        {"failed", LuaStepResult::failed(), {1}, "⏹ 脚本按要求停止"},
        {"stop", LuaStepResult::stop(), {1}, "⏹ 脚本按要求停止"},
        {"jump", LuaStepResult::jump(script.steps[3].id), {1, 3}, "✔︎ 全部循环执行完毕"},
        {"jump to a deleted step", LuaStepResult::jump(Uuid::random()), {1, 2, 3}, "✔︎ 全部循环执行完毕"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        sim->clearPostedEvents();
        host->results = {c.result};
        play(script);
        std::vector<double> xs;
        for (const PostedEvent& e : sim->postedEvents())
            if (e.press == platform::Press::down) xs.push_back(e.location.x);
        EXPECT_EQ(xs, c.clicks);
        EXPECT_EQ(log.back(), c.last);
    }
}

TEST_F(LuaSeam, FailureWithRestartContinuesAtTheFirstStepWithoutCountingAPass) {
    Step lua = luaStep("x.lua");
    lua.onFailure = branchOf(BranchKind::restart);
    host->results = {LuaStepResult::failed(), LuaStepResult::failed(), LuaStepResult::passed()};
    play(scriptOf({clickStep(1, 1), lua}));
    EXPECT_EQ(sim->postedEvents().size(), 6u);
    EXPECT_EQ(runner->cycleCount(), 1);
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.find("轮结束") != std::string::npos; }), 0);
}

TEST_F(LuaSeam, StopRaisesTheInterruptAndTheContextSeesIt) {
    bool sawStop = false;
    host->duringStep = [&](const LuaRunContext& c) {
        // A Lua file that sleeps until interrupted, as the macro library's sleep does.
        onMain([this] { runner->stop(); });
        for (int i = 0; i < 1000 && !c.stopRequested; ++i) c.clock.sleepMicros(20'000);
        sawStop = c.stopRequested;
        c.player.click(MouseButton::left, ClickKind::down, {4, 4}, {});
    };
    play(scriptOf({luaStep("loop.lua"), clickStep(1, 1)}));
    EXPECT_TRUE(sawStop);
    EXPECT_EQ(host->snapshot(), (Lines{"clear", "setUp", "step loop.lua", "interrupt", "clear", "tearDown"}));
    EXPECT_EQ(log.back(), "⏹ 已手动停止");
    // The button the Lua file left down is released at the end of the run.
    EXPECT_EQ(events(), (Lines{"0ms button left down (4,4) flags 0x0 click 1", "0ms button left up (4,4) flags 0x0 click 1"}));
}

}  // namespace
}  // namespace tapforge::test
