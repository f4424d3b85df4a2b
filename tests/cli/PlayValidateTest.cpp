// tapforge-cli play (dry runs) and validate as a scheduler sees them: statuses, options, output, SIGINT.
#include <fcntl.h>
#include <signal.h>

#include <chrono>
#include <random>
#include <thread>

#include "CliFixture.h"

namespace tapforge {
namespace {

using namespace tapforge::test;
using namespace std::chrono_literals;

const std::string kExamples = std::string(TAPFORGE_SOURCE_DIR) + "/examples/", kScreen = kExamples + "screens/desktop.png";

std::string step(const std::string& id, const std::string& fields) { return R"({"id":"00000000-0000-4000-8000-0000000000)" + id + R"(",)" + fields + "}"; }
std::string scriptJson(const std::vector<std::string>& steps, int loops = 1) {
    std::string out = R"({"name":"t","loopCount":)" + std::to_string(loops) + R"(,"stepIntervalMs":0,"steps":[)";
    for (size_t i = 0; i < steps.size(); ++i) out += (i ? "," : "") + steps[i];
    return out + "]}";
}
// A colour check that fails at once on the shipped screen.
const std::string kFailingCheck = R"("kind":"colorCheck","waitForCondition":false,"colorPoints":[{"id":"00000000-0000-4000-8000-0000000000AA","x":1,"y":1,"red":1,"green":2,"blue":3,"tolerance":0,"enabled":true}])";

class PlayCli : public CliTest {
protected:
    Outcome play(const std::string& file, std::vector<std::string> options = {}) {
        options.insert(options.begin(), {"play", file, "--sim", kScreen});
        return run(options);
    }
};

// Every shipped example ends on its own, well before the (virtual) bound, with the status its ending calls for.
TEST_F(PlayCli, EveryExampleRunsToItsEndOnTheShippedScreen) {
    std::map<std::string, int> expected = {{"clicks.json", 0}, {"color-branches.json", 0}, {"demo.json", 0},
                                           {"image-check.json", 1}, {"loops.json", 0}, {"lua-tour.json", 0}};
    for (const auto& entry : fs::directory_iterator(kExamples)) {
        if (const std::string name = entry.path().filename().string(); entry.path().extension() == ".json") {
            SCOPED_TRACE(name);
            ASSERT_TRUE(expected.count(name)) << "a new example: add its status here";
            const Outcome r = play(entry.path().string(), {"--timeout", "3600"});
            EXPECT_TRUE(r.status == expected[name] && r.out.find("已到运行时间上限") == std::string::npos) << r.status << r.out << r.err;
            expected.erase(name);
        }
    }
    EXPECT_TRUE(expected.empty());
}

TEST_F(PlayCli, ExitStatusTellsHowTheRunEnded) {
    for (const auto& [name, source] : {std::pair{"bad", "error('坏了')"}, {"stop", "script.stop()"}, {"exit", "log('前')\nos.exit(3)\nlog('后')"}, {"loop", "while true do end"}})
        write(std::string(name) + ".lua", source);
    const std::string delay = step("05", R"("kind":"delay","delayMs":10)");
    const struct { const char* name; std::string json; std::vector<std::string> options; int status; const char* says = ""; } cases[] = {
        {"ran to the end", scriptJson({delay}), {}, 0},
        {"branch stop", scriptJson({step("01", kFailingCheck + R"(,"onFailure":{"kind":"stop"})")}), {}, 1},
        {"Lua error", scriptJson({step("02", R"("kind":"lua","luaFile":"bad.lua")")}), {}, 1},
        {"Lua script.stop()", scriptJson({step("03", R"("kind":"lua","luaFile":"stop.lua")")}), {}, 1},
        {"Lua os.exit() ends the run, not the process", scriptJson({step("07", R"("kind":"lua","luaFile":"exit.lua")"), delay}), {}, 1,
         "前\n⏹ Lua 调用了 os.exit，脚本按要求停止\n"},
        {"--timeout bounds a Lua step without a limit", scriptJson({step("04", R"("kind":"lua","luaFile":"loop.lua","timeoutMs":0)")}),
         {"--timeout", "0.3"}, 1},
        {"empty script", scriptJson({}), {}, 3}, {"--speed 0", scriptJson({}), {"--speed", "0"}, 2}, {"not JSON", "{not json", {}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = play(write("s.json", c.json), c.options);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
    }
    EXPECT_EQ(play((dir_ / "missing.json").string()).status, 2);
}

// The options change the virtual times of the posted events exactly as they say.
TEST_F(PlayCli, SpeedLoopsAndBoundsShapeTheRun) {
    const std::string file = write("s.json", scriptJson({step("01", R"("kind":"delay","delayMs":1000)"),
                                                         step("02", R"("kind":"mouseClick","x":5,"y":6,"hasPoint":true)")}));
    const std::string events = (dir_ / "events.jsonl").string();
    const auto times = [&] {
        std::vector<int64_t> out;
        for (const std::string& line : lines(readAll(events))) out.push_back(std::stoll(line.substr(5)));
        return out;
    };
    Outcome r = play(file, {"--speed", "4", "--loops", "3", "--events", events, "--verbose"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("#2 鼠标点击 · 左键单击 (5, 6)\n"), std::string::npos) << r.out;
    // The dry run's clock also carries real time spent between sleeps, so a gap can only grow:
    // by a few ms, by tens on a loaded machine; a wrong speed is off by hundreds.
    const std::vector<int64_t> t = times(), gaps{20, 250, 20, 250, 20};
    ASSERT_EQ(t.size(), 6u);
    EXPECT_GE(t[0], 250);
    for (size_t i = 0; i < gaps.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "gap " << i << ": delays / 4, the click's own 20 ms kept");
        EXPECT_GE(t[i + 1] - t[i], gaps[i] - 3);
        EXPECT_LE(t[i + 1] - t[i], gaps[i] + 40);
    }

    r = play(file, {"--loops", "0", "--timeout", "2.1", "--events", events});
    EXPECT_TRUE(r.status == 1 && times().size() == 4u) << "clicks at 1000 and 2020, then the time is up at 2100";
    EXPECT_NE(r.out.find("⏹ 已到运行时间上限（2100 ms）"), std::string::npos) << r.out;
    r = play(file, {"--loops", "0", "--max-steps", "5", "--events", events});
    EXPECT_TRUE(r.status == 1 && times().size() == 4u) << "five steps: delay, click, delay, click, delay";
}

// Runs that never wait, interrupted at seeded random moments: every SIGINT ends the process
// with status 130 after the stop line, whatever the run floods out.
TEST_F(CliTest, InterruptEndsABusyDryRunEveryTime) {
    write("loop.lua", "local n = 0\nwhile true do n = n + 1; log('第 ' .. n .. ' 次') end\n");
    const std::string names[] = {"goto", "log", "delay", "lua"}, steps[] = {R"("kind":"comment")", R"("kind":"keyPress")",
        R"("kind":"delay","delayMs":1)", R"("kind":"lua","luaFile":"loop.lua","timeoutMs":0)"};
    for (int i = 0; i < 4; ++i)   // the step, then a jump back to it, for ever
        write(names[i] + ".json", scriptJson({step("01", steps[i]), step("02", R"("kind":"goto","gotoStepID":"00000000-0000-4000-8000-000000000001")")}, 0));
    std::mt19937 random(18);
    for (int run = 0; run < 24; ++run) {
        const std::string script = dir_ / (names[run % 4] + ".json");
        const int wait = std::uniform_int_distribution<int>(0, 150)(random);
        SCOPED_TRACE(names[run % 4] + " run " + std::to_string(run) + ", SIGINT after " + std::to_string(wait) + " ms");
        const fs::path out = dir_ / ("out" + std::to_string(run) + ".txt");
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            execl(TAPFORGE_CLI_PATH, TAPFORGE_CLI_PATH, "play", script.c_str(), "--sim", kScreen.c_str(), nullptr);
            _exit(127);
        }
        // From the run's start (sanitizer builds start slowly), a seeded while into the run.
        const auto started = std::chrono::steady_clock::now();
        while ((!fs::exists(out) || fs::is_empty(out)) && std::chrono::steady_clock::now() - started < 20s)
            std::this_thread::sleep_for(2ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
        kill(pid, SIGINT);
        int status = 0;   // killed if it has not ended 20 s on
        for (const auto end = std::chrono::steady_clock::now() + 20s; waitpid(pid, &status, WNOHANG) == 0; std::this_thread::sleep_for(2ms))
            if (std::chrono::steady_clock::now() > end) kill(pid, SIGKILL);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
        const std::vector<std::string> printed = lines(readAll(out));
        ASSERT_FALSE(printed.empty());
        EXPECT_EQ(printed.back(), "⏹ 已手动停止");
    }
}

TEST_F(CliTest, ValidateReportsOneLineForEachKindOfFinding) {
    write("here.lua", "return true\n");
    const std::string image = R"("kind":"imageCheck","template":{"widthPoints":4,"heightPoints":4,"originX":0,"originY":0,"pixelScale":1,"name":)";
    const auto jumpTo = [](const char* id) { return kFailingCheck + R"(,"onFailure":{"kind":"jump","targetStepID":"00000000-0000-4000-8000-0000000000)" + id + "\"}"; };
    const Outcome r = run({"validate", write("v.json", scriptJson({
        step("01", R"("kind":"goto","gotoStepID":"00000000-0000-4000-8000-000000000099")"), step("02", image + R"("a","pngBase64":""})"),
        step("03", image + R"("b","pngBase64":"aGVsbG8="})"), step("04", R"("kind":"lua","luaFile":"nowhere.lua")"),
        step("05", R"("kind":"lua","luaFile":"here.lua")"), step("06", R"("kind":"keyPress")"), step("07", jumpTo("06")),
        step("08", R"("kind":"delay","delayMs":100)"), step("09", jumpTo("08")),   // a wait on the way back: no finding
    }))});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{"第 1 步：跳转目标步骤不存在", "第 2 步：图像判断没有设置图片",
                                                      "第 3 步：图像判断的图片无法解码", "第 4 步：找不到 Lua 文件：nowhere.lua",
                                                      "第 6 步：按键步骤未设置按键",
                                                      "第 7 步：失败分支跳回第 6 步，其间没有任何等待，可能无限循环"}));
    EXPECT_EQ(run({"validate", kDemo}).status, 0);
    EXPECT_EQ(run({"validate", (dir_ / "missing.json").string()}).status, 2);
}

}  // namespace
}  // namespace tapforge
