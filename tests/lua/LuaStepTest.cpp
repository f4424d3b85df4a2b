// The Lua step inside real runs: one state per run, files, log lines, branches, jumps, stops and time limits.
#include <sys/stat.h>

#include "LuaTestSupport.h"
#include "engine/LuaMacroHost.h"
#include "engine/RunnerFixture.h"

namespace tapforge::test {
namespace {

Step luaStep(const std::string& file, int64_t timeoutMs = 0) {
    return stepOf(StepKind::lua, [&](Step& s) { s.luaFile = file, s.timeoutMs = timeoutMs; });
}

Step withBranches(Step step, BranchTarget onSuccess, BranchTarget onFailure) {
    return step.onSuccess = std::move(onSuccess), step.onFailure = std::move(onFailure), step;
}

Script stopOnSuccess(const std::string& file) {
    return scriptOf({withBranches(luaStep(file), branchOf(BranchKind::stop), {}), Step(StepKind::comment)});
}

class LuaStepTest : public RunnerFixture {
protected:
    void SetUp() override {
        tfg_request_interrupt(0), tfg_set_deadline_ms(0);
        RunnerFixture::SetUp();
        makeRunner(std::make_shared<LuaMacroHost>(sim->desktop()));
    }
    void TearDown() override {
        runner.reset();
        EXPECT_EQ(tfg_deadline_ms(), 0) << "a run must leave no deadline behind";
        setLuaGuardClock(nullptr);
    }
    // The log without the run's first line.
    Lines played(const Script& script, bool withBase = true) {
        log.clear();
        play(script, withBase ? std::optional(folder.path) : std::nullopt);
        return Lines(log.begin() + (log.empty() ? 0 : 1), log.end());
    }
    Lines linesStarting(const std::string& prefix) const {
        Lines out;
        std::ranges::copy_if(log, std::back_inserter(out), [&](auto& l) { return l.starts_with(prefix); });
        return out;
    }

