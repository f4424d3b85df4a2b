// Stored fields take part in equality, hashing and the file format: change one field at a time
// (awkward values: extremes, escapes, optionals set to zero) and check all three.
#include <gtest/gtest.h>

#include <functional>

#include "model/ScriptJson.h"

namespace tapforge {
namespace {

struct FieldChange {
    const char* field;
    std::function<void(Script&)> change;
};

Uuid fixedId(uint8_t seed) {
    Uuid u = Uuid::random();
    u.bytes[0] = seed;
    return u;
}

ImageTemplate sampleTemplate() {
    ImageTemplate t;
    t.name = "按钮", t.pngBase64 = "iVBORw0KGgo=";
    t.widthPoints = 40, t.heightPoints = 20, t.originX = 100, t.originY = 200, t.pixelScale = 2;
    return t;
}

// A script with one step of each kind to change fields on, plus a template and a colour point.
Script baseScript() {
    Script s;
    for (StepKind kind : allCases<StepKind>()) s.steps.emplace_back(kind);
    s.steps[6].colorPoints.emplace_back();
    s.steps[7].imageTemplate = sampleTemplate();
    s.templates.push_back(sampleTemplate());
    return s;
}

Step& step(Script& s) { return s.steps[6]; }
BranchTarget& branch(Script& s) { return s.steps[6].onFailure; }
ColorPoint& point(Script& s) { return s.steps[6].colorPoints[0]; }
ImageTemplate& stepTemplate(Script& s) { return *s.steps[7].imageTemplate; }

const FieldChange kChanges[] = {
    {"script.name", [](Script& s) { s.name = "另一个"; }},
    {"script.steps.order", [](Script& s) { std::swap(s.steps[0], s.steps[1]); }},
    {"script.templates", [](Script& s) { s.templates.clear(); }},
    {"step.id", [](Script& s) { step(s).id = fixedId(1); }},
    {"step.kind", [](Script& s) { step(s).kind = StepKind::typeText; }},
    {"step.note", [](Script& s) { step(s).note = "说明\n第二行\t\"引号\"\\"; }},
    {"step.delayMs", [](Script& s) { step(s).delayMs = -9223372036854775807 - 1; }},
    {"step.x", [](Script& s) { step(s).x = 0.1 + 0.2; }},
    {"step.y", [](Script& s) { step(s).y = -1e-300; }},
    {"step.mouseButton", [](Script& s) { step(s).mouseButton = MouseButton::center; }},
    {"step.scrollAmount", [](Script& s) { step(s).scrollAmount = 9223372036854775807; }},
    {"step.keyCode", [](Script& s) { step(s).keyCode = 65535; }},
    {"step.keyKind", [](Script& s) { step(s).keyKind = KeyEventKind::up; }},
    {"step.modifiers", [](Script& s) { step(s).modifiers = ModifierSet{1 | 16 | 1024}; }},
    {"step.text", [](Script& s) { step(s).text = "\x01\x1F\x7F emoji \U0001F600 中文"; }},
    {"step.colorPoints", [](Script& s) { step(s).colorPoints.emplace_back(); }},
    {"step.template", [](Script& s) { s.steps[7].imageTemplate.reset(); }},
    {"step.threshold", [](Script& s) { step(s).threshold = 0.855; }},
    {"step.gotoStepID", [](Script& s) { step(s).gotoStepID = s.steps[0].id; }},
    {"step.onSuccess", [](Script& s) { step(s).onSuccess.kind = BranchKind::stop; }},
    {"step.luaFile", [](Script& s) { step(s).luaFile = "/tmp/a b/c.lua"; }},
    {"branch.kind", [](Script& s) { branch(s).kind = BranchKind::clickRegion; }},
    {"branch.targetStepID", [](Script& s) { branch(s).targetStepID = fixedId(2); }},
    {"branch.clickX", [](Script& s) { branch(s).clickX = 1e21; }},
    {"branch.clickY", [](Script& s) { branch(s).clickY = 5e-324; }},
    {"branch.clickButton", [](Script& s) { branch(s).clickButton = MouseButton::right; }},
    {"branch.keyModifiers", [](Script& s) { branch(s).keyModifiers = ModifierSet::option(); }},
    {"branch.afterAction", [](Script& s) { branch(s).afterAction = AfterAction::restart; }},
    {"branch.afterStepID", [](Script& s) { branch(s).afterStepID = fixedId(3); }},
    {"point.id", [](Script& s) { point(s).id = fixedId(4); }},
    {"point.x", [](Script& s) { point(s).x = 1.5; }},
    {"point.red", [](Script& s) { point(s).red = 255; }},
    {"point.enabled", [](Script& s) { point(s).enabled = false; }},
    {"template.name", [](Script& s) { stepTemplate(s).name = ""; }},
    {"template.originX", [](Script& s) { stepTemplate(s).originX = -100; }},
    {"template.pixelScale", [](Script& s) { stepTemplate(s).pixelScale = 1.5; }},
    {"template.pngBase64", [](Script& s) { stepTemplate(s).pngBase64 = "AAAA/+8="; }},
};

class FieldCoverage : public testing::TestWithParam<FieldChange> {};

TEST_P(FieldCoverage, TakesPartInEqualityHashAndFile) {
    const Script base = baseScript();
    Script changed = base;
    GetParam().change(changed);
    ASSERT_NE(changed, base);
    EXPECT_NE(std::hash<Script>{}(changed), std::hash<Script>{}(base));
    for (JsonStyle style : {JsonStyle::pretty, JsonStyle::compact}) {
        const ScriptEncodeResult encoded = encodeScript(changed, style);
        ASSERT_TRUE(encoded) << encoded.error;
        const ScriptDecodeResult decoded = decodeScript(*encoded.json);
        ASSERT_TRUE(decoded) << decoded.error;
        EXPECT_EQ(*decoded.script, changed);
        EXPECT_EQ(std::hash<Script>{}(*decoded.script), std::hash<Script>{}(changed));
    }
}

INSTANTIATE_TEST_SUITE_P(EveryField, FieldCoverage, testing::ValuesIn(kChanges),
                         [](const testing::TestParamInfo<FieldChange>& info) {
                             std::string name = info.param.field;
                             for (char& c : name)
                                 if (c == '.') c = '_';
                             return name;
                         });

TEST(Hashing, EqualValuesHashEqually) {
    Step a(StepKind::delay);
    Step b = a;
    b.x = -0.0;   // equal to 0.0
    ASSERT_EQ(a, b);
    EXPECT_EQ(std::hash<Step>{}(a), std::hash<Step>{}(b));
    // Presence of an optional matters even when its value is the zero value.
    Step c = a;
    c.keyCode = 0;
    EXPECT_NE(std::hash<Step>{}(a), std::hash<Step>{}(c));
}

}  // namespace
}  // namespace tapforge
