// Colour and image checks in runs (attempts, polling, time-outs, stops) and the branches they take.
#include "RunnerFixture.h"
#include "vision/Base64.h"
#include "vision/PngCodec.h"

namespace tapforge::test {
namespace {

using vision::test::noise;

const std::string kFound = "✔︎ 图像比对成功，相似度 100.0%", kPass = "✔︎ 颜色判断通过 √#FFFFFF→#FFFFFF";

// onFailure stops the script, so the log tells which branch was taken.
Step failureStops(Step step) { return step.onFailure = branchOf(BranchKind::stop), step; }
Step marker(double x) { return clickStep(x, 0); }

// One attempt to find `image`, captured at (200, 150), within 4 points of there; `branch` either way.
Step imageStep(const platform::RgbaImage& image, BranchTarget branch = {}) {
    return stepOf(StepKind::imageCheck, [&](Step& s) {
        s.imageTemplate = {.widthPoints = double(image.width), .heightPoints = double(image.height),
                           .originX = 200, .originY = 150,
                           .pngBase64 = vision::encodeBase64(*vision::PngCodec::encode(image))};
        s.waitForCondition = s.searchFullScreen = false, s.searchMargin = 4;
        s.onSuccess = s.onFailure = branch;
    });
}

// A 40 x 30 textured patch; the plays that need it draw it at (200, 150), where its template was captured.
const platform::RgbaImage kPatch = noise(40, 30, 11);

using Checks = RunnerFixture;

TEST_F(Checks, Colour) {
    Step allOf = failureStops(colorStep({point(20, 20, 0x10, 0xAA, 0x05), point(10, 10, 250, 250, 250)}));
    Step anyOf = allOf, off = colorStep({point(10, 10, 255, 255, 255, 10, false)});
    anyOf.colorMode = MatchMode::any, off.colorPoints.push_back(off.colorPoints[0]);
    const auto dot = [&] { sim->fill({20, 20, 1, 1}, {0x12, 0xAB, 0x00, 255}); };
    const auto waiting = [&](int timeoutMs, int pollMs, bool wait = true) {
        return scriptOf({failureStops(colorStep({point(10, 10, 255, 0, 0)}, wait, timeoutMs, pollMs))});
    };
    const auto single = [&](bool wait, int ms) {
        return Play{.name = "a single attempt " + std::to_string(ms), .script = waiting(ms, 200, wait),
                    .log = {started(1), "✘ 颜色判断未通过 ×#FF0000→#FFFFFF", kStopped}, .endMs = 0, .grabs = 1};
    };
    expectPlays({
        // The 3 x 3 mean at (20, 20) mixes the dot with white: all fails on it, any passes on the second.
        {.name = "all", .script = scriptOf({allOf}),
         .log = {started(1), "✘ 颜色判断未通过 ×#10AA05→#E4F5E2 √#FAFAFA→#FFFFFF", kStopped}, .arrange = dot},
        {.name = "any", .script = scriptOf({anyOf}),
         .log = {started(1), "✔︎ 颜色判断通过 ×#10AA05→#E4F5E2 √#FAFAFA→#FFFFFF", kDone}, .arrange = dot},
        single(false, 5000), single(true, 0), single(true, -10),
        // Attempts at 0, 30, 60, 90 and 120 ms: the last one starts before the deadline check fails.
        {.name = "the poll interval is at least 30 ms", .script = waiting(100, 10), .endMs = 120, .grabs = 5},
        {.name = "waits until the colour appears", .script = waiting(5000, 200),
         .log = {started(1), "✔︎ 颜色判断通过 √#FF0000→#FF0000", kDone}, .endMs = 600, .grabs = 4,
         .arrange = [&] { sim->clock().atMs(500, [&] { sim->fill({0, 0, 50, 50}, {255, 0, 0, 255}); }); }},
        {.name = "disabled points only warn", .script = scriptOf({failureStops(off)}),
         .log = {started(1), "⚠️ 颜色判断没有可用的颜色点", kStopped}, .grabs = 0},
        {.name = "failed grabs are failed attempts without details", .script = waiting(100, 50),
         .log = {started(1), "✘ 颜色判断未通过 ", kStopped}, .endMs = 100,
         .arrange = [&] { sim->setGrabFails(true); }},
        {.name = "a stop while polling logs the last details and takes no branch",
         .script = scriptOf({colorStep({point(10, 10, 255, 0, 0)}, true, 5000, 200), clickStep(1, 1)}),
         .log = {started(2), "✘ 颜色判断未通过 ×#FF0000→#FFFFFF", "⏹ 已手动停止"},
         .events = Lines{}, .endMs = 350, .grabs = 2, .arrange = [&] { pressAt(350); }},
    });
}

TEST_F(Checks, Branches) {
    Script jumps = scriptOf({marker(1), passing({}), marker(2), marker(3)});
    const auto jumpTo = [&](std::optional<Uuid> target) {
        jumps.steps[1].onSuccess = branchOf(BranchKind::jump);
        return jumps.steps[1].onSuccess.targetStepID = target, jumps;
    };
    const std::string unset = "⚠️ 未选择跳转目标步骤，继续执行下一步";
    Script gotos = scriptOf({Step(StepKind::goTo), marker(1), marker(2), marker(3), Step(StepKind::goTo),
                             marker(4)});
    gotos.steps[0].gotoStepID = gotos.steps[2].id;
    gotos.steps[2].enabled = false;   // the run loop skips it and goes on after it

    BranchTarget key = branchOf(BranchKind::key);
    key.keyCode = 1, key.keyModifiers = ModifierSet::command() | ModifierSet::shift();
    key.afterAction = AfterAction::jump;   // unset after-step: warns and continues
    Script noKey = scriptOf({passing(key), marker(2), marker(3)});
    noKey.steps[0].onSuccess.keyCode.reset();   // no key: only the after-action runs
    noKey.steps[0].onSuccess.afterStepID = noKey.steps[2].id;

    const auto clicking = [&](int64_t count) {
        BranchTarget click = branchOf(BranchKind::click);
        click.clickX = 50.4, click.clickY = 59.6, click.clickButton = MouseButton::right;
        click.clickCount = count, click.afterAction = AfterAction::stop;
        return scriptOf({passing(click), marker(1)});
    };
    const std::string at = " (50.4,59.6)";
    const Lines once{"0ms button right down" + at, "20ms button right up" + at};

    expectPlays({
        {.name = "jump to a later step", .script = jumpTo(jumps.steps[3].id),
         .log = {started(4), kPass, kDone}, .clicks = {{1, 3}}},
        {.name = "jump unset", .script = jumpTo(std::nullopt), .log = {started(4), kPass, unset, kDone},
         .clicks = {{1, 2, 3}}},
        {.name = "jump to a deleted step", .script = jumpTo(Uuid::random()),
         .log = {started(4), kPass, "⚠️ 跳转目标步骤已被删除，继续执行下一步", kDone}, .clicks = {{1, 2, 3}}},
        {.name = "goto, and a disabled target is skipped", .script = gotos, .log = {started(6), unset, kDone},
         .clicks = {{3, 4}}},
        // The screen turns black at 100 ms; until then the check restarts the script without counting a pass.
        {.name = "restart", .script = scriptOf({marker(1), passing(branchOf(BranchKind::restart))}, 2),
         .log = {started(2, 2), kPass, kPass, kPass, kPass, "✘ 颜色判断未通过 ×#FFFFFF→#000000",
                 "—— 第 1 轮结束，重新开始 ——", "✘ 颜色判断未通过 ×#FFFFFF→#000000", kDone},
         .clicks = {{1, 1, 1, 1, 1, 1}}, .cycles = 2,
         .arrange = [&] { sim->clock().atMs(100, [&] { sim->fill({0, 0, 800, 600}, {0, 0, 0, 255}); }); }},
        {.name = "a click count below one clicks once", .script = clicking(0),
         .log = {started(2), kPass, "🖱 分支动作：右键单击 (50, 60)", kStopped}, .events = once},
        {.name = "three clicks are a double and a single", .script = clicking(3),
         .log = {started(2), kPass, "🖱 分支动作：右键双击 (50, 60)", kStopped},
         .events = Lines{once[0], once[1], "80ms button right down" + at + " click 2",
                         "100ms button right up" + at + " click 2", "100ms button right down" + at,
                         "120ms button right up" + at}},
        {.name = "key with modifiers", .script = scriptOf({passing(key)}),
         .log = {started(1), kPass, "⌨️ 分支动作：按键 ⇧⌘S", unset, kDone},
         .events = Lines{"0ms key down 56 flags 0x20000", "8ms key down 55 flags 0x120000",
                         "16ms key down 1 flags 0x120000", "28ms key up 1 flags 0x120000",
                         "28ms key up 55 flags 0x20000", "36ms key up 56"}},
        {.name = "key unset", .script = noKey,
         .log = {started(3), kPass, "⚠️ 分支动作没有设置按键，按后续去向继续", kDone}, .clicks = {{3}}},
    });
}

// A match may click its centre; a region branch, a random point of its run's closed match rectangle.
TEST_F(Checks, Image) {
    Step clicking = failureStops(imageStep(kPatch));
    BranchTarget region = branchOf(BranchKind::clickRegion), twice = region;
    clicking.clickOnMatch = true, twice.clickCount = 2;
    const auto draw = [&] { sim->draw(kPatch, {200, 150}); };
    const auto inRegion = [&](bool high, std::string where, std::string at) {
        const auto pick = [high](double low, double upper) { return high ? upper : low; };
        return Play{.name = where, .script = scriptOf({imageStep(kPatch, twice)}),
                    .log = {started(1), kFound, "🖱 分支动作：左键双击 识别范围随机点 " + where + "，区域 (200, 150) 40×30",
                            kDone},
                    .events = Lines{"0ms button left down " + at, "20ms button left up " + at,
                                    "80ms button left down " + at + " click 2",
                                    "100ms button left up " + at + " click 2"},
                    .arrange = [=, this] { draw(), makeRunner({}, pick); }};
    };
    expectPlays({
        {.name = "a match clicks its centre", .script = scriptOf({clicking}),
         .log = {started(1), kFound, "   点击匹配位置 (220, 165)", kDone},
         .events = Lines{"0ms button left down (220,165)", "20ms button left up (220,165)"}, .arrange = draw},
        {.name = "not found logs the best score",
         .script = scriptOf({failureStops(imageStep(noise(40, 30, 99)))}), .grabs = 1, .then = [&] {
             ASSERT_EQ(log.size(), 3u);
             EXPECT_TRUE(std::regex_match(log[1] + log[2], std::regex("✘ 图像比对失败，最高相似度 .+%" + kStopped)));
         }},
        inRegion(false, "(200, 150)", "(200,150)"),
        inRegion(true, "(240, 180)", "(240,180)"),
        {.name = "a colour check clicks the last match of its run; the next run has none",
         .script = scriptOf({imageStep(kPatch), passing(region), marker(1)}), .clicks = {{200, 1}},
         .arrange = [&] { draw(), makeRunner({}, [](double low, double) { return low; }); },
         .then = [&] {
             play(scriptOf({passing(region)}));
             EXPECT_EQ(Lines(log.end() - 2, log.end()), (Lines{"⚠️ 分支动作：本次图像判断没有匹配到区域，按后续去向继续", kDone}));
         }},
    });
}

}  // namespace
}  // namespace tapforge::test
