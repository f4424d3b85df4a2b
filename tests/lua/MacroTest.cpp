// The macro library on the simulated desktop: results, input, virtual time and screen reads of each call.
#include <regex>

#include "../vision/VisionTestSupport.h"
#include "LuaTestSupport.h"
#include "input/InputPlayer.h"
#include "lua/LuaMacroAPI.h"
#include "platform/sim/SimDesktop.h"
#include "vision/Base64.h"
#include "vision/PngCodec.h"

namespace tapforge::test {
namespace {

using platform::sim::PostedEvent;
using platform::sim::SimDesktop;
using vision::test::noise;

ImageTemplate templateOf(std::string name, const platform::RgbaImage& image, const char* png = nullptr) {
    ImageTemplate t;
    t.name = name, t.widthPoints = image.width, t.heightPoints = image.height;
    t.pngBase64 = png ? png : vision::encodeBase64(*vision::PngCodec::encode(image));
    return t;
}

// White 400 × 300 screen, pointer at (50, 60), red and green 20-wide squares at (100, 100) and (200, 100),
// "logo" drawn at (300, 40), "absent" nowhere, "broken" undecodable.
class MacroTest : public LuaTest {
protected:
    void SetUp() override {
        LuaTest::SetUp();
        sim->addScreen({0, 0, 400, 300}, 1.0, {255, 255, 255, 255});
        sim->setPointer({50, 60});
        sim->fill({100, 100, 20, 20}, {255, 0, 0, 255}), sim->fill({200, 100, 20, 20}, {0, 255, 0, 255});
        const auto logo = noise(24, 16, 7);
        sim->draw(logo, {300, 40});
        setLuaGuardClock(sim->desktop().clock);
        player = std::make_unique<InputPlayer>(sim->desktop().events, sim->desktop().clock);

        LuaMacroAPI::Context context{player.get(), &sim->clock(), sim->desktop().screens, sim->desktop().grab, {}, {}};
        context.templates = {{"logo", templateOf("logo", logo)},
                             {"absent", templateOf("absent", noise(20, 20, 99))},
                             {"broken", templateOf("broken", noise(10, 10, 1), "not base64!")}};
        context.log = [this](const std::string& line) { logs.push_back(line); };
        api = std::make_unique<LuaMacroAPI>(std::move(context));
        api->install(*runtime);
    }

    // "left@1,2#2" a press (click state last), "^" its release in place, "^left@7,8" one elsewhere,
    // "scroll-3@50,60", "down 55".
    std::string inputs() const {
        static const char* const buttons[] = {"left", "right", "center"};
        std::string out;
        const PostedEvent* pressed = nullptr;
        for (const PostedEvent& e : sim->postedEvents()) {
            const bool down = e.press == platform::Press::down, button = e.kind == PostedEvent::Kind::button;
            std::string at = "@";  // appended piecewise: GCC 12 at -O3 misreads chained operator+
            at.append(std::to_string(int(e.location.x))).append(",").append(std::to_string(int(e.location.y)));
            if (button && !down && pressed && pressed->button == e.button && pressed->location == e.location)
                out += "^";
            else if (e.kind == PostedEvent::Kind::key)
                out.append(down ? " down " : " up ").append(std::to_string(e.keyCode));
            else if (e.kind == PostedEvent::Kind::scroll)
                out.append(" scroll").append(std::to_string(e.scrollLines)).append(at);
            else if (button) {
                out.append(down ? " " : " ^").append(buttons[int(e.button)]).append(at);
                if (down) out.append("#").append(std::to_string(e.clickState));
            }
            if (e.kind != PostedEvent::Kind::move) pressed = button && down ? &e : nullptr;
        }
        return out.empty() ? out : out.substr(1);
    }

