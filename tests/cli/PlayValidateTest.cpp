// tapforge-cli play (dry runs), validate and keys as a script or a scheduler sees them: exit
// statuses, options and the lines printed.
#include "CliFixture.h"

namespace tapforge {
namespace {

using namespace tapforge::test;

const std::string kExamples = std::string(TAPFORGE_SOURCE_DIR) + "/examples/";
const std::string kScreen = kExamples + "screens/desktop.png";

// A step as the file format writes it, with only the fields that matter here.
std::string step(const std::string& id, const std::string& fields) {
    return R"({"id":"00000000-0000-4000-8000-0000000000)" + id + R"(",)" + fields + "}";
}
std::string scriptJson(const std::vector<std::string>& steps, int loops = 1) {
    std::string out = R"({"name":"t","loopCount":)" + std::to_string(loops) + R"(,"stepIntervalMs":0,"steps":[)";
    for (size_t i = 0; i < steps.size(); ++i) out += (i ? "," : "") + steps[i];
    return out + "]}";
}
const std::string kStopBranch = R"("onFailure":{"kind":"stop"})";

class PlayCli : public CliTest {
protected:
    Outcome play(const std::string& file, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"play", file, "--sim", kScreen};
        args.insert(args.end(), extra.begin(), extra.end());
        return run(args);
    }
};

// Every shipped example ends on its own as a dry run on the shipped screen, well before the
// bound (virtual time), with the status its ending calls for.
TEST_F(PlayCli, EveryExampleRunsToItsEndOnTheShippedScreen) {
    const std::map<std::string, int> expected = {
        {"clicks.json", 0}, {"color-branches.json", 0}, {"demo.json", 0},
        {"image-check.json", 1}, {"loops.json", 0}, {"lua-tour.json", 0},
    };
    size_t seen = 0;
    for (const auto& entry : fs::directory_iterator(kExamples)) {
        if (entry.path().extension() != ".json") continue;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        ++seen;
        const Outcome r = play(entry.path().string(), {"--timeout", "3600"});
        EXPECT_EQ(r.out.find("已到运行时间上限"), std::string::npos) << r.out;
        ASSERT_TRUE(expected.count(name)) << "a new example: add its status here";
        EXPECT_EQ(r.status, expected.at(name)) << r.out << r.err;
    }
    EXPECT_EQ(seen, expected.size());
}

TEST_F(PlayCli, ExitStatusTellsHowTheRunEnded) {
    const std::string failingCheck =
        step("01", R"("kind":"colorCheck","waitForCondition":false,"colorPoints":[{"id":"00000000-0000-4000-8000-0000000000AA","x":1,"y":1,"red":1,"green":2,"blue":3,"tolerance":0,"enabled":true}],)" +
                       kStopBranch);
    const std::string luaError = step("02", R"("kind":"lua","luaFile":"bad.lua")");
    write("bad.lua", "error('坏了')\n");
    const std::string luaStop = step("03", R"("kind":"lua","luaFile":"stop.lua")");
    write("stop.lua", "script.stop()\n");
    const std::string luaExit = step("04", R"("kind":"lua","luaFile":"exit.lua")");
    write("exit.lua", "os.exit(0)\nlog('不应执行')\n");
    // The step has no time limit of its own: only the run's bounds it.
    const std::string luaLoop = step("06", R"("kind":"lua","luaFile":"loop.lua","timeoutMs":0)");
    write("loop.lua", "while true do end\n");
    struct Case {
        const char* name;
        std::string json;
        std::vector<std::string> options;
        int status;
    };
    const Case cases[] = {
        {"ran to the end", scriptJson({step("05", R"("kind":"delay","delayMs":10)")}), {}, 0},
        {"branch stop", scriptJson({failingCheck}), {}, 1},
        {"Lua error", scriptJson({luaError}), {}, 1},
        {"Lua script.stop()", scriptJson({luaStop}), {}, 1},
        {"Lua os.exit()", scriptJson({luaExit}), {}, 1},
        {"--timeout", scriptJson({step("05", R"("kind":"delay","delayMs":1000)")}, 0), {"--timeout", "2.5"}, 1},
        {"--timeout in an endless Lua loop", scriptJson({luaLoop}), {"--timeout", "0.3"}, 1},
        {"--max-steps", scriptJson({step("05", R"("kind":"delay","delayMs":10)")}, 0), {"--max-steps", "7"}, 1},
        {"empty script", scriptJson({}), {}, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = play(write("s.json", c.json), c.options);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
    }
    EXPECT_EQ(play((dir_ / "missing.json").string()).status, 2);
    EXPECT_EQ(play(write("s.json", "{not json")).status, 2);
    EXPECT_EQ(play(write("s.json", scriptJson({})), {"--speed", "0"}).status, 2);
}

TEST_F(PlayCli, OsExitEndsTheRunNotTheProcess) {
    write("exit.lua", "log('前')\nos.exit(3)\nlog('后')\n");
    const Outcome r = play(write("s.json", scriptJson({step("01", R"("kind":"lua","luaFile":"exit.lua")"),
                                                        step("02", R"("kind":"delay","delayMs":10)")})));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("前\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("后"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("⏹ Lua 调用了 os.exit，脚本按要求停止"), std::string::npos) << r.out;
}

// The options change the virtual times of the posted events exactly as they say.
TEST_F(PlayCli, SpeedLoopsAndBoundsShapeTheRun) {
    const std::string json = scriptJson({step("01", R"("kind":"delay","delayMs":1000)"),
                                         step("02", R"("kind":"mouseClick","x":5,"y":6,"hasPoint":true)")},
                                        1);
    const std::string file = write("s.json", json);
    const std::string events = (dir_ / "events.jsonl").string();
    // The dry run's clock also moves with the real time spent between sleeps: each gap may
    // carry a millisecond or two of it (more on a loaded machine), the first event may come late.
    auto times = [&] {
        std::vector<int64_t> out;
        for (const std::string& line : lines(readAll(events))) out.push_back(std::stoll(line.substr(5)));
        return out;
    };
    auto gaps = [&] {
        const std::vector<int64_t> t = times();
        std::vector<int64_t> out;
        for (size_t i = 1; i < t.size(); ++i) out.push_back(t[i] - t[i - 1]);
        return out;
    };
    Outcome r = play(file, {"--speed", "4", "--loops", "3", "--events", events, "--verbose"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    ASSERT_EQ(times().size(), 6u);
    EXPECT_GE(times()[0], 250);
    const std::vector<int64_t> expected{20, 250, 20, 250, 20}, got = gaps();
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_NEAR(got[i], expected[i], 3) << "gap " << i << ": delays / 4, the click's own 20 ms kept";
    EXPECT_NE(r.out.find("#2 鼠标点击 · 左键单击 (5, 6)\n"), std::string::npos) << r.out;

    r = play(file, {"--loops", "0", "--timeout", "2.1", "--events", events});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(times().size(), 4u) << "clicks at 1000 and 2020, then the time is up at 2100";
    EXPECT_NE(r.out.find("⏹ 已到运行时间上限（2100 ms）"), std::string::npos) << r.out;

    r = play(file, {"--loops", "0", "--max-steps", "5", "--events", events});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(times().size(), 4u) << "five steps: delay, click, delay, click, delay";
}

TEST_F(CliTest, ValidateReportsOneLineForEachKindOfFinding) {
    write("here.lua", "return true\n");
    const std::string waitingCheck =
        R"("kind":"colorCheck","waitForCondition":false,"colorPoints":[{"id":"00000000-0000-4000-8000-0000000000AA","x":1,"y":1,"red":1,"green":2,"blue":3,"tolerance":0,"enabled":true}])";
    const std::string json = scriptJson({
        step("01", R"("kind":"goto","gotoStepID":"00000000-0000-4000-8000-000000000099")"),
        step("02", R"("kind":"imageCheck","template":{"name":"a","widthPoints":4,"heightPoints":4,"originX":0,"originY":0,"pixelScale":1,"pngBase64":""})"),
        step("03", R"("kind":"imageCheck","template":{"name":"b","widthPoints":4,"heightPoints":4,"originX":0,"originY":0,"pixelScale":1,"pngBase64":"aGVsbG8="})"),
        step("04", R"("kind":"lua","luaFile":"nowhere.lua")"),
        step("05", R"("kind":"lua","luaFile":"here.lua")"),
        step("06", R"("kind":"keyPress")"),
        step("07", waitingCheck + R"(,"onFailure":{"kind":"jump","targetStepID":"00000000-0000-4000-8000-000000000006"})"),
        step("08", R"("kind":"delay","delayMs":100)"),
        step("09", waitingCheck + R"(,"onFailure":{"kind":"jump","targetStepID":"00000000-0000-4000-8000-000000000008"})"),
    });
    const Outcome r = run({"validate", write("v.json", json)});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{
                                "第 1 步：跳转目标步骤不存在",
                                "第 2 步：图像判断没有设置图片",
                                "第 3 步：图像判断的图片无法解码",
                                "第 4 步：找不到 Lua 文件：nowhere.lua",
                                "第 6 步：按键步骤未设置按键",
                                "第 7 步：失败分支跳回第 6 步，其间没有任何等待，可能无限循环",
                            }));
    EXPECT_EQ(run({"validate", kDemo}).status, 0);
    EXPECT_EQ(run({"validate", (dir_ / "missing.json").string()}).status, 2);
}

TEST_F(CliTest, KeysListsEveryGroupAndModifierWord) {
    const Outcome r = run({"keys"});
    ASSERT_EQ(r.status, 0);
    for (const char* text : {"字母\n", "方向键\n", "修饰词\n", "  Escape（也可写 esc）\t键码 53\n", "cmd, command, ⌘, meta"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
}

}  // namespace
}  // namespace tapforge
