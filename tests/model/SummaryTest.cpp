// Derived texts of steps, branches and colour points, as the step list shows them.
#include <gtest/gtest.h>

#include "model/ScriptJson.h"

namespace tapforge {
namespace {

Step stepFrom(const std::string& stepJson) { return decodeScript(R"({"steps":[)" + stepJson + "]}").script.value().steps.at(0); }

// Truncation toward zero, cuts that keep clusters whole, enabled points only, path tails.
TEST(StepSummary, ReadsAsInTheStepList) {
    const std::string point = R"({"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","x":0,"y":0,"red":0,"green":0,"blue":0,"tolerance":0,"enabled":)";
    const std::string image = R"({"kind":"imageCheck","threshold":0.855,"template":{"name":"按钮","widthPoints":1,"heightPoints":1,"originX":0,"originY":0,"pixelScale":1,"pngBase64":)";
    const std::pair<std::string, std::string> cases[] = {
        {R"({"kind":"mouseClick","hasPoint":true,"x":300.4,"y":200.9})", "左键单击 (300, 200)"}, {R"({"kind":"mouseScroll","scrollAmount":0})", "滚轮 向下 0 格"},
        {R"({"kind":"mouseClick","hasPoint":true,"x":-0.7,"y":-12.9})", "左键单击 (0, -12)"}, {R"({"kind":"comment"})", "注释"},
        {R"({"kind":"mouseClick","hasPoint":false,"mouseButton":"right","clickKind":"doubleClick"})", "右键双击 (当前位置)"},
        {R"({"kind":"mouseMove","hasPoint":true,"x":10.99,"y":20,"moveDurationMs":250})", "移动到 (10, 20) 用时 250ms"},
        {R"({"kind":"mouseScroll","scrollAmount":-9223372036854775808})", "滚轮 向下 9223372036854775808 格"},
        {R"({"kind":"keyPress","keyCode":1,"keyKind":"down","modifiers":3})", "按键 ⇧⌘S · 仅按下"}, {R"({"kind":"keyPress","keyCode":54,"keyKind":"up"})", "按键 键码 54 · 仅抬起"},
        {R"({"kind":"typeText","text":"一二三四五六七八九十一二三四五六七八九十多余"})", "输入文本「一二三四五六七八九十一二三四五六七八九十」"},
        {"{\"kind\":\"typeText\",\"text\":\"e\u0301e\u0301e\u0301e\u0301e\u0301\U0001F1E8\U0001F1F3abcdefghijklmnop\"}",
         "输入文本「e\u0301e\u0301e\u0301e\u0301e\u0301\U0001F1E8\U0001F1F3abcdefghijklmn」"},
        {"{\"kind\":\"typeText\",\"text\":\"0123456789012345678\U0001F468\u200D\U0001F469\u200D\U0001F467x\"}",
         "输入文本「0123456789012345678\U0001F468\u200D\U0001F469\u200D\U0001F467」"},
        {R"({"kind":"colorCheck","colorPoints":[)" + point + "true}," + point + "false}," + point + "true}]}",
         "颜色判断 · 2 个点 · 全部匹配"},
        {image + R"(""}})", "图像判断 · 未选择图片"}, {image + R"("iVBORw0KGgo="}})", "图像判断 · 按钮 · 相似度 ≥ 85%"},
        {R"({"kind":"lua","luaFile":"lib/tools/"})", "Lua 脚本 · tools"}, {R"({"kind":"comment","note":"登录部分"})", "登录部分"},
    };
    for (const auto& [json, expected] : cases) EXPECT_EQ(stepFrom(json).summary(), expected) << json;
}

// Rounding of the click point, click counts above two, jump targets unset or deleted, after-actions ignored.
TEST(BranchText, Reads) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"kind":"jump"})", "跳转 → (未选择)"}, {R"({"kind":"jump","targetStepID":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"})", "跳转 → (目标步骤已删除)"},
        {R"({"kind":"click","clickX":10.6,"clickY":2.2})", "左键单击 (11, 2) → 继续下一步"},
        {R"({"kind":"click","clickHasPoint":false,"clickCount":3,"clickButton":"right","afterAction":"stop"})", "右键双击 (当前位置) → 停止脚本"},
        {R"({"kind":"clickRegion","clickCount":2,"clickButton":"center","afterAction":"restart"})", "中键双击 识别范围内随机点 → 重新开始"},
        {R"({"kind":"key"})", "按键（未设置）→ 继续下一步"}, {R"({"afterAction":"stop"})", "继续下一步"},
        {R"({"kind":"key","keyCode":36,"keyModifiers":12,"afterAction":"jump"})", "按键 ⌃⌥Return → 跳转 → (未选择)"},
        {R"({"kind":"click","clickCount":0})", "左键单击 (0, 0) → 继续下一步"},
    };
    for (const auto& [json, expected] : cases)
        EXPECT_EQ(stepFrom(std::string(R"({"kind":"lua","onSuccess":)") + json + "}").onSuccess.display({}), expected) << json;
}

