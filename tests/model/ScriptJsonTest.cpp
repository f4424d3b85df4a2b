// Reading and writing script files: defaults, the tolerant step kind, strict types, the
// writer's form, and the limits against hostile files.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/ScriptJson.h"

namespace tapforge {
namespace {

Script decodeOk(std::string_view json) {
    ScriptDecodeResult r = decodeScript(json);
    EXPECT_TRUE(r) << r.error;
    return r ? *r.script : Script{};
}

std::string encodeOk(const Script& s, JsonStyle style = JsonStyle::pretty) {
    ScriptEncodeResult r = encodeScript(s, style);
    EXPECT_TRUE(r) << r.error;
    return r ? *r.json : std::string{};
}

std::string withStep(const std::string& stepBody) { return R"({"steps":[)" + stepBody + "]}"; }

TEST(ScriptDecode, NullMeansMissingForStepsBranchesAndDocument) {
    const Script s = decodeOk(R"({"name":null,"steps":[{"kind":"lua","id":null,"delayMs":null,"template":null,
        "keyCode":null,"onSuccess":{"kind":null,"clickCount":null,"targetStepID":null},"onFailure":null,
        "colorPoints":null,"timeoutMs":null}],"loopCount":null,"templates":null})");
    EXPECT_EQ(s.name, "未命名脚本");
    ASSERT_EQ(s.steps.size(), 1u);
    Step expected(StepKind::lua);
    expected.id = s.steps[0].id;
    EXPECT_EQ(s.steps[0], expected);   // a decoded Lua step keeps the 5000 ms default
    EXPECT_EQ(s.steps[0].timeoutMs, 5000);
}

TEST(ScriptDecode, StepWithoutIdGetsAFreshOneEachLoad) {
    const std::string json = withStep(R"({"kind":"delay"})");
    EXPECT_NE(decodeOk(json).steps[0].id, decodeOk(json).steps[0].id);
}

TEST(ScriptDecode, UuidsReadInEitherCaseAndWriteUpperCase) {
    const Script s = decodeOk(withStep(R"({"kind":"goto","id":"0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d",
        "gotoStepID":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"})"));
    EXPECT_EQ(s.steps[0].id, *s.steps[0].gotoStepID);
    EXPECT_NE(encodeOk(s).find("\"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D\""), std::string::npos);
}

TEST(ScriptDecode, UnknownKindLoadsAsACommentThatSaysWhatItWas) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"kind":"swipe","note":"测试"})", "测试（原「swipe」步骤已不再支持）"},
        {R"({"note":"先写","kind":"swipe","delayMs":1})", "先写（原「swipe」步骤已不再支持）"},
        {R"({"kind":"Delay","note":null})", "原「Delay」步骤已不再支持"},
        {R"({"kind":""})", "原「」步骤已不再支持"}};
    for (const auto& [json, note] : cases) {
        SCOPED_TRACE(json);
        const Script s = decodeOk(withStep(json));
        ASSERT_EQ(s.steps.size(), 1u);
        EXPECT_EQ(s.steps[0].kind, StepKind::comment);
        EXPECT_EQ(s.steps[0].note, note);
    }
    EXPECT_FALSE(decodeScript(withStep(R"({"kind":"swipe","mouseButton":"middle"})")));   // other keys still checked
}

TEST(ScriptDecode, UnknownKeysAreIgnoredAtEveryLevel) {
    const Script s = decodeOk(R"({"version":3,"extra":{"deep":[1,2]},"steps":[{"kind":"colorCheck","future":true,
        "colorPoints":[{"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","x":1,"y":2,"red":3,"green":4,"blue":5,
        "tolerance":6,"enabled":false,"alpha":9}],"onSuccess":{"kind":"stop","speed":2}}],
        "templates":[{"name":"a","widthPoints":1,"heightPoints":2,"originX":3,"originY":4,"pixelScale":2,
        "pngBase64":"","hash":"x"}]})");
    ASSERT_EQ(s.steps[0].colorPoints.size(), 1u);
    EXPECT_EQ(s.steps[0].colorPoints[0].blue, 5);
    EXPECT_FALSE(s.steps[0].colorPoints[0].enabled);
    EXPECT_EQ(s.steps[0].onSuccess.kind, BranchKind::stop);
    EXPECT_EQ(s.templates.at(0).pixelScale, 2);
}

