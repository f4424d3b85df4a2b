// Colour and image checks as the runner performs them (attempts, polling, time-outs, stops) and their branches.
#include "../vision/VisionTestSupport.h"
#include "RunnerFixture.h"
#include "vision/Base64.h"
#include "vision/PngCodec.h"

namespace tapforge::test {
namespace {

using vision::test::noise;

const std::string kFound = "✔︎ 图像比对成功，相似度 100.0%";

ImageTemplate templateOf(const platform::RgbaImage& image) {
    ImageTemplate t;
    t.name = "按钮", t.widthPoints = image.width, t.heightPoints = image.height, t.originX = 200, t.originY = 150;
    return t.pngBase64 = vision::encodeBase64(*vision::PngCodec::encode(image)), t;
}
// onFailure stops the script, so the log tells which branch was taken.
Step failureStops(Step step) { return withBranches(step, step.onSuccess, branchOf(BranchKind::stop)); }
// A colour check that always passes on the white screen.
Step passing(BranchTarget branch) { return withBranches(colorStep({colorPoint(10, 10, 255, 255, 255)}), branch, {}); }
Step marker(double x) { return clickStep(x, 0); }
BranchTarget region(int64_t clicks = 1) {
    BranchTarget b = branchOf(BranchKind::clickRegion);
    return b.afterAction = AfterAction::next, b.clickCount = clicks, b;
}

// A 40 x 30 textured patch drawn at (200, 150), where its template was captured.
class Checks : public RunnerFixture {
protected:
    void setUpDesktop() override {
        RunnerFixture::setUpDesktop();
        sim->draw(patch, {200, 150});
    }
    // An image check searching 4 points around the capture place; `branch` is taken either way.
    Step imageStep(BranchTarget branch = {}) {
        Step s(StepKind::imageCheck);
        s.imageTemplate = templateOf(patch), s.waitForCondition = false, s.timeoutMs = 0, s.searchFullScreen = false, s.searchMargin = 4;
        return withBranches(s, branch, branch);
    }
    platform::RgbaImage patch = noise(40, 30, 11);
};

TEST_F(Checks, Colour) {
    Step dotAndWhite = failureStops(colorStep({colorPoint(20, 20, 0x10, 0xAA, 0x05), colorPoint(10, 10, 250, 250, 250)}));
    Step anyOf = dotAndWhite, off = colorStep({colorPoint(10, 10, 255, 255, 255)});
    anyOf.colorMode = MatchMode::any;
    off.colorPoints[0].enabled = false, off.colorPoints.push_back(off.colorPoints[0]);
    const auto dot = [&] { sim->fill({20, 20, 1, 1}, {0x12, 0xAB, 0x00, 255}); };
    const auto waiting = [&](int64_t timeoutMs, int64_t pollMs, bool wait = true) {
        return scriptOf({failureStops(colorStep({colorPoint(10, 10, 255, 0, 0)}, wait, timeoutMs, pollMs))});
    };
    const auto single = [&](bool wait, int64_t timeoutMs) {
        return Play{.name = "a single attempt " + std::to_string(timeoutMs), .script = waiting(timeoutMs, 200, wait),
                    .log = {kStart1, "✘ 颜色判断未通过 ×#FF0000→#FFFFFF", kStopped}, .endMs = 0, .grabs = 1};
    };
    expectPlays({
        // The 3 x 3 average around (20, 20) mixes the dot with white: all fails on it, any passes on the second.
        {.name = "all", .script = scriptOf({dotAndWhite}),
         .log = {kStart1, "✘ 颜色判断未通过 ×#10AA05→#E4F5E2 √#FAFAFA→#FFFFFF", kStopped}, .arrange = dot},
        {.name = "any", .script = scriptOf({anyOf}),
         .log = {kStart1, "✔︎ 颜色判断通过 ×#10AA05→#E4F5E2 √#FAFAFA→#FFFFFF", kDone}, .arrange = dot},
        single(false, 5000), single(true, 0), single(true, -10),
        // Attempts at 0, 30, 60, 90 and 120 ms: the last one starts before the deadline check fails.
        {.name = "the poll interval is at least 30 ms", .script = waiting(100, 10), .endMs = 120, .grabs = 5},
        {.name = "waits until the colour appears", .script = waiting(5000, 200),
         .log = {kStart1, "✔︎ 颜色判断通过 √#FF0000→#FF0000", kDone}, .endMs = 600, .grabs = 4,
         .arrange = [&] { sim->clock().atMs(500, [&] { sim->fill({0, 0, 50, 50}, {255, 0, 0, 255}); }); }},
        {.name = "disabled points only warn",
         .script = scriptOf({failureStops(off)}), .log = {kStart1, "⚠️ 颜色判断没有可用的颜色点", kStopped}, .grabs = 0},
        {.name = "failed grabs are failed attempts without details",
         .script = waiting(100, 50), .log = {kStart1, "✘ 颜色判断未通过 ", kStopped}, .endMs = 100,
         .arrange = [&] { sim->setGrabFails(true); }},
        {.name = "a stop while polling logs the last details and takes no branch",
         .script = scriptOf({colorStep({colorPoint(10, 10, 255, 0, 0)}, true, 5000, 200), clickStep(1, 1)}),
         .log = {kStart2, "✘ 颜色判断未通过 ×#FF0000→#FFFFFF", "⏹ 已手动停止"},
         .events = Lines{}, .endMs = 350, .grabs = 2, .arrange = [&] { pressAt(350); }},
    });
}

TEST_F(Checks, Branches) {
    Script jumps = scriptOf({marker(1), passing({}), marker(2), marker(3)});
    const auto jumpTo = [&](std::optional<Uuid> target) {
        BranchTarget jump = branchOf(BranchKind::jump);
        jump.targetStepID = target;
        jumps.steps[1].onSuccess = jump;
        return jumps;
    };
    const std::string pass = "✔︎ 颜色判断通过 √#FFFFFF→#FFFFFF", unset = "⚠️ 未选择跳转目标步骤，继续执行下一步";
    Script gotos = scriptOf({Step(StepKind::goTo), marker(1), marker(2), marker(3), Step(StepKind::goTo), marker(4)});
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
        click.clickX = 50.4, click.clickY = 59.6, click.clickButton = MouseButton::right, click.clickCount = count;
        click.afterAction = AfterAction::stop;
        return scriptOf({passing(click), marker(1)});
    };
    const Lines once{"0ms button right down (50.4,59.6) flags 0x0 click 1", "20ms button right up (50.4,59.6) flags 0x0 click 1"};
    Lines twice = once;
    twice.insert(twice.end(), {"80ms button right down (50.4,59.6) flags 0x0 click 2",
                               "100ms button right up (50.4,59.6) flags 0x0 click 2",
                               "100ms button right down (50.4,59.6) flags 0x0 click 1",
                               "120ms button right up (50.4,59.6) flags 0x0 click 1"});

