// Every stored field takes part in equality, hashing and the file format; rewriting gives the same bytes.
#include <gtest/gtest.h>

#include <functional>

#include "model/ScriptJson.h"

namespace tapforge {
namespace {

const ImageTemplate kTemplate{"按钮", 40, 20, 100, 200, 2, "iVBORw0KGgo="};

Script baseScript() {
    Script s;
    s.name = "往返", s.loopCount = -1;
    for (StepKind kind : allCases<StepKind>()) s.steps.push_back(Step::create(kind, GlobalPoint{3.25, -8}));
    s.steps[6].colorPoints.resize(3);
    s.steps[7].imageTemplate = kTemplate;
    s.templates = {kTemplate, ImageTemplate{}};
    return s;
}

// Each change names itself by its statement.
#define CHANGE(...) {#__VA_ARGS__, [](Script& s) { [[maybe_unused]] Step& step = s.steps[6]; \
    [[maybe_unused]] BranchTarget& branch = step.onFailure; __VA_ARGS__; }}
const std::pair<const char*, std::function<void(Script&)>> kChanges[] = {
    CHANGE(s.name = "另一个"), CHANGE(std::swap(s.steps[0], s.steps[1])), CHANGE(s.templates.clear()), CHANGE(step.id = Uuid::random()),
    CHANGE(step.kind = StepKind::typeText), CHANGE(step.note = "说明\n第二行\t\"引号\"\\"), CHANGE(step.delayMs = -9223372036854775807 - 1),
    CHANGE(step.x = 0.1 + 0.2), CHANGE(step.y = -1e-300), CHANGE(step.mouseButton = MouseButton::center),
    CHANGE(step.scrollAmount = 9223372036854775807), CHANGE(step.keyCode = 65535), CHANGE(step.keyKind = KeyEventKind::up),
    CHANGE(step.modifiers = ModifierSet{1 | 16 | 1024}), CHANGE(step.text = "\x01\x1F\x7F emoji \U0001F600 中文"),
    CHANGE(step.colorPoints.emplace_back()), CHANGE(s.steps[7].imageTemplate.reset()), CHANGE(step.threshold = 0.855),
    CHANGE(step.gotoStepID = s.steps[0].id), CHANGE(step.onSuccess.kind = BranchKind::stop), CHANGE(step.luaFile = "/tmp/a b/c.lua"),
    CHANGE(branch.kind = BranchKind::clickRegion), CHANGE(branch.targetStepID = Uuid::random()), CHANGE(branch.clickX = 1e21),
    CHANGE(branch.clickY = 5e-324), CHANGE(branch.clickButton = MouseButton::right), CHANGE(branch.keyModifiers = ModifierSet::option()),
    CHANGE(branch.afterAction = AfterAction::restart), CHANGE(branch.afterStepID = Uuid::random()),
    CHANGE(step.colorPoints[0].id = Uuid::random()), CHANGE(step.colorPoints[0].x = 1.5), CHANGE(step.colorPoints[0].red = 255),
    CHANGE(step.colorPoints[0].enabled = false), CHANGE(s.steps[7].imageTemplate->name = ""), CHANGE(s.steps[7].imageTemplate->originX = -100),
    CHANGE(s.steps[7].imageTemplate->pixelScale = 1.5), CHANGE(s.steps[7].imageTemplate->pngBase64 = "AAAA/+8="),
};
#undef CHANGE

TEST(FieldCoverage, EveryFieldTakesPartInEqualityHashAndFile) {
    const Script base = baseScript();
    for (const auto& [field, change] : kChanges) {
        SCOPED_TRACE(field);
        Script changed = base;
        change(changed);
        ASSERT_NE(changed, base);
        EXPECT_NE(std::hash<Script>{}(changed), std::hash<Script>{}(base));
        for (JsonStyle style : {JsonStyle::pretty, JsonStyle::compact}) {
            const ScriptEncodeResult encoded = encodeScript(changed, style);
            ASSERT_TRUE(encoded) << encoded.error;
            const ScriptDecodeResult decoded = decodeScript(*encoded.json);
            ASSERT_TRUE(decoded) << decoded.error;
            EXPECT_TRUE(*decoded.script == changed && std::hash<Script>{}(*decoded.script) == std::hash<Script>{}(changed));
            EXPECT_EQ(encodeScript(*decoded.script, style).json, encoded.json);
        }
    }
}

TEST(FieldCoverage, EqualValuesHashEquallyAndAPresentZeroIsNotAbsent) {
    Step a(StepKind::delay), b = a, c = a;
    b.x = -0.0, c.keyCode = 0;   // -0.0 equals 0.0
    ASSERT_EQ(a, b);
    EXPECT_EQ(std::hash<Step>{}(a), std::hash<Step>{}(b));
    EXPECT_NE(std::hash<Step>{}(a), std::hash<Step>{}(c));
}

}  // namespace
}  // namespace tapforge
