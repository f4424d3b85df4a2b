// The color, image and screen tables: sampling, colour arguments and hex parsing, point
// tables, the waits and their stop behaviour, template lookup and search.
#include "../vision/VisionTestSupport.h"
#include "MacroFixture.h"
#include "vision/Base64.h"
#include "vision/PngCodec.h"

namespace tapforge::test {
namespace {

using Strings = std::vector<std::string>;
using platform::RgbaImage;

struct HexCase {
    const char* text;
    std::optional<RgbColor> rgb;
};

class HexTest : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexTest, Parses) { EXPECT_EQ(LuaMacroAPI::parseHex(GetParam().text), GetParam().rgb); }

INSTANTIATE_TEST_SUITE_P(Texts, HexTest,
                         ::testing::Values(HexCase{"#abc", RgbColor{170, 187, 204}}, HexCase{"#FF8800", RgbColor{255, 136, 0}},
                                           HexCase{" 0x00ff7f\n", RgbColor{0, 255, 127}}, HexCase{"#0x123456", RgbColor{18, 52, 86}},
                                           HexCase{"123", RgbColor{17, 34, 51}}, HexCase{"\u3000#fff\t", RgbColor{255, 255, 255}},
                                           HexCase{"#12345", std::nullopt}, HexCase{"#ggg", std::nullopt},
                                           HexCase{"##fff", std::nullopt}, HexCase{"0x#fff", std::nullopt},
                                           HexCase{"#1234567", std::nullopt}, HexCase{"", std::nullopt},
                                           HexCase{"# fff", std::nullopt}));

TEST(ButtonWords, Parse) {
    for (const char* word : {"right", "R", "右键", "RIGHT"}) EXPECT_EQ(LuaMacroAPI::parseButton(word), MouseButton::right) << word;
    for (const char* word : {"center", "Middle", "m", "中键"}) EXPECT_EQ(LuaMacroAPI::parseButton(word), MouseButton::center) << word;
    for (const char* word : {"left", "", "rightt", "左键", "x"}) EXPECT_EQ(LuaMacroAPI::parseButton(word), MouseButton::left) << word;
}

class ColorTest : public MacroTest {
protected:
    void SetUp() override {
        MacroTest::SetUp();
        sim->fill({100, 100, 20, 20}, {255, 0, 0, 255});
        sim->fill({200, 100, 20, 20}, {0, 255, 0, 255});
    }
};

TEST_F(ColorTest, GetSamplesTheAveragedPoint) {
    EXPECT_EQ(values("return color.get(110, 110)"),
              (std::vector{LuaValue::makeNumber(255), LuaValue::makeNumber(0), LuaValue::makeNumber(0), LuaValue::makeString("#FF0000")}));
    // On the red square's corner: 4 of the 9 averaged pixels are red.
    EXPECT_EQ(value("local r, g, b, hex = screen.color(100, 100) return hex"), LuaValue::makeString("#FF8D8D"));
    EXPECT_EQ(errorOf("color.get(1)"), "color.get(x, y) 需要坐标");
    EXPECT_EQ(errorOf("screen.color('a', 2)"), "screen.color(x, y) 需要坐标");
    sim->setGrabFails(true);
    EXPECT_EQ(errorOf("color.get(110, 110)"), "读取屏幕颜色失败，请确认已授权「屏幕录制」");
    EXPECT_EQ(errorOf("color.match(110, 110, '#f00')"), "读取屏幕颜色失败，请确认已授权「屏幕录制」");
    // Off the desktop there is nothing to sample.
    sim->setGrabFails(false);
    EXPECT_EQ(errorOf("color.get(-50, -50)"), "读取屏幕颜色失败，请确认已授权「屏幕录制」");
}

TEST_F(ColorTest, MatchAcceptsHexOrComponentsWithTolerance) {
    struct Case {
        const char* call;
        bool matched;
    };
    const Case cases[] = {
        {"color.match(110, 110, '#f00')", true},
        {"color.match(110, 110, 245, 10, 10)", true},
        {"color.match(110, 110, 244, 0, 0)", false},
        {"color.match(110, 110, 244, 0, 0, 11)", true},
        {"color.match(110, 110, '#F40000', 11)", true},
        {"color.match(110, 110, 255, 0, 0, 0)", true},
        {"color.match(100, 100, 255, 0, 0, 0)", false},
        {"color.match(110, 110, 255.9, 0.9, 0, 0)", true},
        {"color.match(110, 110, 255, 0, 0, -1)", false},
        {"color.match(210, 110, '00ff00')", true},
    };
    for (const Case& c : cases) EXPECT_EQ(value(std::string("return ") + c.call), LuaValue::makeBool(c.matched)) << c.call;
    EXPECT_EQ(errorOf("color.match(1, nil, '#fff')"), "color.match(x, y, color[, tolerance]) 需要坐标");
    EXPECT_EQ(errorOf("color.match(1, 2, '#ffff')"), "color.match 的颜色参数应为 \"#RRGGBB\" 或 r, g, b");
    EXPECT_EQ(errorOf("color.match(1, 2, 255, 0)"), "color.match 的颜色参数应为 \"#RRGGBB\" 或 r, g, b");
}

TEST_F(ColorTest, MatchAllReadsPointTables) {
    EXPECT_EQ(values("return color.matchAll({{x=110, y=110, color='#FF0000'}, {x=210, y=110, color='#0000FF'}}, 'ANY')"),
              (std::vector{LuaValue::makeBool(true), LuaValue::makeString("√#FF0000→#FF0000 ×#0000FF→#00FF00")}));
    EXPECT_EQ(value("return color.matchAll({{x=110, y=110, color='#FF0000'}, {x=210, y=110, color='#0000FF'}})"),
              LuaValue::makeBool(false));
    // Skipped elements: not a table, no y, colour a table, colour text neither hex nor number.
    EXPECT_EQ(value("return color.matchAll({5, {x=1}, {x=1, y=1, color={}}, {x=1, y=1, color='red'},"
                    "{x='210', y=110, color='#00FF00'}}, 'all')"),
              LuaValue::makeBool(true));
    // A numeric colour is the red component, with g and b beside it.
    EXPECT_EQ(value("return color.matchAll({{x=210, y=110, color=0, g=255}})"), LuaValue::makeBool(true));
    EXPECT_EQ(value("return color.matchAll({{x=210, y=110, color='5', g=250, b=5, tolerance=5}})"), LuaValue::makeBool(true));
    EXPECT_EQ(value("return color.matchAll({{x=210, y=110, color=0, g=255, tolerance=-1}})"), LuaValue::makeBool(false));
    EXPECT_EQ(errorOf("color.matchAll({{x=1, color='#fff'}})"), "color.matchAll 的颜色点表为空");
    EXPECT_EQ(errorOf("color.matchAll('x')"), "color.matchAll({{x=,y=,color=}, ...}, \"all\"|\"any\") 需要颜色点表");
    sim->setGrabFails(true);
    EXPECT_EQ(values("return color.matchAll({{x=110, y=110, color='#FF0000'}})"),
              (std::vector{LuaValue::makeBool(false), LuaValue::makeString("")}));
}

TEST_F(ColorTest, WaitWithZeroTimeoutChecksOnce) {
    const int grabs = sim->grabCount();
    const int64_t before = nowMs();
    EXPECT_EQ(value("return color.wait(110, 110, 0, 0, 255, 10, 0)"), LuaValue::makeBool(false));
    EXPECT_EQ(sim->grabCount() - grabs, 1);
    EXPECT_EQ(nowMs(), before);
    EXPECT_EQ(errorOf("color.wait(110)"), "color.wait(x, y, color[, tolerance][, timeoutMs][, pollMs]) 需要坐标");
    EXPECT_EQ(errorOf("color.wait(110, 110, 'nope')"), "color.wait 的颜色参数应为 \"#RRGGBB\" 或 r, g, b");
}

TEST_F(ColorTest, WaitPollsUntilTheColourAppears) {
    const int64_t start = nowMs();
    sim->clock().atMs(start + 1000, [this] { sim->fill({300, 200, 10, 10}, {0, 0, 255, 255}); });
    EXPECT_EQ(value("return color.wait(305, 205, '#0000ff', 10, 5000, 250)"), LuaValue::makeBool(true));
    EXPECT_EQ(nowMs() - start, 1000);
}

TEST_F(ColorTest, WaitAllWithoutModeTakesTimeoutFromTheSecondArgument) {
    const int64_t start = nowMs();
    const int grabs = sim->grabCount();
    EXPECT_EQ(value("return color.waitAll({{x=110, y=110, color='#00FF00'}}, 3000)"), LuaValue::makeBool(false));
    // Polls every 200 ms from 0 to 3000: 16 checks, the last one at the timeout.
    EXPECT_EQ(nowMs() - start, 3000);
    EXPECT_EQ(sim->grabCount() - grabs, 16);
    EXPECT_EQ(value("return color.waitAll({{x=110, y=110, color='#FF0000'}, {x=110, y=110, color='#000000'}}, 'any', 100)"),
              LuaValue::makeBool(true));
    EXPECT_EQ(errorOf("color.waitAll(nil, 3000)"), "color.waitAll({{x=,y=,color=}, ...}[, mode][, timeoutMs][, pollMs])");
    EXPECT_EQ(errorOf("color.waitAll({})"), "color.waitAll 的颜色点表为空");
}

// A stop ends a wait at once and the script as it continues, before the log.
TEST_F(ColorTest, StopDuringAWaitEndsTheScriptAtOnce) {
    const int64_t start = nowMs();
    sim->clock().atMs(start + 410, [] { tfg_request_interrupt(1); });
    EXPECT_EQ(run("waited = color.wait(110, 110, '#00ff00', 10, 60000) log(tostring(waited)) while true do end"),
              LuaRunOutcome::failure("脚本已被用户中断"));
    EXPECT_EQ(logs, Strings{});
    EXPECT_EQ(nowMs() - start, 410);
}

TEST_F(ColorTest, DeadlineDuringAWaitEndsTheScriptAtTheNextSlice) {
    const int64_t start = nowMs();
    tfg_set_deadline_ms(start + 300);
    EXPECT_EQ(run("log(tostring(color.wait(110, 110, '#00ff00', 10, 60000, 100)))"), LuaRunOutcome::failure("Lua 脚本执行超时"));
    EXPECT_EQ(logs, Strings{});
    EXPECT_EQ(nowMs() - start, 300);
}

// --- images

using vision::test::noise;

ImageTemplate templateOf(const std::string& name, const RgbaImage& image) {
    ImageTemplate t;
    t.name = name;
    t.widthPoints = image.width;
    t.heightPoints = image.height;
    auto png = vision::PngCodec::encode(image);
    t.pngBase64 = vision::encodeBase64(*png);
    return t;
}

class ImageTest : public MacroTest {
protected:
    void SetUp() override {
        MacroTest::SetUp();
        logo = noise(24, 16, 7);
        sim->draw(logo, {300, 40});
        ImageTemplate broken;
        broken.name = "broken";
        broken.widthPoints = 10;
        broken.heightPoints = 10;
        broken.pngBase64 = "not base64!";
        makeAPI({{"logo", templateOf("logo", logo)}, {"absent", templateOf("absent", noise(20, 20, 99))}, {"broken", broken}});
    }
    RgbaImage logo;
};

TEST_F(ImageTest, FindReportsTheCentreAndFallsBackToCaseInsensitiveNames) {
    auto found = values("return image.find('logo')");
    ASSERT_EQ(found.size(), 3u) << (found.empty() ? "" : found[0].text);
    EXPECT_EQ(found[0], LuaValue::makeNumber(312));
    EXPECT_EQ(found[1], LuaValue::makeNumber(48));
    EXPECT_NEAR(found[2].number, 1.0, 1e-6);
    EXPECT_EQ(values("return image.find('LoGo', 0.95)"), found);
    EXPECT_EQ(value("return image.find('absent')"), LuaValue::makeNil());
    EXPECT_EQ(errorOf("image.find('nope')"), "模板库中没有名为「nope」的图片");
    EXPECT_EQ(errorOf("image.find('broken')"), "模板「broken」解码失败");
    EXPECT_EQ(errorOf("image.find(5)"), "image.find(\"模板名\"[, 相似度]) 需要模板名称");
    sim->setGrabFails(true);
    EXPECT_EQ(errorOf("image.find('logo')"), "截屏失败，请确认已授权「屏幕录制」");
}

TEST_F(ImageTest, FindInSearchesOnlyTheRegion) {
    EXPECT_EQ(values("return image.findIn('logo', 290, 30, 50, 40)").size(), 3u);
    EXPECT_EQ(value("return image.findIn('logo', 0, 0, 200, 200)"), LuaValue::makeNil());
    EXPECT_EQ(errorOf("image.findIn('logo', 0, 0, 200)"), "image.findIn(\"模板名\", x, y, w, h[, 相似度]) 参数不足");
}

TEST_F(ImageTest, WaitForATemplateNeverShownReturnsNilAtTheTimeout) {
    const int64_t start = nowMs();
    EXPECT_EQ(values("return image.wait('absent')"), (std::vector{LuaValue::makeNil()}));
    EXPECT_EQ(nowMs() - start, 5100);   // polls at 0, 300, …, 5100: the first one past 5000 ends it
    EXPECT_EQ(errorOf("image.wait()"), "image.wait(\"模板名\"[, 相似度][, 超时ms][, 轮询ms])");
}

TEST_F(ImageTest, WaitFindsATemplateThatAppearsLater) {
    const RgbaImage late = noise(20, 20, 99);
    const int64_t start = nowMs();
    sim->clock().atMs(start + 700, [&] { sim->draw(late, {50, 200}); });
    auto found = values("return image.wait('absent', 0.9, 5000, 300)");
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0], LuaValue::makeNumber(60));
    EXPECT_EQ(found[1], LuaValue::makeNumber(210));
    EXPECT_EQ(nowMs() - start, 900);
}

TEST_F(ImageTest, StopDuringImageWaitEndsTheScriptAtOnce) {
    const int64_t start = nowMs();
    sim->clock().atMs(start + 1234, [] { tfg_request_interrupt(1); });
    EXPECT_EQ(run("found = image.wait('absent', 0.9, 60000) log(tostring(found)) for i = 1, 1e9 do end"),
              LuaRunOutcome::failure("脚本已被用户中断"));
    EXPECT_EQ(logs, Strings{});
    EXPECT_EQ(nowMs() - start, 1234);
}

TEST_F(ImageTest, ScreenSizeAndScale) {
    EXPECT_EQ(values("return screen.size()"), (std::vector{LuaValue::makeNumber(400), LuaValue::makeNumber(300)}));
    EXPECT_EQ(value("return screen.scale()"), LuaValue::makeNumber(1));
    sim->removeAllScreens();
    EXPECT_EQ(value("return screen.scale()"), LuaValue::makeNumber(2));
}

}  // namespace
}  // namespace tapforge::test