    ScratchFolder folder;
};

// The first result chooses the branch: onSuccess stops the script, onFailure goes on.
TEST_F(LuaStepTest, FirstReturnValueChoosesTheBranch) {
    const std::pair<const char*, bool> cases[] = {
        {"return false", false}, {"return false, true", false}, {"return true", true}, {"return 1", true},
        {"", true}, {"return nil, false", true}, {"return 0", true}, {"return 'false'", true}};
    for (const auto& [body, success] : cases) {
        folder.write("r.lua", body);
        EXPECT_EQ(played(stopOnSuccess("r.lua")).back(), success ? kStopped : kDone) << body;
    }
}

TEST_F(LuaStepTest, OneStateServesEveryLuaStepAndPass) {
    folder.write("count.lua", "counter = (counter or 0) + 1 log('n=' .. counter)");
    Script script = scriptOf({luaStep("count.lua"), luaStep("count.lua")}, 2);
    for (const char* name : {"b", "a", ""}) script.templates.emplace_back().name = name;
    played(script);
    EXPECT_EQ(linesStarting("n="), (Lines{"n=1", "n=2", "n=3", "n=4"}));
    EXPECT_EQ(log.front(), "Lua 可用模板库：a, b");
    // A new run starts from a fresh state.
    EXPECT_EQ(played(scriptOf({luaStep("count.lua")}))[1], "n=1");
}

TEST_F(LuaStepTest, JumpsAndStopsRequestedByTheFile) {
    const std::string ran = "✔︎ Lua 执行完成（0 ms）";
    folder.write("j.lua", "script.jump(3) log('still running')");
    EXPECT_EQ(played(scriptOf({luaStep("j.lua"), delayStep(5000), Step(StepKind::comment)})),
              (Lines{"▶︎ Lua：j.lua", "still running", ran, "↷ Lua 请求跳转到第 3 步", kDone}));
    EXPECT_EQ(nowMs(), 0) << "the delay step was skipped";
    // Out of range: a warning, and the success branch.
    folder.write("j.lua", "script['goto'](9) return false");
    EXPECT_EQ(played(stopOnSuccess("j.lua")),
              (Lines{"▶︎ Lua：j.lua", ran, "⚠️ Lua 请求跳转到第 9 步，但脚本没有这个步骤", kStopped}));
    folder.write("s.lua", "script.stop() log('after stop') return false");
    EXPECT_EQ(played(scriptOf({luaStep("s.lua"), delayStep(1000)}, 0)),
              (Lines{"▶︎ Lua：s.lua", "after stop", ran, "⏹ Lua 请求停止脚本", kStopped}));
}

TEST_F(LuaStepTest, BadFilesFailTheStepAtOnce) {
    folder.write("syntax.lua", "x = = 1");
    // Without the regular-file rule the FIFO would block the run for ever.
    ASSERT_EQ(::mkfifo((folder / "pipe.lua").c_str(), 0600), 0);
    const Lines l = played(scriptOf({luaStep("syntax.lua"), luaStep("nope.lua"), luaStep(""),
                                     luaStep("pipe.lua", 1000)}));
    ASSERT_EQ(l.size(), 7u);
    EXPECT_TRUE(l[1].starts_with("✘ Lua 出错：" + folder / "syntax.lua" + ":1: ")) << l[1];
    EXPECT_EQ(Lines(l.begin() + 2, l.end()),
              (Lines{"⚠️ 找不到 Lua 文件：nope.lua", "⚠️ Lua 步骤未选择 .lua 文件", "▶︎ Lua：pipe.lua",
                     "✘ Lua 出错：" + folder / "pipe.lua" + " 不是普通文件，不能作为 Lua 脚本读取", kDone}));
}

TEST_F(LuaStepTest, FilesResolveAgainstTheBaseThenAsAbsolutePaths) {
    folder.write("sub/rel.lua", "log('ran relative')");
    const std::string absolute = folder.write("abs.lua", "log('ran absolute')");
    played(scriptOf({luaStep("sub/rel.lua"), luaStep(absolute), luaStep("abs.lua")}));
    EXPECT_EQ(linesStarting("ran "), (Lines{"ran relative", "ran absolute", "ran absolute"}));
    EXPECT_EQ(played(scriptOf({luaStep("sub/rel.lua")}), false)[0], "⚠️ 找不到 Lua 文件：sub/rel.lua");
    // require finds modules beside the file, and the path does not grow from pass to pass.
    folder.write("lib/helper.lua", "return { twice = function(x) return 2 * x end }");
    folder.write("lib/main.lua", "local helper = require('helper') first = first or #package.path "
                                 "log('twice=' .. helper.twice(21), #package.path - first) "
                                 "passes = (passes or 0) + 1 if passes == 5 then script.stop() end");
    played(scriptOf({luaStep("lib/main.lua")}, 0));
    EXPECT_EQ(linesStarting("twice="), Lines(5, "twice=42\t0"));
}

TEST_F(LuaStepTest, PackagePathChunkEscapesAndChecksTheFirstEntry) {
    auto runtime = LuaRuntime::create();
    const std::string odd = "/tmp/a \"quoted\" \\dir\nx";
    ASSERT_TRUE(runtime->runString("package.path = '/other/?.lua;' .. package.path", "=set").succeeded);
    for (const std::string& dir : {odd, odd, odd, std::string("/other")})
        ASSERT_TRUE(runtime->runString(LuaMacroHost::packagePathChunk(dir), "=tfg_package_path").succeeded);
    const std::string path = show(runtime->runFile(folder.write("p.lua", "return package.path")));
    EXPECT_TRUE(path.starts_with("/other/?.lua;" + odd + "/?.lua;/other/?.lua;")) << path;
}

TEST_F(LuaStepTest, EndlessLoopEndsOnStopOrAtTheLimitAndZeroMeansNone) {
    // The dry-run clock advances with real time, so a CPU-bound loop reaches its limit.
    sim = SimDesktop::create(std::make_shared<SimClock>(SimClock::Mode::dryRun));
    SetUp();
    folder.write("spin.lua", "while true do end");
    runner->onLog = [this](const std::string& line) {
        log.push_back(line);
        if (line == "▶︎ Lua：spin.lua") runner->stop();
    };
    EXPECT_EQ(played(scriptOf({luaStep("spin.lua"), delayStep(100)})),
              (Lines{"▶︎ Lua：spin.lua", "⏹ Lua 脚本被中断", "⏹ 已手动停止"}));
    folder.write("loop.lua", "local n = 0\nwhile true do n = n + 1 end");
    const Step step = withBranches(luaStep("loop.lua", 500), {}, branchOf(BranchKind::stop));
    EXPECT_EQ(played(scriptOf({step, Step(StepKind::comment)})),
              (Lines{"▶︎ Lua：loop.lua", "✘ Lua 出错：" + std::string(kTimedOut), kStopped}));
    EXPECT_GE(nowMs(), 500);
    folder.write("long.lua", "local t0 = os.clock() while os.clock() - t0 < 0.05 do end log('done')");
    EXPECT_EQ(played(scriptOf({luaStep("long.lua", 0)}))[1], "done");
}

}  // namespace
}  // namespace tapforge::test
