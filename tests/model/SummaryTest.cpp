// Derived texts of steps, branches and colour points, as the step list shows them.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "model/Script.h"

namespace tapforge {
namespace {

ColorPoint pointEnabled(bool enabled) {
    ColorPoint p;
    p.enabled = enabled;
    return p;
}

// Step summaries: truncation toward zero, character-not-byte cuts that keep clusters whole,
// counts of enabled points only, path tails.
TEST(StepSummary, ReadsAsInTheStepList) {
    const std::pair<std::function<void(Step&)>, std::string> cases[] = {
        {[](Step& s) { s.kind = StepKind::delay, s.delayMs = 1500; }, "延迟 1500 ms"},
        {[](Step& s) { s.kind = StepKind::mouseClick, s.hasPoint = true, s.x = 300.4, s.y = 200.9; }, "左键单击 (300, 200)"},
        {[](Step& s) { s.kind = StepKind::mouseClick, s.hasPoint = true, s.x = -0.7, s.y = -12.9; }, "左键单击 (0, -12)"},
        {[](Step& s) {
             s.kind = StepKind::mouseClick, s.mouseButton = MouseButton::right, s.clickKind = ClickKind::doubleClick;
         },
         "右键双击 (当前位置)"},
        {[](Step& s) { s.kind = StepKind::mouseMove, s.hasPoint = true, s.x = 10.99, s.y = 20, s.moveDurationMs = 250; },
         "移动到 (10, 20) 用时 250ms"},
        {[](Step& s) { s.kind = StepKind::mouseScroll, s.scrollAmount = 0; }, "滚轮 向下 0 格"},
        {[](Step& s) { s.kind = StepKind::mouseScroll, s.scrollAmount = std::numeric_limits<int64_t>::min(); },
         "滚轮 向下 9223372036854775808 格"},
        {[](Step& s) {
             s.kind = StepKind::keyPress, s.keyCode = 1, s.keyKind = KeyEventKind::down;
             s.modifiers = ModifierSet::command() | ModifierSet::shift();
         },
         "按键 ⇧⌘S · 仅按下"},
        {[](Step& s) { s.kind = StepKind::keyPress, s.keyCode = 54, s.keyKind = KeyEventKind::up; }, "按键 键码 54 · 仅抬起"},
        {[](Step& s) { s.kind = StepKind::typeText, s.text = "一二三四五六七八九十一二三四五六七八九十多余"; },
         "输入文本「一二三四五六七八九十一二三四五六七八九十」"},
        {[](Step& s) {
             s.kind = StepKind::typeText, s.text = "e\u0301e\u0301e\u0301e\u0301e\u0301\U0001F1E8\U0001F1F3abcdefghijklmnop";
         },
         "输入文本「e\u0301e\u0301e\u0301e\u0301e\u0301\U0001F1E8\U0001F1F3abcdefghijklmn」"},
        {[](Step& s) { s.kind = StepKind::typeText, s.text = "0123456789012345678\U0001F468\u200D\U0001F469\u200D\U0001F467x"; },
         "输入文本「0123456789012345678\U0001F468\u200D\U0001F469\u200D\U0001F467」"},
        {[](Step& s) {
             s.kind = StepKind::colorCheck, s.colorPoints = {pointEnabled(true), pointEnabled(false), pointEnabled(true)};
         },
         "颜色判断 · 2 个点 · 全部匹配"},
        {[](Step& s) { s.kind = StepKind::imageCheck, s.imageTemplate = ImageTemplate{}, s.imageTemplate->name = "按钮"; },
         "图像判断 · 未选择图片"},
        {[](Step& s) {
             s.kind = StepKind::imageCheck, s.imageTemplate = ImageTemplate{}, s.threshold = 0.855;
             s.imageTemplate->name = "按钮", s.imageTemplate->pngBase64 = "iVBORw0KGgo=";
         },
         "图像判断 · 按钮 · 相似度 ≥ 85%"},
        {[](Step& s) { s.kind = StepKind::lua, s.luaFile = "lib/tools/"; }, "Lua 脚本 · tools"},
        {[](Step& s) { s.kind = StepKind::comment; }, "注释"},
        {[](Step& s) { s.kind = StepKind::comment, s.note = "登录部分"; }, "登录部分"},
    };
    for (const auto& [setUp, expected] : cases) {
        Step s(StepKind::delay);
        setUp(s);
        EXPECT_EQ(s.summary(), expected);
    }
}

// Branch texts: rounding (not truncation) of the click point, click counts above two, jump
// targets unset or deleted, after-actions ignored by the non-action kinds.
TEST(BranchText, Reads) {
    const std::pair<std::function<void(BranchTarget&)>, std::string> cases[] = {
        {[](BranchTarget& b) { b.kind = BranchKind::jump; }, "跳转 → (未选择)"},
        {[](BranchTarget& b) { b.kind = BranchKind::jump, b.targetStepID = Uuid::random(); }, "跳转 → (目标步骤已删除)"},
        {[](BranchTarget& b) { b.kind = BranchKind::click, b.clickX = 10.6, b.clickY = 2.2; }, "左键单击 (11, 2) → 继续下一步"},
        {[](BranchTarget& b) {
             b.kind = BranchKind::click, b.clickHasPoint = false, b.clickCount = 3;
             b.clickButton = MouseButton::right, b.afterAction = AfterAction::stop;
         },
         "右键双击 (当前位置) → 停止脚本"},
        {[](BranchTarget& b) { b.kind = BranchKind::click, b.clickCount = 0; }, "左键单击 (0, 0) → 继续下一步"},
        {[](BranchTarget& b) {
             b.kind = BranchKind::clickRegion, b.clickCount = 2, b.clickButton = MouseButton::center;
             b.afterAction = AfterAction::restart;
         },
         "中键双击 识别范围内随机点 → 重新开始"},
        {[](BranchTarget& b) { b.kind = BranchKind::key; }, "按键（未设置）→ 继续下一步"},
        {[](BranchTarget& b) {
             b.kind = BranchKind::key, b.keyCode = 36, b.afterAction = AfterAction::jump;
             b.keyModifiers = ModifierSet::control() | ModifierSet::option();
         },
         "按键 ⌃⌥Return → 跳转 → (未选择)"},
        {[](BranchTarget& b) { b.afterAction = AfterAction::stop; }, "继续下一步"},
    };
    for (const auto& [setUp, expected] : cases) {
        BranchTarget b;
        setUp(b);
        EXPECT_EQ(b.display({}), expected);
    }
}

TEST(BranchStepDisplay, FindsTheStepByIdentityNotPosition) {
    std::vector<Step> steps = {Step(StepKind::delay), Step(StepKind::goTo), Step(StepKind::comment)};
    steps[2].note = "末尾";
    EXPECT_EQ(BranchTarget::stepDisplay(std::nullopt, steps), "(未选择)");
    EXPECT_EQ(BranchTarget::stepDisplay(steps[2].id, steps), "第 3 步：末尾");
    const Uuid moved = steps[2].id;
    std::swap(steps[0], steps[2]);
    EXPECT_EQ(BranchTarget::stepDisplay(moved, steps), "第 1 步：末尾");
    steps.erase(steps.begin());
    EXPECT_EQ(BranchTarget::stepDisplay(moved, steps), "(目标步骤已删除)");
}

TEST(BranchSummary, OnlyConditionAndLuaStepsHaveOne) {
    const std::vector<Step> steps = {Step(StepKind::delay)};
    for (StepKind kind : allCases<StepKind>()) {
        Step s(kind);
        s.onFailure.kind = BranchKind::jump;
        s.onFailure.targetStepID = steps[0].id;
        const auto text = s.branchSummary(steps);
        const bool expected = kind == StepKind::colorCheck || kind == StepKind::imageCheck || kind == StepKind::lua;
        ASSERT_EQ(text.has_value(), expected) << rawValue(kind);
        if (expected) {
            EXPECT_EQ(*text, "成功: 继续下一步 ／ 失败: 跳转 → 第 1 步：延迟 500 ms");
        }
    }
}

TEST(ColorPointDisplay, TruncatesCoordinatesAndPrintsUpperHex) {
    ColorPoint p;
    p.x = 120.7, p.y = 45.2, p.red = 255, p.green = 0, p.blue = 170;
    EXPECT_EQ(p.display(), "(120, 45) #FF00AA");
    p.x = -3.9, p.y = 0, p.red = 1, p.green = 0xAB, p.blue = 0x0C;
    EXPECT_EQ(p.display(), "(-3, 0) #01AB0C");
    // A channel outside 0..255 (hand-edited file) stays a six-digit colour.
    p.red = 300, p.green = -5;
    EXPECT_EQ(p.display(), "(-3, 0) #FF000C");
    p.x = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(p.display().substr(0, 5), "(nan,");
}

TEST(ModifierSetTexts, AllFiveMembers) {
    const ModifierSet all = ModifierSet::command() | ModifierSet::shift() | ModifierSet::option() |
                            ModifierSet::control() | ModifierSet::function();
    EXPECT_EQ(all.symbols(), "⌃⌥⇧⌘fn+");
    EXPECT_EQ(all.cgFlags(), 0x100000u | 0x20000u | 0x80000u | 0x40000u | 0x800000u);
    const auto order = all.pressOrder();
    ASSERT_EQ(order.size(), 5u);
    EXPECT_EQ(order.front().first, 59);
    EXPECT_EQ(order.front().second, ModifierSet::control());
    EXPECT_EQ(order.back().first, 63);
    EXPECT_EQ((ModifierSet::command() | ModifierSet::shift()).symbols(), "⇧⌘");
    EXPECT_EQ(ModifierSet{}.symbols(), "");
    EXPECT_EQ(ModifierSet{}.cgFlags(), 0u);
    // Unknown bits are carried but contribute nothing.
    EXPECT_EQ(ModifierSet{64 | 1}.symbols(), "⌘");
    EXPECT_EQ(ModifierSet{64}.pressOrder().size(), 0u);
}

TEST(StepCreate, KindSpecificDefaults) {
    for (StepKind kind : allCases<StepKind>()) {
        SCOPED_TRACE(std::string(rawValue(kind)));
        const Step s = Step::create(kind, GlobalPoint{12.5, 99});
        Step expected(kind);
        expected.id = s.id;
        if (kind == StepKind::lua) expected.timeoutMs = 0;
        if (kind == StepKind::mouseClick || kind == StepKind::mouseMove) expected.hasPoint = true, expected.x = 12.5, expected.y = 99;
        EXPECT_EQ(s, expected);
    }
    const Step unknownPointer = Step::create(StepKind::mouseMove, std::nullopt);
    EXPECT_TRUE(unknownPointer.hasPoint);
    EXPECT_EQ(unknownPointer.x, 0);
    EXPECT_EQ(unknownPointer.y, 0);
    EXPECT_NE(Step::create(StepKind::delay, std::nullopt).id, Step::create(StepKind::delay, std::nullopt).id);
}

}  // namespace
}  // namespace tapforge
