// Derived texts of steps, branches and colour points, as the step list shows them.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <unordered_set>

#include "model/Script.h"

namespace tapforge {
namespace {

Step stepOf(StepKind kind, const std::function<void(Step&)>& setUp = {}) {
    Step s(kind);
    if (setUp) setUp(s);
    return s;
}

ImageTemplate templateNamed(std::string name, std::string png) {
    ImageTemplate t;
    t.name = std::move(name);
    t.pngBase64 = std::move(png);
    return t;
}

ColorPoint pointEnabled(bool enabled) {
    ColorPoint p;
    p.enabled = enabled;
    return p;
}

struct SummaryCase {
    const char* name;
    Step step;
    std::string expected;
};

class StepSummary : public testing::TestWithParam<SummaryCase> {};

TEST_P(StepSummary, ReadsAsInTheStepList) { EXPECT_EQ(GetParam().step.summary(), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    EveryKind, StepSummary,
    testing::Values(
        SummaryCase{"delay", stepOf(StepKind::delay, [](Step& s) { s.delayMs = 1500; }), "延迟 1500 ms"},
        SummaryCase{"clickAtPointTruncates",
                    stepOf(StepKind::mouseClick, [](Step& s) { s.hasPoint = true, s.x = 300.4, s.y = 200.9; }),
                    "左键单击 (300, 200)"},
        SummaryCase{"clickNegativeTruncatesTowardZero",
                    stepOf(StepKind::mouseClick, [](Step& s) { s.hasPoint = true, s.x = -0.7, s.y = -12.9; }),
                    "左键单击 (0, -12)"},
        SummaryCase{"rightDoubleClickAtPointer",
                    stepOf(StepKind::mouseClick,
                           [](Step& s) { s.mouseButton = MouseButton::right, s.clickKind = ClickKind::doubleClick; }),
                    "右键双击 (当前位置)"},
        SummaryCase{"centerDown",
                    stepOf(StepKind::mouseClick,
                           [](Step& s) { s.mouseButton = MouseButton::center, s.clickKind = ClickKind::down; }),
                    "中键按下 (当前位置)"},
        SummaryCase{"move",
                    stepOf(StepKind::mouseMove,
                           [](Step& s) { s.hasPoint = true, s.x = 10.99, s.y = 20, s.moveDurationMs = 250; }),
                    "移动到 (10, 20) 用时 250ms"},
        SummaryCase{"scrollDefaultIsDown", stepOf(StepKind::mouseScroll), "滚轮 向下 3 格"},
        SummaryCase{"scrollUp", stepOf(StepKind::mouseScroll, [](Step& s) { s.scrollAmount = 5; }), "滚轮 向上 5 格"},
        SummaryCase{"scrollZeroCountsAsDown", stepOf(StepKind::mouseScroll, [](Step& s) { s.scrollAmount = 0; }),
                    "滚轮 向下 0 格"},
        SummaryCase{"scrollMostNegative",
                    stepOf(StepKind::mouseScroll,
                           [](Step& s) { s.scrollAmount = std::numeric_limits<int64_t>::min(); }),
                    "滚轮 向下 9223372036854775808 格"},
        SummaryCase{"keyUnset", stepOf(StepKind::keyPress), "未设置按键"},
        SummaryCase{"keyCommandC",
                    stepOf(StepKind::keyPress, [](Step& s) { s.keyCode = 8, s.modifiers = ModifierSet::command(); }),
                    "按键 ⌘C · 按下并抬起"},
        SummaryCase{"keyShiftCommandDownOnly",
                    stepOf(StepKind::keyPress,
                           [](Step& s) {
                               s.keyCode = 1, s.keyKind = KeyEventKind::down;
                               s.modifiers = ModifierSet::command() | ModifierSet::shift();
                           }),
                    "按键 ⇧⌘S · 仅按下"},
        SummaryCase{"keyUnnamedCodeUpOnly",
                    stepOf(StepKind::keyPress, [](Step& s) { s.keyCode = 54, s.keyKind = KeyEventKind::up; }),
                    "按键 键码 54 · 仅抬起"},
        SummaryCase{"typeEmpty", stepOf(StepKind::typeText), "输入文本「」"},
        SummaryCase{"typeCutAt20Characters",
                    stepOf(StepKind::typeText, [](Step& s) { s.text = "abcdefghijklmnopqrstuvwxy"; }),
                    "输入文本「abcdefghijklmnopqrst」"},
        SummaryCase{"typeCutCountsCharactersNotBytes",
                    stepOf(StepKind::typeText, [](Step& s) { s.text = "一二三四五六七八九十一二三四五六七八九十多余"; }),
                    "输入文本「一二三四五六七八九十一二三四五六七八九十」"},
        SummaryCase{"typeKeepsCombiningMarksAndFlags",
                    stepOf(StepKind::typeText,
                           [](Step& s) { s.text = "e\u0301e\u0301e\u0301e\u0301e\u0301\U0001F1E8\U0001F1F3abcdefghijklmnop"; }),
                    "输入文本「e\u0301e\u0301e\u0301e\u0301e\u0301\U0001F1E8\U0001F1F3abcdefghijklmn」"},
        SummaryCase{"typeKeepsEmojiSequence",
                    stepOf(StepKind::typeText,
                           [](Step& s) { s.text = "0123456789012345678\U0001F468\u200D\U0001F469\u200D\U0001F467x"; }),
                    "输入文本「0123456789012345678\U0001F468\u200D\U0001F469\u200D\U0001F467」"},
        SummaryCase{"colorAllCountsEnabledOnly",
                    stepOf(StepKind::colorCheck,
                           [](Step& s) { s.colorPoints = {pointEnabled(true), pointEnabled(false), pointEnabled(true)}; }),
                    "颜色判断 · 2 个点 · 全部匹配"},
        SummaryCase{"colorAnyAllDisabled",
                    stepOf(StepKind::colorCheck,
                           [](Step& s) {
                               s.colorMode = MatchMode::any;
                               s.colorPoints = {pointEnabled(false)};
                           }),
                    "颜色判断 · 0 个点 · 任一匹配"},
        SummaryCase{"imageNoTemplate", stepOf(StepKind::imageCheck), "图像判断 · 未选择图片"},
        SummaryCase{"imageNamedTemplateWithoutImage",
                    stepOf(StepKind::imageCheck, [](Step& s) { s.imageTemplate = templateNamed("按钮", ""); }),
                    "图像判断 · 未选择图片"},
        SummaryCase{"imageThresholdTruncated",
                    stepOf(StepKind::imageCheck,
                           [](Step& s) { s.imageTemplate = templateNamed("按钮", "iVBORw0KGgo="), s.threshold = 0.855; }),
                    "图像判断 · 按钮 · 相似度 ≥ 85%"},
        SummaryCase{"luaNoFile", stepOf(StepKind::lua), "Lua 脚本 · 未选择文件"},
        SummaryCase{"luaLastComponent", stepOf(StepKind::lua, [](Step& s) { s.luaFile = "/Users/a/scripts/run.lua"; }),
                    "Lua 脚本 · run.lua"},
        SummaryCase{"luaTrailingSlash", stepOf(StepKind::lua, [](Step& s) { s.luaFile = "lib/tools/"; }),
                    "Lua 脚本 · tools"},
        SummaryCase{"goto", stepOf(StepKind::goTo), "跳转到指定步骤"},
        SummaryCase{"commentEmpty", stepOf(StepKind::comment), "注释"},
        SummaryCase{"commentNote", stepOf(StepKind::comment, [](Step& s) { s.note = "登录部分"; }), "登录部分"}),
    [](const testing::TestParamInfo<SummaryCase>& info) { return std::string(info.param.name); });

TEST(StepTitle, IsTheKindLabelAndIconsAreDistinct) {
    std::unordered_set<std::string_view> icons;
    for (StepKind kind : allCases<StepKind>()) {
        EXPECT_EQ(Step(kind).title(), label(kind));
        EXPECT_FALSE(iconName(kind).empty());
        icons.insert(iconName(kind));
    }
    EXPECT_EQ(icons.size(), 11u);
    EXPECT_EQ(Step(StepKind::lua).title(), "Lua 脚本");
    EXPECT_EQ(iconName(StepKind::imageCheck), "photo.on.rectangle.angled");
    EXPECT_EQ(iconName(StepKind::goTo), "arrow.turn.down.right");
    EXPECT_EQ(rawValue(StepKind::goTo), "goto");
}

// A failure branch that clicks once at (500, 300) and then jumps to a 500 ms delay.
TEST(BranchDisplay, ClickThenJumpNamesTheTargetStep) {
    const std::vector<Step> steps = {Step(StepKind::comment), Step(StepKind::delay)};
    BranchTarget b;
    b.kind = BranchKind::click;
    b.clickX = 500;
    b.clickY = 300;
    b.afterAction = AfterAction::jump;
    b.afterStepID = steps[1].id;
    EXPECT_EQ(b.display(steps), "左键单击 (500, 300) → 跳转 → 第 2 步：延迟 500 ms");
}

struct BranchCase {
    const char* name;
    std::function<void(BranchTarget&)> setUp;
    std::string expected;
};

class BranchText : public testing::TestWithParam<BranchCase> {};

TEST_P(BranchText, Reads) {
    BranchTarget b;
    GetParam().setUp(b);
    EXPECT_EQ(b.display({}), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, BranchText,
    testing::Values(
        BranchCase{"next", [](BranchTarget&) {}, "继续下一步"},
        BranchCase{"restart", [](BranchTarget& b) { b.kind = BranchKind::restart; }, "重新开始"},
        BranchCase{"stop", [](BranchTarget& b) { b.kind = BranchKind::stop; }, "停止脚本"},
        BranchCase{"jumpUnset", [](BranchTarget& b) { b.kind = BranchKind::jump; }, "跳转 → (未选择)"},
        BranchCase{"jumpDeleted",
                   [](BranchTarget& b) { b.kind = BranchKind::jump, b.targetStepID = Uuid::random(); },
                   "跳转 → (目标步骤已删除)"},
        BranchCase{"clickRoundsPoint",
                   [](BranchTarget& b) { b.kind = BranchKind::click, b.clickX = 10.6, b.clickY = 2.2; },
                   "左键单击 (11, 2) → 继续下一步"},
        BranchCase{"clickAtPointerTwiceThenStop",
                   [](BranchTarget& b) {
                       b.kind = BranchKind::click, b.clickHasPoint = false, b.clickCount = 3;
                       b.clickButton = MouseButton::right, b.afterAction = AfterAction::stop;
                   },
                   "右键双击 (当前位置) → 停止脚本"},
        BranchCase{"clickZeroCountIsSingle",
                   [](BranchTarget& b) { b.kind = BranchKind::click, b.clickCount = 0; },
                   "左键单击 (0, 0) → 继续下一步"},
        BranchCase{"regionDoubleThenRestart",
                   [](BranchTarget& b) {
                       b.kind = BranchKind::clickRegion, b.clickCount = 2, b.clickButton = MouseButton::center;
                       b.afterAction = AfterAction::restart;
                   },
                   "中键双击 识别范围内随机点 → 重新开始"},
        BranchCase{"keyUnset", [](BranchTarget& b) { b.kind = BranchKind::key; }, "按键（未设置）→ 继续下一步"},
        BranchCase{"keyWithModifiersThenJumpUnset",
                   [](BranchTarget& b) {
                       b.kind = BranchKind::key, b.keyCode = 36, b.afterAction = AfterAction::jump;
                       b.keyModifiers = ModifierSet::control() | ModifierSet::option();
                   },
                   "按键 ⌃⌥Return → 跳转 → (未选择)"},
        // After-actions only apply to the action kinds.
        BranchCase{"nextIgnoresAfterAction", [](BranchTarget& b) { b.afterAction = AfterAction::stop; },
                   "继续下一步"}),
    [](const testing::TestParamInfo<BranchCase>& info) { return std::string(info.param.name); });

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