    expectPlays({
        {.name = "jump to a later step", .script = jumpTo(jumps.steps[3].id), .log = {kStart4, pass, kDone}, .clicks = {{1, 3}}},
        {.name = "jump unset", .script = jumpTo(std::nullopt), .log = {kStart4, pass, unset, kDone}, .clicks = {{1, 2, 3}}},
        {.name = "jump to a deleted step", .script = jumpTo(Uuid::random()),
         .log = {kStart4, pass, "⚠️ 跳转目标步骤已被删除，继续执行下一步", kDone}, .clicks = {{1, 2, 3}}},
        {.name = "goto, and a disabled target is skipped", .script = gotos,
         .log = {"▶︎ 开始执行「测试」，共 6 个步骤，循环 1 次", unset, kDone}, .clicks = {{3, 4}}},
        // The screen turns black at 100 ms; until then the check restarts the script without counting a pass.
        {.name = "restart",
         .script = scriptOf({marker(1), passing(branchOf(BranchKind::restart))}, 2),
         .log = {"▶︎ 开始执行「测试」，共 2 个步骤，循环 2 次", pass, pass, pass, pass, "✘ 颜色判断未通过 ×#FFFFFF→#000000",
                 "—— 第 1 轮结束，重新开始 ——", "✘ 颜色判断未通过 ×#FFFFFF→#000000", kDone},
         .clicks = {{1, 1, 1, 1, 1, 1}}, .cycles = 2,
         .arrange = [&] { sim->clock().atMs(100, [&] { sim->fill({0, 0, 800, 600}, {0, 0, 0, 255}); }); }},
        {.name = "a click count below one clicks once",
         .script = clicking(0), .log = {kStart2, pass, "🖱 分支动作：右键单击 (50, 60)", kStopped}, .events = once},
        {.name = "three clicks are a double and a single",
         .script = clicking(3), .log = {kStart2, pass, "🖱 分支动作：右键双击 (50, 60)", kStopped}, .events = twice},
        {.name = "key with modifiers",
         .script = scriptOf({passing(key)}),
         .log = {kStart1, pass, "⌨️ 分支动作：按键 ⇧⌘S", unset, kDone},
         .events = Lines{"0ms key down 56 flags 0x20000", "8ms key down 55 flags 0x120000", "16ms key down 1 flags 0x120000",
                         "28ms key up 1 flags 0x120000", "28ms key up 55 flags 0x20000", "36ms key up 56 flags 0x0"}},
        {.name = "key unset", .script = noKey, .log = {"▶︎ 开始执行「测试」，共 3 个步骤，循环 1 次", pass, "⚠️ 分支动作没有设置按键，按后续去向继续", kDone},
         .clicks = {{3}}},
    });
}

// A match may click its centre; a region branch clicks a random point of the closed match rectangle of its run.
TEST_F(Checks, Image) {
    Step clicking = failureStops(imageStep()), other = failureStops(imageStep());
    clicking.clickOnMatch = true;
    other.imageTemplate = templateOf(noise(40, 30, 99));
    const auto inRegion = [&](bool high, std::string where, std::string at) {
        Lines events;
        for (std::string e : {"0ms button left down 1", "20ms button left up 1", "80ms button left down 2", "100ms button left up 2"})
            events.push_back(e.insert(e.size() - 2, " " + at + " flags 0x0 click"));
        return Play{.name = where, .script = scriptOf({imageStep(region(2))}),
                    .log = {kStart1, kFound, "🖱 分支动作：左键双击 识别范围随机点 " + where + "，区域 (200, 150) 40×30", kDone},
                    .events = events,
                    .arrange = [this, high] { makeRunner({}, [high](double low, double upper) { return high ? upper : low; }); }};
    };
    expectPlays({
        {.name = "a match clicks its centre",
         .script = scriptOf({clicking}),
         .log = {kStart1, kFound, "   点击匹配位置 (220, 165)", kDone},
         .events = Lines{"0ms button left down (220,165) flags 0x0 click 1", "20ms button left up (220,165) flags 0x0 click 1"}},
        {.name = "not found logs the best score",
         .script = scriptOf({other}), .grabs = 1,
         .then = [&] {
             ASSERT_EQ(log.size(), 3u);
             EXPECT_TRUE(log[1].starts_with("✘ 图像比对失败，最高相似度 ") && log[1].ends_with("%") && log[2] == kStopped) << log[1];
         }},
        inRegion(false, "(200, 150)", "(200,150)"),
        inRegion(true, "(240, 180)", "(240,180)"),
        {.name = "a colour check clicks the last match of its run; the next run has none",
         .script = scriptOf({imageStep(), passing(region()), marker(1)}), .clicks = {{200, 1}},
         .arrange = [this] { makeRunner({}, [](double low, double) { return low; }); },
         .then = [&] {
             play(scriptOf({passing(region())}));
             EXPECT_EQ(log.back(), "✔︎ 全部循环执行完毕");
             EXPECT_EQ(log.end()[-2], "⚠️ 分支动作：本次图像判断没有匹配到区域，按后续去向继续");
         }},
    });
}

}  // namespace
}  // namespace tapforge::test