TEST(ScriptDecode, KeysInAnyOrderAndTheLastDuplicateWins) {
    const Script s = decodeOk(R"({"templates":[],"steps":[{"luaFile":"a.lua","onFailure":{"afterAction":"stop","kind":"click"},
        "kind":"swipe","template":{"pngBase64":"","pixelScale":1,"originY":0,"originX":0,"heightPoints":1,"widthPoints":1,
        "name":"t"},"kind":"lua","template":null,"delayMs":1,"delayMs":null}],"name":"n"})");
    ASSERT_EQ(s.steps.size(), 1u);
    const Step& step = s.steps[0];
    EXPECT_EQ(step.kind, StepKind::lua);
    EXPECT_EQ(step.note, "");
    EXPECT_EQ(step.luaFile, "a.lua");
    EXPECT_EQ(step.onFailure.kind, BranchKind::click);
    EXPECT_EQ(step.onFailure.afterAction, AfterAction::stop);
    EXPECT_FALSE(step.imageTemplate);
    EXPECT_EQ(step.delayMs, 500);
    EXPECT_EQ(s.name, "n");
}

TEST(ScriptDecode, AcceptsByteOrderMarkAndSurroundingWhitespace) {
    EXPECT_EQ(decodeOk("\xEF\xBB\xBF  {\"name\":\"x\"}\n\n").name, "x");
}

// Each case: a document that must be refused whole, and words the message must contain so
// that the user can find the fault.
struct FailureCase {
    const char* name;
    std::string json;
    std::vector<std::string> messageParts;
};

class RefusedDocument : public testing::TestWithParam<FailureCase> {};

TEST_P(RefusedDocument, FailsWholeWithAMessageNamingThePlace) {
    const ScriptDecodeResult r = decodeScript(GetParam().json);
    ASSERT_FALSE(r);
    EXPECT_FALSE(r.script);
    for (const std::string& part : GetParam().messageParts) EXPECT_NE(r.error.find(part), std::string::npos) << r.error;
}

const std::string kPoint = R"("id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","x":1,"y":2,"red":3,"green":4,"blue":5,"tolerance":6,"enabled":true)";
const std::string kTemplate = R"("name":"a","widthPoints":1,"heightPoints":2,"originX":3,"originY":4,"pixelScale":1,"pngBase64":"")";

// `body` without the key `key` (keys in kPoint / kTemplate are unique).
std::string without(std::string body, const std::string& key) {
    const size_t start = body.find("\"" + key + "\":");
    size_t end = body.find(',', start);
    if (end == std::string::npos) {
        body.erase(start - 1);   // last key: drop the comma before it
    } else {
        body.erase(start, end - start + 1);
    }
    return body;
}

