// The example scripts in examples/ play on their screenshot as the documentation says.
#include <fstream>
#include <sstream>

#include "RunnerFixture.h"
#include "model/ScriptJson.h"
#include "vision/PngCodec.h"

namespace tapforge::test {
namespace {

const std::string kDir = std::string(TAPFORGE_SOURCE_DIR) + "/examples/";

std::string readAll(const std::string& name) {
    return (std::ostringstream() << std::ifstream(kDir + name, std::ios::binary).rdbuf()).str();
}

class Examples : public RunnerFixture {
protected:
    void setUpDesktop() override {
        const std::string png = readAll("screens/desktop.png");
        auto image = vision::PngCodec::decode({reinterpret_cast<const uint8_t*>(png.data()), png.size()});
        ASSERT_TRUE(image);
        sim->addScreen({0, 0, double(image->width), double(image->height)}, 1.0, std::move(*image));
        makeRunner({});
    }
    void playExample(const std::string& name) {
        ScriptDecodeResult decoded = decodeScript(readAll(name));
        ASSERT_TRUE(decoded) << decoded.error;
        play(*decoded.script, kDir);
    }
};

TEST_F(Examples, ColourBranches) {
    playExample("color-branches.json");
    EXPECT_EQ(log, (Lines{"▶︎ 开始执行「颜色判断分支示例」，共 8 个步骤，循环 1 次", "✔︎ 颜色判断通过 √#DC2828→#DC2828",
                          "🖱 分支动作：左键双击 (150, 125)", "✔︎ 颜色判断通过 √#28B450→#28B450 ×#0000FF→#E6E6E6",
                          "⌨️ 分支动作：按键 Return", "✘ 颜色判断未通过 ×#0000FF→#E6E6E6", "⚠️ 颜色判断没有可用的颜色点",
                          kDone}));
    EXPECT_EQ(sim->pointer(), (platform::Point{700, 550})) << "the last click";
}

TEST_F(Examples, ImageCheckClicksTheMatchThenInsideIt) {
    playExample("image-check.json");
    ASSERT_EQ(log.size(), 9u);
    EXPECT_EQ((Lines{log[2], log[5], log[8]}),
              (Lines{"   点击匹配位置 (524, 316)", "⚠️ 分支动作：本次图像判断没有匹配到区域，按后续去向继续", kStopped}));
    EXPECT_TRUE(log[3].starts_with("🖱 分支动作：左键单击 识别范围随机点 (")) << log[3];
}

TEST_F(Examples, LoopsAndClicksRunToTheEnd) {
    playExample("loops.json");
    EXPECT_TRUE(log.back() == kDone && std::ranges::count(log, "⚠️ 按键步骤未设置按键，已跳过") == 3) << log.back();
    const auto events = sim->postedEvents();
    ASSERT_EQ(events.size(), 6u) << "one click per pass; the disabled and skipped clicks never run";
    // A pass: click 20, interval 50, delay 1000, key step interval 50, delay 60000.
    EXPECT_EQ(events.back().timeMs(), 2 * 61120 + 20);
    playExample("clicks.json");
    EXPECT_EQ(log.back(), kDone);
}

}  // namespace
}  // namespace tapforge::test