TEST(BranchText, FindsTheStepByIdentityNotPositionAndOnlyConditionsAndLuaHaveOne) {
    std::vector<Step> steps = {Step(StepKind::delay), Step(StepKind::goTo), Step(StepKind::comment)};
    steps[2].note = "末尾";
    const Uuid last = steps[2].id;
    EXPECT_EQ(BranchTarget::stepDisplay(std::nullopt, steps) + BranchTarget::stepDisplay(last, steps), "(未选择)第 3 步：末尾");
    std::swap(steps[0], steps[2]);
    EXPECT_EQ(BranchTarget::stepDisplay(last, steps), "第 1 步：末尾");
    steps.erase(steps.begin());
    EXPECT_EQ(BranchTarget::stepDisplay(last, steps), "(目标步骤已删除)");
    for (StepKind kind : allCases<StepKind>()) {
        Step s(kind);
        s.onFailure.kind = BranchKind::jump, s.onFailure.targetStepID = steps[1].id;
        const bool branches = kind == StepKind::colorCheck || kind == StepKind::imageCheck || kind == StepKind::lua;
        EXPECT_EQ(s.branchSummary(steps), branches ? std::optional<std::string>("成功: 继续下一步 ／ 失败: 跳转 → 第 2 步：延迟 500 ms")
                                                   : std::nullopt) << rawValue(kind);
    }
}

TEST(ColorPointAndModifierTexts, Read) {
    ColorPoint p;
    p.x = -3.9, p.y = 45.2, p.red = 1, p.green = 0xAB, p.blue = 0x0C;
    EXPECT_EQ(p.display(), "(-3, 45) #01AB0C");
    p.red = 300, p.green = -5;   // a channel outside 0..255 (hand-edited file) stays a six-digit colour
    EXPECT_EQ(p.display(), "(-3, 45) #FF000C");

    const auto order = ModifierSet{31}.pressOrder();
    EXPECT_EQ(ModifierSet{31}.symbols(), "⌃⌥⇧⌘fn+");
    ASSERT_EQ(order.size(), 5u);
    EXPECT_TRUE(order.front() == std::make_pair(uint16_t{59}, ModifierSet::control()) && order.back().first == 63);
    EXPECT_EQ(ModifierSet{}.cgFlags(), 0u);
    EXPECT_EQ(ModifierSet{64 | 1}.symbols(), "⌘");   // unknown bits are carried but do nothing
    EXPECT_TRUE(ModifierSet{64}.pressOrder().empty());
}

// A new Lua step has no time limit; clicks and moves get the pointer's position, (0, 0) when unknown.
TEST(StepCreate, KindSpecificDefaults) {
    EXPECT_EQ(Step::create(StepKind::lua, GlobalPoint{1, 2}).timeoutMs, 0);
    const Step click = Step::create(StepKind::mouseClick, GlobalPoint{12.5, 99}), move = Step::create(StepKind::mouseMove, std::nullopt);
    EXPECT_TRUE(click.hasPoint && click.x == 12.5 && click.y == 99) << click.x << ", " << click.y;
    EXPECT_TRUE(move.hasPoint && move.x == 0 && move.y == 0);
    EXPECT_FALSE(Step::create(StepKind::delay, std::nullopt).hasPoint);
}

}  // namespace
}  // namespace tapforge