std::vector<FailureCase> failureCases() {
    std::vector<FailureCase> cases = {
        {"invalidJson", R"({"steps":[)", {"JSON", "第 1 行"}},
        {"syntaxErrorLine", "{\n\"name\":\"a\",\n  oops\n}", {"第 3 行"}},
        {"trailingGarbage", "{} x", {"JSON"}},
        {"emptyFile", "", {"空"}},
        {"topLevelArray", "[]", {"对象"}},
        {"nameNumber", R"({"name":5})", {"\"name\"", "字符串"}},
        {"stepNotObject", R"({"steps":[{"kind":"delay"},3]})", {"第 2 步", "对象"}},
        {"missingKind", withStep(R"({"kind":"delay"},{"note":"x"})"), {"第 2 步", "\"kind\""}},
        {"nullKind", withStep(R"({"kind":null})"), {"第 1 步", "\"kind\""}},
        {"unknownButton", withStep(R"({"kind":"delay"},{"kind":"delay"},{"kind":"mouseClick","mouseButton":"middle"})"),
         {"第 3 步", "\"mouseButton\"", "middle", "left"}},
        {"enumCaseSensitive", withStep(R"({"kind":"colorCheck","colorMode":"ALL"})"), {"\"colorMode\""}},
        {"unknownBranchKind", withStep(R"({"kind":"lua","onFailure":{"kind":"retry"}})"),
         {"第 1 步", "\"onFailure\"", "\"kind\"", "retry"}},
        {"enabledNumber", withStep(R"({"kind":"delay","enabled":1})"), {"\"enabled\""}},
        {"xString", withStep(R"({"kind":"mouseMove","x":"1"})"), {"\"x\"", "数字"}},
        {"delayFraction", withStep(R"({"kind":"delay","delayMs":3.5})"), {"\"delayMs\"", "整数"}},
        {"delayAboveInt64", withStep(R"({"kind":"delay","delayMs":9223372036854775808})"), {"\"delayMs\"", "范围"}},
        {"delayHugeFloat", withStep(R"({"kind":"delay","delayMs":1e30})"), {"\"delayMs\"", "范围"}},
        {"keyCodeNegative", withStep(R"({"kind":"keyPress","keyCode":-1})"), {"\"keyCode\"", "0…65535"}},
        {"keyCodeTooLarge", withStep(R"({"kind":"keyPress","keyCode":65536})"), {"\"keyCode\"", "0…65535"}},
        {"branchKeyCodeTooLarge", withStep(R"({"kind":"lua","onFailure":{"keyCode":70000}})"),
         {"\"onFailure\"", "\"keyCode\""}},
        {"badUuid", withStep(R"({"kind":"delay","id":"not-a-uuid"})"), {"\"id\"", "UUID"}},
        {"badTargetUuid", withStep(R"({"kind":"lua","onSuccess":{"kind":"jump","targetStepID":"0A1B2C3D"}})"),
         {"\"targetStepID\""}},
        {"colorPointNotObject", withStep(R"({"kind":"colorCheck","colorPoints":[[]]})"), {"第 1 个颜色点", "对象"}},
        {"colorPointNullKey",
         withStep(R"({"kind":"colorCheck","colorPoints":[{)" + kPoint + R"(},{)" + without(kPoint, "red") + R"(,"red":null}]})"),
         {"第 2 个颜色点", "\"red\""}},
        {"nanLiteral", withStep(R"({"kind":"mouseMove","x":NaN})"), {"JSON"}},
        {"numberOverflow", withStep(R"({"kind":"mouseMove","x":1e400})"), {"范围"}},
        {"invalidUtf8", "{\"name\":\"\xFF\"}", {"JSON"}},
        {"loneSurrogateEscape", R"({"name":"\ud800"})", {"JSON"}},
        {"controlCharInString", "{\"name\":\"a\x01\"}", {"JSON"}},
    };
    // Every colour point key and every template key is required.
    for (const char* key : {"id", "x", "y", "red", "green", "blue", "tolerance", "enabled"})
        cases.push_back({"pointMissing", withStep(R"({"kind":"colorCheck","colorPoints":[{)" + without(kPoint, key) + "}]}"),
                         {"第 1 步的第 1 个颜色点", std::string("\"") + key + "\""}});
    for (const char* key : {"name", "widthPoints", "heightPoints", "originX", "originY", "pixelScale", "pngBase64"}) {
        cases.push_back({"stepTemplateMissing", withStep(R"({"kind":"imageCheck","template":{)" + without(kTemplate, key) + "}}"),
                         {"第 1 步的 \"template\"", std::string("\"") + key + "\""}});
        cases.push_back({"libraryTemplateMissing",
                         R"({"templates":[{)" + kTemplate + "},{" + without(kTemplate, key) + "}]}",
                         {"第 2 个模板", std::string("\"") + key + "\""}});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryRule, RefusedDocument, testing::ValuesIn(failureCases()),
                         [](const testing::TestParamInfo<FailureCase>& info) {
                             return std::string(info.param.name) + "_" + std::to_string(info.index);
                         });

TEST(ScriptDecode, WholeNumbersInAnyFormAreAcceptedForIntegerFields) {
    const std::pair<const char*, int64_t> cases[] = {
        {"-0", 0}, {"3.0", 3}, {"1e3", 1000}, {"-2.5e1", -25}, {"9007199254740992.0", 9007199254740992},
        {"9223372036854775807", std::numeric_limits<int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<int64_t>::min()}};
    for (const auto& [literal, expected] : cases)
        EXPECT_EQ(decodeOk(withStep(std::string(R"({"kind":"delay","delayMs":)") + literal + "}")).steps.at(0).delayMs,
                  expected) << literal;
}

TEST(ScriptDecode, NestingLimitCountsBracketsOutsideStrings) {
    const auto nested = [](int depth) {
        return R"({"extra":)" + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
    };
    EXPECT_TRUE(decodeScript(nested(kMaxScriptNestingDepth)));
    const ScriptDecodeResult deep = decodeScript(nested(kMaxScriptNestingDepth + 1));
    ASSERT_FALSE(deep);
    EXPECT_NE(deep.error.find("128"), std::string::npos) << deep.error;
    // Far deeper than any stack could copy or print recursively.
    EXPECT_FALSE(decodeScript(std::string(1'000'000, '[')));
    // Brackets inside strings, also after escaped quotes, are text.
    const std::string brackets(5000, '[');
    EXPECT_EQ(decodeOk(R"({"name":"\")" + brackets + R"(\\"})").name, "\"" + brackets + "\\");
}

