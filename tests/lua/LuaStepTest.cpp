// The Lua step inside real runs: one state per run, file resolution, the step's log lines,
// results and branches, jumps and stops requested by the file, time limits, stop requests
// from the main thread while Lua runs, the package path and the memory cap.
#include <regex>

#include <sys/stat.h>

#include "LuaTestSupport.h"
#include "engine/LuaMacroHost.h"
#include "engine/RunnerFixture.h"

namespace tapforge::test {
namespace {

using Strings = std::vector<std::string>;

Step luaStep(const std::string& file, int64_t timeoutMs = 0) {
    Step s(StepKind::lua);
    s.luaFile = file;
    s.timeoutMs = timeoutMs;
    return s;
}

Step commentStep() { return Step(StepKind::comment); }

ImageTemplate templateNamed(const std::string& name) {
    ImageTemplate t;
    t.name = name;
    t.widthPoints = 10;
    t.heightPoints = 10;
    return t;
}

class LuaStepTest : public RunnerFixture {
protected:
    void SetUp() override {
        tfg_request_interrupt(0);
        tfg_set_deadline_ms(0);
        RunnerFixture::SetUp();
        host = std::make_shared<LuaMacroHost>(sim->desktop());
        makeRunner(host);
    }
    void TearDown() override {
        runner.reset();
        EXPECT_EQ(tfg_deadline_ms(), 0) << "a run must leave no deadline behind";
        setLuaGuardClock(nullptr);
    }
    // The log without the run's first line.
    Strings lines() const { return Strings(log.begin() + (log.empty() ? 0 : 1), log.end()); }

