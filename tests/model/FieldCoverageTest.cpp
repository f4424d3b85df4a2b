// Stored fields take part in equality, hashing and the file format: change one field at a time
// (awkward values: extremes, escapes, optionals set to zero) and check all three, and that
// writing what was read gives the same bytes.
#include <gtest/gtest.h>

#include <functional>

#include "model/ScriptJson.h"

namespace tapforge {
namespace {

const ImageTemplate kTemplate{"按钮", 40, 20, 100, 200, 2, "iVBORw0KGgo="};

// One step of each kind as the editor creates them, colour points and templates to change.
Script baseScript() {
    Script s;
    s.name = "往返", s.loopCount = -1;
    for (StepKind kind : allCases<StepKind>()) s.steps.push_back(Step::create(kind, GlobalPoint{3.25, -8}));
    s.steps[6].colorPoints.resize(3);
    s.steps[7].imageTemplate = kTemplate;
    s.templates = {kTemplate, ImageTemplate{}};
    return s;
}

Step& step(Script& s) { return s.steps[6]; }
BranchTarget& branch(Script& s) { return s.steps[6].onFailure; }
ColorPoint& point(Script& s) { return s.steps[6].colorPoints[0]; }
ImageTemplate& stepTemplate(Script& s) { return *s.steps[7].imageTemplate; }

// Each change names itself by its statement.
#define CHANGE(...) {#__VA_ARGS__, [](Script& s) { __VA_ARGS__; }}
const std::pair<const char*, std::function<void(Script&)>> kChanges[] = {
    CHANGE(s.name = "另一个"), CHANGE(std::swap(s.steps[0], s.steps[1])), CHANGE(s.templates.clear()),
    CHANGE(step(s).id = Uuid::random()), CHANGE(step(s).kind = StepKind::typeText),
    CHANGE(step(s).note = "说明\n第二行\t\"引号\"\\"), CHANGE(step(s).delayMs = -9223372036854775807 - 1),
    CHANGE(step(s).x = 0.1 + 0.2), CHANGE(step(s).y = -1e-300), CHANGE(step(s).mouseButton = MouseButton::center),
    CHANGE(step(s).scrollAmount = 9223372036854775807), CHANGE(step(s).keyCode = 65535),
    CHANGE(step(s).keyKind = KeyEventKind::up), CHANGE(step(s).modifiers = ModifierSet{1 | 16 | 1024}),
    CHANGE(step(s).text = "\x01\x1F\x7F emoji \U0001F600 中文"), CHANGE(step(s).colorPoints.emplace_back()),
    CHANGE(s.steps[7].imageTemplate.reset()), CHANGE(step(s).threshold = 0.855),
    CHANGE(step(s).gotoStepID = s.steps[0].id), CHANGE(step(s).onSuccess.kind = BranchKind::stop),
    CHANGE(step(s).luaFile = "/tmp/a b/c.lua"), CHANGE(branch(s).kind = BranchKind::clickRegion),
    CHANGE(branch(s).targetStepID = Uuid::random()), CHANGE(branch(s).clickX = 1e21), CHANGE(branch(s).clickY = 5e-324),
    CHANGE(branch(s).clickButton = MouseButton::right), CHANGE(branch(s).keyModifiers = ModifierSet::option()),
    CHANGE(branch(s).afterAction = AfterAction::restart), CHANGE(branch(s).afterStepID = Uuid::random()),
    CHANGE(point(s).id = Uuid::random()), CHANGE(point(s).x = 1.5), CHANGE(point(s).red = 255), CHANGE(point(s).enabled = false),
    CHANGE(stepTemplate(s).name = ""), CHANGE(stepTemplate(s).originX = -100), CHANGE(stepTemplate(s).pixelScale = 1.5),
    CHANGE(stepTemplate(s).pngBase64 = "AAAA/+8="),
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
            EXPECT_EQ(*decoded.script, changed);
            EXPECT_EQ(std::hash<Script>{}(*decoded.script), std::hash<Script>{}(changed));
            EXPECT_EQ(encodeScript(*decoded.script, style).json, encoded.json);
        }
    }
}

TEST(FieldCoverage, EqualValuesHashEquallyAndAPresentZeroIsNotAbsent) {
    Step a(StepKind::delay);
    Step b = a, c = a;
    b.x = -0.0;   // equal to 0.0
    ASSERT_EQ(a, b);
    EXPECT_EQ(std::hash<Step>{}(a), std::hash<Step>{}(b));
    c.keyCode = 0;
    EXPECT_NE(std::hash<Step>{}(a), std::hash<Step>{}(c));
}

}  // namespace
}  // namespace tapforge
