// The example scripts in examples/ play on their screenshot as the documentation says.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "engine/MainLoop.h"
#include "engine/ScriptRunner.h"
#include "model/ScriptJson.h"
#include "platform/sim/SimDesktop.h"
#include "vision/PngCodec.h"

namespace tapforge::test {
namespace {

using Lines = std::vector<std::string>;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct ExampleRun {
    Lines log;
    std::vector<platform::sim::PostedEvent> events;
};

ExampleRun playExample(const std::string& name) {
    const std::string dir = std::string(TAPFORGE_SOURCE_DIR) + "/examples/";
    ScriptDecodeResult decoded = decodeScript(readAll(dir + name));
    EXPECT_TRUE(decoded) << decoded.error;
    const std::string png = readAll(dir + "screens/desktop.png");
    auto image = vision::PngCodec::decode({reinterpret_cast<const uint8_t*>(png.data()), png.size()});
    EXPECT_TRUE(image);
    if (!decoded || !image) return {};
    auto sim = platform::sim::SimDesktop::create();
    sim->addScreen({0, 0, double(image->width), double(image->height)}, 1.0, std::move(*image));
    MainLoop loop;
    ExampleRun run;
    ScriptRunner runner(ScriptRunnerServices{sim->desktop(), loop.poster(), nullptr, {}});
    runner.onLog = [&](const std::string& line) { run.log.push_back(line); };
    runner.start(*decoded.script, dir);
    EXPECT_TRUE(loop.runUntil([&] { return !runner.isRunning(); }, std::chrono::seconds(20)));
    run.events = sim->postedEvents();
    return run;
}

TEST(Examples, ColourBranches) {
    const ExampleRun run = playExample("color-branches.json");
    EXPECT_EQ(run.log, (Lines{"▶︎ 开始执行「颜色判断分支示例」，共 8 个步骤，循环 1 次",
                              "✔︎ 颜色判断通过 √#DC2828→#DC2828", "🖱 分支动作：左键双击 (150, 125)",
                              "✔︎ 颜色判断通过 √#28B450→#28B450 ×#0000FF→#E6E6E6", "⌨️ 分支动作：按键 Return",
                              "✘ 颜色判断未通过 ×#0000FF→#E6E6E6", "⚠️ 颜色判断没有可用的颜色点",
                              "✔︎ 全部循环执行完毕"}));
    ASSERT_FALSE(run.events.empty());
    EXPECT_EQ(run.events.back().location, (platform::Point{700, 550}));
}

TEST(Examples, ImageCheckClicksTheMatchThenInsideIt) {
    const ExampleRun run = playExample("image-check.json");
    ASSERT_EQ(run.log.size(), 9u);
    EXPECT_EQ(run.log[2], "   点击匹配位置 (524, 316)");
    EXPECT_EQ(run.log[3].rfind("🖱 分支动作：左键单击 识别范围随机点 (", 0), 0u);
    EXPECT_EQ(run.log[5], "⚠️ 分支动作：本次图像判断没有匹配到区域，按后续去向继续");
    EXPECT_EQ(run.log[8], "⏹ 脚本按要求停止");
}

TEST(Examples, LoopsAndClicksRunToTheEnd) {
    const ExampleRun loops = playExample("loops.json");
    EXPECT_EQ(loops.log.back(), "✔︎ 全部循环执行完毕");
    EXPECT_EQ(std::count(loops.log.begin(), loops.log.end(), "⚠️ 按键步骤未设置按键，已跳过"), 3);
    ASSERT_EQ(loops.events.size(), 6u) << "one click per pass; the disabled and skipped clicks never run";
    // A pass: click 20, interval 50, delay 1000, key step interval 50, delay 60000.
    EXPECT_EQ(loops.events[5].timeMs(), 2 * 61120 + 20);

    const ExampleRun clicks = playExample("clicks.json");
    EXPECT_EQ(clicks.log.back(), "✔︎ 全部循环执行完毕");
}

}  // namespace
}  // namespace tapforge::test