TEST(ScriptDecode, RefusesDocumentsOverTheSizeLimit) {
    std::string big = R"({"name":")" + std::string(kMaxScriptDocumentBytes, 'a') + R"("})";
    const ScriptDecodeResult r = decodeScript(big);
    ASSERT_FALSE(r);
    EXPECT_NE(r.error.find("64 MiB"), std::string::npos) << r.error;
    // At the limit the size is accepted and the parser decides (here: a syntax error).
    big.assign(kMaxScriptDocumentBytes, ' ');
    big[0] = 'x';
    const ScriptDecodeResult atLimit = decodeScript(big);
    ASSERT_FALSE(atLimit);
    EXPECT_EQ(atLimit.error.find("64 MiB"), std::string::npos) << atLimit.error;
    EXPECT_NE(atLimit.error.find("JSON"), std::string::npos) << atLimit.error;
}

TEST(ScriptEncode, DoublesTakeTheirShortestExactForm) {
    Script s;
    Step& step = s.steps.emplace_back(StepKind::imageCheck);
    step.threshold = 0.9;
    step.searchMargin = 60;
    step.x = 512.5;
    step.y = 0.1 + 0.2;
    const std::string json = encodeOk(s, JsonStyle::compact);
    EXPECT_NE(json.find(R"("threshold":0.9,)"), std::string::npos) << json;
    EXPECT_NE(json.find(R"("searchMargin":60,)"), std::string::npos);
    EXPECT_NE(json.find(R"("x":512.5,)"), std::string::npos);
    EXPECT_NE(json.find(R"("y":0.30000000000000004,)"), std::string::npos);
    EXPECT_EQ(decodeOk(json).steps[0].y, 0.1 + 0.2);
    // Negative zero keeps its sign, so writing what was read gives the same bytes.
    step.x = -0.0;
    const std::string negativeZero = encodeOk(s, JsonStyle::compact);
    EXPECT_NE(negativeZero.find(R"("x":-0.0,)"), std::string::npos) << negativeZero;
    EXPECT_TRUE(std::signbit(decodeOk(negativeZero).steps[0].x));
    EXPECT_EQ(encodeOk(decodeOk(negativeZero), JsonStyle::compact), negativeZero);
}

TEST(ScriptEncode, NonFiniteNumbersFailNamingTheField) {
    const double bad[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity()};
    for (double value : bad) {
        Script s;
        s.steps.emplace_back(StepKind::delay);
        s.steps.emplace_back(StepKind::lua).onFailure.clickY = value;
        ScriptEncodeResult r = encodeScript(s, JsonStyle::compact);
        ASSERT_FALSE(r);
        EXPECT_NE(r.error.find("第 2 步"), std::string::npos) << r.error;
        EXPECT_NE(r.error.find("\"clickY\""), std::string::npos) << r.error;
        Script t;
        t.templates.emplace_back().pixelScale = value;
        r = encodeScript(t);
        ASSERT_FALSE(r);
        EXPECT_NE(r.error.find("\"pixelScale\""), std::string::npos) << r.error;
        Script p;
        p.steps.emplace_back(StepKind::colorCheck).colorPoints.emplace_back().x = value;
        EXPECT_FALSE(encodeScript(p));
    }
}

TEST(ScriptEncode, InvalidUtf8InMemoryStillWritesALoadableFile) {
    Script s;
    s.name = std::string("ok\xC3") + "\xFF" + "中" + "\xE4\xB8";   // truncated and stray bytes
    s.steps.emplace_back(StepKind::typeText).text = "\xED\xA0\x80";   // encoded surrogate
    const Script back = decodeOk(encodeOk(s));
    EXPECT_EQ(back.name, "ok\uFFFD\uFFFD中\uFFFD\uFFFD");
    EXPECT_EQ(back.steps[0].text, "\uFFFD\uFFFD\uFFFD");
}

TEST(ScriptEncode, WriteReadWriteIsStable) {
    Script s;
    s.name = "往返";
    s.loopCount = -1;
    for (StepKind kind : allCases<StepKind>()) s.steps.push_back(Step::create(kind, GlobalPoint{3.25, -8}));
    s.steps[6].colorPoints.resize(3);
    s.steps[7].imageTemplate = ImageTemplate{};
    for (JsonStyle style : {JsonStyle::pretty, JsonStyle::compact}) {
        const std::string once = encodeOk(s, style);
        const Script back = decodeOk(once);
        EXPECT_EQ(back, s);
        EXPECT_EQ(encodeOk(back, style), once);
    }
}

}  // namespace
}  // namespace tapforge