    std::shared_ptr<SimDesktop> sim = SimDesktop::create();
    std::unique_ptr<InputPlayer> player;
    std::unique_ptr<LuaMacroAPI> api;
    std::vector<std::string> logs;
};

struct Call {
    const char* code;
    std::string result = "", inputs = "";   // inputs: see MacroTest::inputs
    std::optional<int64_t> ms = {};         // virtual time the chunk sleeps
    int grabs = -1;                         // screen reads it makes
    void (*before)(SimDesktop&) = nullptr;  // changes to the desktop first
    std::vector<std::string> logged = {};
};

void grabFails(SimDesktop& s) { s.setGrabFails(true); }

const std::string kGrabBad = "error: 读取屏幕颜色失败，请确认已授权「屏幕录制」";

class MacroCallTest : public MacroTest, public ::testing::WithParamInterface<Call> {};

TEST_P(MacroCallTest, ResultInputAndTime) {
    const Call& c = GetParam();
    SCOPED_TRACE(c.code);
    if (c.before) c.before(*sim);
    const int64_t slept = sim->clock().totalSleptMicros(), grabs = sim->grabCount();
    EXPECT_EQ(eval(c.code), c.result);
    EXPECT_EQ(inputs(), c.inputs);
    if (c.ms) { EXPECT_EQ((sim->clock().totalSleptMicros() - slept) / 1000, *c.ms); }
    if (c.grabs >= 0) { EXPECT_EQ(sim->grabCount() - grabs, c.grabs); }
    EXPECT_EQ(logs, c.logged);
}

const Call kInput[] = {
    {"log(1, nil, 'a') log() log(nil) printf('%d-%s', 3, 'x') script.log(5) script.log('s')", "", "", {}, -1,
     nullptr, {"1\tnil\ta", "", "nil", "3-x", "", "s"}},
    {"sleep(0) sleep(-5) sleep() _tfg.sleep(0.5)", "", "", 0},
    {"script.jump(0)", "error: script.jump(步骤序号) 需要从 1 开始的步骤序号"},
    {"return pcall(script.jump, 1.5) or pcall(script.jump, 'x')", "false"},
    {"mouse.click()", "", "left@50,60#1^"}, {"mouse.click('right', 2)", "", "right@50,60#1^ right@50,60#2^"},
    {"mouse.click(1, 2, 9)", "", "left@1,2#1^ left@1,2#2^ left@1,2#1^ left@1,2#1^ left@1,2#1^"},
    {"mouse.click(100, 200, '右键', 3)", "", "right@100,200#1^ right@100,200#2^ right@100,200#1^"},
    {"mouse.click(10, 20, 2.5) mouse.click('10', '20', '2')", "", "left@10,20#1^ left@10,20#1^"},
    {"mouse.click(10, 20, 'LEFT', '2')", "", "left@10,20#1^ left@10,20#2^"},
    {"mouse.doubleClick(5, 6)", "", "left@5,6#1^ left@5,6#2^"}, {"mouse.rightClick()", "", "right@50,60#1^"},
    {"mouse.down(7, 8, 'right') mouse.up('left', 'right')", "", "right@7,8#1^"},
    // mouse.down(1) has no second coordinate: the current position.
    {"mouse.down('center') mouse.up(7, 8, 'center') mouse.down(1) mouse.up(1)", "",
     "center@50,60#1 ^center@7,8 left@7,8#1^"},
    {"local x, y = mouse.pos() mouse.move(120, 130) return x, y, mouse.pos()", "50|60|120|130"},
    {"mouse.move(10, 10, 160)", "", "", 160}, {"mouse.click('r', 'M', 0)", "", "center@50,60#1^"},
    {"mouse.scroll(-3) mouse.scroll('4', 20, 30)", "", "scroll-3@50,60 scroll4@20,30"},
    {"mouse.drag(1, 2, 30, 40) return mouse.pos()", "30|40", "left@1,2#1 ^left@30,40"},
    {"keyboard.press('cmd+c') keyboard.press(36.9)", "", "down 55 down 8 up 8 up 55 down 36 up 36"},
    {"keyboard.down('ctrl+x') keyboard.up('ctrl+x')", "", "down 59 down 7 up 7 up 59"},
    {"keyboard.hotkey('cmd+shift+s')", "", "down 56 down 55 down 1 up 1 up 55 up 56"},
    {"keyboard.type('ab') keyboard.type(5) keyboard.type()", "", "down 0 up 0 down 11 up 11"}};
INSTANTIATE_TEST_SUITE_P(Input, MacroCallTest, ::testing::ValuesIn(kInput));

const Call kColor[] = {
    {"return color.get(110, 110)", "255|0|0|#FF0000"}, {"color.waitAll({})", "error: color.waitAll 的颜色点表为空"},
    // On the red square's corner: 4 of the 9 averaged pixels are red.
    {"local r, g, b, hex = screen.color(100, 100) return hex", "#FF8D8D"},
    {"color.match(110, 110, '#f00')", kGrabBad, "", {}, -1, grabFails},
    {"color.get(-50, -50)", kGrabBad},   // off the desktop
    {"local m = color.match return m(110, 110, '#f00'), m(110, 110, 245, 10, 10), m(110, 110, 244, 0, 0),"
     "m(110, 110, 244, 0, 0, 11), m(110, 110, '#F40000', 11)", "true|true|false|true|true"},
    {"return color.match(110, 110, 255, 0, 0, 0), color.match(100, 100, 255, 0, 0, 0),"
     "color.match(110, 110, 255.9, 0.9, 0, 0), color.match(110, 110, 255, 0, 0, -1),"
     "color.match(210, 110, '00ff00')", "true|false|true|false|true"},
    {"color.match(1, 2, '#ffff')", "error: color.match 的颜色参数应为 \"#RRGGBB\" 或 r, g, b"},
    {"return color.matchAll({{x=110, y=110, color='#FF0000'}, {x=210, y=110, color='#0000FF'}}, 'ANY')",
     "true|√#FF0000→#FF0000 ×#0000FF→#00FF00"},
    {"return (color.matchAll({{x=110, y=110, color='#FF0000'}, {x=210, y=110, color='#0000FF'}}))", "false"},
    // Skipped elements: not a table, no y, colour a table, colour text neither hex nor number.
    {"return (color.matchAll({5, {x=1}, {x=1, y=1, color={}}, {x=1, y=1, color='red'},"
     "{x='210', y=110, color='#00FF00'}}, 'all'))", "true"},
    // A numeric colour is the red component, with g and b beside it.
    {"local m = color.matchAll return (m({{x=210, y=110, color=0, g=255}})), (m({{x=210, y=110, color='5',"
     " g=250, b=5, tolerance=5}})), (m({{x=210, y=110, color=0, g=255, tolerance=-1}}))", "true|true|false"},
    {"return color.matchAll({{x=110, y=110, color='#FF0000'}})", "false|", "", {}, -1, grabFails},
    {"return color.wait(110, 110, 0, 0, 255, 10, 0)", "false", "", 0, 1},
    // Polls every 200 ms from 0 to 3000, the last check at the timeout.
    {"return color.waitAll({{x=110, y=110, color='#00FF00'}}, 3000)", "false", "", 3000, 16},
    {"return color.waitAll({{x=110, y=110, color='#FF0000'}, {x=110, y=110, color='#000000'}}, 'any', 100)",
     "true"},
    {"return color.wait(305, 205, '#0000ff', 10, 5000, 250)", "true", "", 1000, -1,
     [](SimDesktop& s) { s.clock().atMs(1000, [&s] { s.fill({300, 200, 10, 10}, {0, 0, 255, 255}); }); }}};
INSTANTIATE_TEST_SUITE_P(Color, MacroCallTest, ::testing::ValuesIn(kColor));

const Call kScreen[] = {
    {"return image.find('logo')", "312|48|1"}, {"return image.find('LoGo', 0.95)", "312|48|1"},
    {"return image.find('absent')", "nil"}, {"image.find('nope')", "error: 模板库中没有名为「nope」的图片"},
    {"image.find('broken')", "error: 模板「broken」解码失败"},
    {"image.find('logo')", "error: 截屏失败，请确认已授权「屏幕录制」", "", {}, -1, grabFails},
    {"return image.findIn('logo', 290, 30, 50, 40)", "312|48|1"},
    {"return image.findIn('logo', 0, 0, 100, 100)", "nil"},
    {"return image.findIn('absent', 0, 130, 400, 170)", "nil"},
    // Usage errors: one message of the family is checked exactly above.
    {"local p = pcall return p(color.get, 1) or p(screen.color, 'a', 2) or p(color.match, 1, nil, '#fff')"
     " or p(color.matchAll, 'x') or p(color.match, 1, 2, 255, 0) or p(color.matchAll, {{x=1, color='#fff'}})"
     " or p(color.wait, 110) or p(color.wait, 110, 110, 'nope') or p(color.waitAll, nil, 3000)"
     " or p(image.find, 5) or p(image.findIn, 'logo', 0, 0, 200) or p(image.wait)", "false"},
    // Polls at 0, 300, …, 5100: the first one past 5000 ends it.
    {"return image.wait('absent')", "nil", "", 5100},
    {"return image.wait('absent', 0.9, 5000, 300)", "60|210|1", "", 900, -1,
     [](SimDesktop& s) { s.clock().atMs(700, [&s] { s.draw(noise(20, 20, 99), {50, 200}); }); }},
    {"return screen.size()", "400|300"}, {"return screen.scale()", "1"},
    {"return screen.scale()", "2", "", {}, -1, [](SimDesktop& s) { s.removeAllScreens(); }}};
INSTANTIATE_TEST_SUITE_P(Screen, MacroCallTest, ::testing::ValuesIn(kScreen));

// A stop or the time limit ends a long call at once, past any pcall; a drag cut short leaves its button held.
struct Cut { std::string code; bool byDeadline; int64_t atMs; int64_t slackMs = 0; bool held = false; };

class MacroCutTest : public MacroTest, public ::testing::WithParamInterface<Cut> {};

TEST_P(MacroCutTest, EndsTheScriptAtOnce) {
    const Cut& c = GetParam();
    const int64_t start = sim->clock().nowMicros() / 1000;
    if (c.byDeadline) tfg_set_deadline_ms(start + c.atMs);
    else sim->clock().atMs(start + c.atMs, [] { tfg_request_interrupt(1); });
    EXPECT_EQ(eval(c.code + " log(1)"), std::string("error: ") + (c.byDeadline ? kTimedOut : kStopped));
    const int64_t took = sim->clock().nowMicros() / 1000 - start;
    EXPECT_TRUE(took >= c.atMs && took <= c.atMs + c.slackMs) << took;
    EXPECT_EQ(logs.size(), 0u) << logs.front();
    sim->clearPostedEvents(), player->releaseHeld();
    EXPECT_TRUE(std::regex_match(inputs(), std::regex(c.held ? "\\^left@\\d+,\\d+" : ""))) << inputs();
}

const Cut kCuts[] = {
    {"sleep(600000)", false, 130}, {"local ok, e = pcall(sleep, 10000) log(e) error(e, 0)", true, 500},
    {"color.wait(110, 110, '#00ff00', 10, 60000) while true do end", false, 410},
    {"color.wait(110, 110, '#00ff00', 10, 60000, 100)", true, 300},
    {"image.wait('absent', 0.9, 60000) for i = 1, 1e9 do end", false, 1234},
    {"mouse.drag(0, 0, 300, 200, 600000)", false, 1000, 50, true},
    {"mouse.drag(0, 0, 300, 200, 600000)", true, 1000, 50, true}};
INSTANTIATE_TEST_SUITE_P(Calls, MacroCutTest, ::testing::ValuesIn(kCuts));

TEST(MacroWords, HexAndButtons) {
    const std::pair<const char*, std::optional<RgbColor>> hexes[] = {
        {"#abc", {{170, 187, 204}}}, {"#FF8800", {{255, 136, 0}}}, {" 0x00ff7f\n", {{0, 255, 127}}}, {"", {}},
        {"#0x123456", {{18, 52, 86}}}, {"123", {{17, 34, 51}}}, {"\u3000#fff\t", {{255, 255, 255}}},
        {"#12345", {}}, {"#ggg", {}}, {"##fff", {}}, {"0x#fff", {}}, {"#1234567", {}}, {"# fff", {}}};
    for (const auto& [text, rgb] : hexes) EXPECT_EQ(LuaMacroAPI::parseHex(text), rgb) << text;
    auto button = [](const char* word) { return LuaMacroAPI::parseButton(word); };
    for (const char* w : {"right", "R", "右键", "RIGHT"}) EXPECT_EQ(button(w), MouseButton::right) << w;
    for (const char* w : {"center", "Middle", "m", "中键"}) EXPECT_EQ(button(w), MouseButton::center) << w;
    for (const char* w : {"left", "", "rightt", "左键", "x"}) EXPECT_EQ(button(w), MouseButton::left) << w;
}

}  // namespace
}  // namespace tapforge::test