    ScratchFolder folder;
    std::shared_ptr<LuaMacroHost> host;
};

struct ResultCase {
    const char* body;
    bool success;
};

class LuaResultTest : public LuaStepTest, public ::testing::WithParamInterface<ResultCase> {};

// onSuccess stops the script; onFailure goes on to the end.
TEST_P(LuaResultTest, FirstReturnValueChoosesTheBranch) {
    folder.write("r.lua", GetParam().body);
    Step step = luaStep("r.lua");
    step.onSuccess = branchOf(BranchKind::stop);
    play(scriptOf({step, commentStep()}), folder.path());
    EXPECT_EQ(log.back(), GetParam().success ? "⏹ 脚本按要求停止" : "✔︎ 全部循环执行完毕");
}

INSTANTIATE_TEST_SUITE_P(Returns, LuaResultTest,
                         ::testing::Values(ResultCase{"return false", false}, ResultCase{"return false, true", false},
                                           ResultCase{"return true", true}, ResultCase{"return 1", true},
                                           ResultCase{"", true}, ResultCase{"return nil, false", true},
                                           ResultCase{"return 0", true}, ResultCase{"return 'false'", true}));

TEST_F(LuaStepTest, OneStateServesEveryLuaStepAndPass) {
    folder.write("count.lua", "counter = (counter or 0) + 1 log('n=' .. counter)");
    Script script = scriptOf({luaStep("count.lua"), luaStep("count.lua")}, 2);
    script.templates.push_back(templateNamed("b"));
    script.templates.push_back(templateNamed("a"));
    script.templates.push_back(templateNamed(""));
    play(script, folder.path());
    Strings counts;
    for (const std::string& line : log)
        if (line.starts_with("n=")) counts.push_back(line);
    EXPECT_EQ(counts, (Strings{"n=1", "n=2", "n=3", "n=4"}));
    EXPECT_EQ(log.front(), "Lua 可用模板库：a, b");
    // A new run starts from a fresh state.
    log.clear();
    play(scriptOf({luaStep("count.lua")}), folder.path());
    EXPECT_EQ(lines()[1], "n=1");
}

TEST_F(LuaStepTest, JumpInRangeContinuesAtThatStep) {
    folder.write("j.lua", "script.jump(3) log('still running')");
    play(scriptOf({luaStep("j.lua"), delayStep(5000), commentStep()}), folder.path());
    EXPECT_EQ(lines(), (Strings{"▶︎ Lua：j.lua", "still running", "✔︎ Lua 执行完成（0 ms）", "↷ Lua 请求跳转到第 3 步",
                                "✔︎ 全部循环执行完毕"}));
    EXPECT_EQ(nowMs(), 0) << "the delay step was skipped";
}

TEST_F(LuaStepTest, JumpOutOfRangeWarnsAndTakesTheSuccessBranch) {
    folder.write("j.lua", "script['goto'](9) return false");
    Step step = luaStep("j.lua");
    step.onSuccess = branchOf(BranchKind::stop);
    play(scriptOf({step, commentStep()}), folder.path());
    EXPECT_EQ(lines(), (Strings{"▶︎ Lua：j.lua", "✔︎ Lua 执行完成（0 ms）", "⚠️ Lua 请求跳转到第 9 步，但脚本没有这个步骤",
                                "⏹ 脚本按要求停止"}));
}

TEST_F(LuaStepTest, ScriptStopEndsThePlaybackAfterTheFile) {
    folder.write("s.lua", "script.stop() log('after stop') return false");
    play(scriptOf({luaStep("s.lua"), delayStep(1000)}, 0), folder.path());
    EXPECT_EQ(lines(), (Strings{"▶︎ Lua：s.lua", "after stop", "✔︎ Lua 执行完成（0 ms）", "⏹ Lua 请求停止脚本", "⏹ 脚本按要求停止"}));
}

TEST_F(LuaStepTest, ErrorsAndMissingFilesFailTheStep) {
    folder.write("syntax.lua", "x = = 1");
    folder.write("raise.lua", "error({})");
    Step noFile = luaStep("");
    play(scriptOf({luaStep("syntax.lua"), luaStep("raise.lua"), luaStep("nope.lua"), noFile}), folder.path());
    const Strings l = lines();
    ASSERT_EQ(l.size(), 7u);
    EXPECT_EQ(l[0], "▶︎ Lua：syntax.lua");
    EXPECT_TRUE(std::regex_match(l[1], std::regex("✘ Lua 出错：.*syntax\\.lua:1: .*"))) << l[1];
    EXPECT_EQ(l[3], "✘ Lua 出错：未知错误");
    EXPECT_EQ(l[4], "⚠️ 找不到 Lua 文件：nope.lua");
    EXPECT_EQ(l[5], "⚠️ Lua 步骤未选择 .lua 文件");
}

TEST_F(LuaStepTest, FifoAndPrecompiledFilesFailTheStepAtOnce) {
    // Without the regular-file rule the FIFO would block the run for ever.
    ASSERT_EQ(::mkfifo((folder.path() / "pipe.lua").c_str(), 0600), 0);
    folder.write("compiled.luac", std::string("\x1bLuaT\0", 6));
    play(scriptOf({luaStep("pipe.lua", 1000), luaStep("compiled.luac")}), folder.path());
    const Strings l = lines();
    ASSERT_GE(l.size(), 4u);
    EXPECT_EQ(l[1], "✘ Lua 出错：" + (folder.path() / "pipe.lua").string() + " 不是普通文件，不能作为 Lua 脚本读取");
    EXPECT_EQ(l[3], "✘ Lua 出错：" + (folder.path() / "compiled.luac").string() + " 是预编译的 Lua 字节码，只能运行 Lua 源文件");
}

TEST_F(LuaStepTest, RelativePathsResolveAgainstTheBaseThenAbsolutePaths) {
    folder.write("sub/rel.lua", "log('relative')");
    const std::string absolute = folder.write("abs.lua", "log('absolute')");
    play(scriptOf({luaStep("sub/rel.lua"), luaStep(absolute), luaStep("abs.lua")}), folder.path());
    EXPECT_EQ(std::count(log.begin(), log.end(), "relative"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "absolute"), 2);
    log.clear();
    play(scriptOf({luaStep("sub/rel.lua")}), std::nullopt);
    EXPECT_EQ(lines()[0], "⚠️ 找不到 Lua 文件：sub/rel.lua");
}

TEST_F(LuaStepTest, RequireFindsModulesBesideTheFileAndThePathDoesNotGrow) {
    folder.write("lib/helper.lua", "return { twice = function(x) return 2 * x end }");
    folder.write("lib/main.lua",
                 "local helper = require('helper') log('twice=' .. helper.twice(21), #package.path)"
                 " passes = (passes or 0) + 1 if passes == 5 then script.stop() end");
    play(scriptOf({luaStep("lib/main.lua")}, 0), folder.path());
    Strings lengths;
    for (const std::string& line : log)
        if (line.starts_with("twice=")) lengths.push_back(line);
    ASSERT_EQ(lengths.size(), 5u);
    EXPECT_TRUE(lengths[0].starts_with("twice=42\t"));
    for (const std::string& line : lengths) EXPECT_EQ(line, lengths[0]);
}

TEST_F(LuaStepTest, PackagePathChunkEscapesAndChecksTheFirstEntry) {
    auto runtime = LuaRuntime::create();
    const std::string odd = "/tmp/a \"quoted\" \\dir\nx";
    ASSERT_TRUE(runtime->runString("package.path = '/other/?.lua;' .. package.path", "=set").succeeded);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(runtime->runString(LuaMacroHost::packagePathChunk(odd), "=tfg_package_path").succeeded);
    ASSERT_TRUE(runtime->runString(LuaMacroHost::packagePathChunk("/other"), "=tfg_package_path").succeeded);
    runtime->registerTable("t", {{"path", [](LuaRuntime&) { return 0; }}});
    auto [outcome, values] = runtime->runFile(folder.write("p.lua", "return package.path"));
    ASSERT_TRUE(outcome.succeeded);
    EXPECT_TRUE(values[0].text.starts_with("/other/?.lua;" + odd + "/?.lua;/other/?.lua;")) << values[0].text;
}

TEST_F(LuaStepTest, StopDuringAnEndlessLoop) {
    folder.write("spin.lua", "while true do end");
    runner->onLog = [this](const std::string& line) {
        log.push_back(line);
        if (line == "▶︎ Lua：spin.lua") runner->stop();
    };
    play(scriptOf({luaStep("spin.lua", 0), delayStep(100)}), folder.path());
    EXPECT_EQ(lines(), (Strings{"▶︎ Lua：spin.lua", "⏹ Lua 脚本被中断", "⏹ 已手动停止"}));
}

// The dry-run clock advances with real time, so a CPU-bound loop reaches its limit.
class LuaTimeLimitTest : public LuaStepTest {
protected:
    void SetUp() override {
        sim = SimDesktop::create(std::make_shared<SimClock>(SimClock::Mode::dryRun));
        LuaStepTest::SetUp();
    }
};

TEST_F(LuaTimeLimitTest, EndlessLoopEndsAtTheLimitAndTheDeadlineIsCleared) {
    folder.write("loop.lua", "local n = 0\nwhile true do n = n + 1 end");
    Step step = luaStep("loop.lua", 500);
    step.onFailure = branchOf(BranchKind::stop);
    play(scriptOf({step, commentStep()}), folder.path());
    const Strings l = lines();
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0], "▶︎ Lua：loop.lua");
    EXPECT_TRUE(l[1].starts_with("✘ Lua 出错：") && l[1].ends_with("Lua 脚本执行超时")) << l[1];
    EXPECT_EQ(l[2], "⏹ 脚本按要求停止");
    EXPECT_GE(nowMs(), 500);
    EXPECT_EQ(tfg_deadline_ms(), 0);
}

TEST_F(LuaTimeLimitTest, ZeroLimitMeansNone) {
    folder.write("long.lua", "local t0 = os.clock() while os.clock() - t0 < 0.05 do end log('done')");
    play(scriptOf({luaStep("long.lua", 0)}), folder.path());
    EXPECT_EQ(lines()[1], "done");
}

}  // namespace
}  // namespace tapforge::test
