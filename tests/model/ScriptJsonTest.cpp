// Reading and writing script files: tolerant and strict reading, limits, the writer's form.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <regex>

#include "model/ScriptJson.h"

namespace tapforge {
namespace {

Script decodeOk(std::string_view json) { ScriptDecodeResult r = decodeScript(json); EXPECT_TRUE(r) << r.error; return r ? *r.script : Script{}; }

std::string encodeOk(const Script& s, JsonStyle style = JsonStyle::pretty) {
    ScriptEncodeResult r = encodeScript(s, style);
    EXPECT_TRUE(r) << r.error;
    return r ? *r.json : std::string{};
}

std::string withStep(const std::string& steps, const std::string& templates = "") {
    return R"({"steps":[)" + steps + R"(],"templates":[)" + templates + "]}";
}
std::string repeated(const std::string& item, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) out.append(i ? "," : "").append(item);
    return out;
}

// Complete colour point and template bodies; the trailing unknown key lets `without` cut any key.
const std::string kPoint = R"("id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","x":1,"y":2,"red":3,"green":4,"blue":5,"tolerance":6,"enabled":true,"z":0)";
const std::string kTemplate = R"("name":"a","widthPoints":1,"heightPoints":2,"originX":3,"originY":4,"pixelScale":1,"pngBase64":"","z":0)";
std::string without(const std::string& body, const std::string& key) {
    return std::regex_replace(body, std::regex('"' + key + "\":[^,]*,"), "");
}

// Each pair reads as the same script (step ids aside: a step without one gets a fresh one each load).
TEST(ScriptDecode, TolerantFormsReadAsTheirPlainEquivalent) {
    const std::pair<std::string, std::string> cases[] = {
        {R"({"name":null,"steps":[{"kind":"lua","id":null,"delayMs":null,"template":null,"keyCode":null,
            "onSuccess":{"kind":null,"clickCount":null,"targetStepID":null},"onFailure":null,"colorPoints":null,
            "timeoutMs":null}],"loopCount":null,"templates":null})",
         withStep(R"({"kind":"lua","timeoutMs":5000})")},   // null is a missing key; a read Lua step keeps 5000 ms
        {R"({"version":3,"extra":{"deep":[1,2]},"steps":[{"kind":"colorCheck","future":true,"colorPoints":[{)" + kPoint +
             R"(,"alpha":9}],"onSuccess":{"kind":"stop","speed":2}}],"templates":[{)" + kTemplate + R"(,"hash":"x"}]})",
         withStep(R"({"kind":"colorCheck","colorPoints":[{)" + kPoint + R"(}],"onSuccess":{"kind":"stop"}})", "{" + kTemplate + "}")},   // unknown keys ignored
        {R"({"templates":[],"steps":[{"luaFile":"a.lua","onFailure":{"afterAction":"stop","kind":"click"},"kind":"swipe",
            "template":{)" + kTemplate + R"(},"kind":"lua","template":null,"delayMs":1,"delayMs":null}],"name":"n"})",
         R"({"name":"n","steps":[{"kind":"lua","luaFile":"a.lua","onFailure":{"kind":"click","afterAction":"stop"}}]})"},   // any order, last duplicate wins
        {"\xEF\xBB\xBF  {\"name\":\"x\"}\n\n", R"({"name":"x"})"},
        {withStep(R"({"kind":"swipe","note":"测试"},{"note":"先写","kind":"swipe","delayMs":1},{"kind":"Delay","note":null},
            {"kind":""},{"kind":"goto","gotoStepID":"0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"})"),
         withStep(R"({"kind":"comment","note":"测试（原「swipe」步骤已不再支持）"},
            {"kind":"comment","note":"先写（原「swipe」步骤已不再支持）","delayMs":1},{"kind":"comment","note":"原「Delay」步骤已不再支持"},
            {"kind":"comment","note":"原「」步骤已不再支持"},{"kind":"goto","gotoStepID":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"})")},   // unknown kinds as comments; UUIDs in either case
        {withStep(R"({"kind":"delay","delayMs":-0},{"kind":"delay","delayMs":3.0},{"kind":"delay","delayMs":1e3},
            {"kind":"delay","delayMs":-2.5e1},{"kind":"delay","delayMs":9007199254740992.0})"),
         withStep(R"({"kind":"delay","delayMs":0},{"kind":"delay","delayMs":3},{"kind":"delay","delayMs":1000},
            {"kind":"delay","delayMs":-25},{"kind":"delay","delayMs":9007199254740992})")},   // whole numbers in any form
    };
    for (const auto& [tolerant, plain] : cases) {
        SCOPED_TRACE(tolerant);
        Script a = decodeOk(tolerant), b = decodeOk(plain);
        ASSERT_EQ(a.steps.size(), b.steps.size());
        for (size_t i = 0; i < a.steps.size(); ++i) b.steps[i].id = a.steps[i].id;
        EXPECT_EQ(encodeOk(a, JsonStyle::compact), encodeOk(b, JsonStyle::compact));   // every field is written
    }
    const std::string delay = withStep(R"({"kind":"delay"})");
    EXPECT_NE(decodeOk(delay).steps[0].id, decodeOk(delay).steps[0].id);
    const Script ids = decodeOk(withStep(R"({"kind":"goto","id":"0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d",
        "gotoStepID":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"})"));
    EXPECT_TRUE(ids.steps[0].id == *ids.steps[0].gotoStepID && encodeOk(ids).find("\"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D\"") != std::string::npos);
    const Script extremes = decodeOk(withStep(R"({"kind":"delay","delayMs":9223372036854775807},{"kind":"delay","delayMs":-9223372036854775808})"));
    EXPECT_TRUE(extremes.steps[0].delayMs == INT64_MAX && extremes.steps[1].delayMs == INT64_MIN);
    const std::string brackets(5000, '[');   // brackets in strings, also after escaped quotes, are text
    EXPECT_EQ(decodeOk(R"({"name":"\")" + brackets + R"(\\"})").name, "\"" + brackets + "\\");
}

// A document refused whole, and words its message must hold for the user to find the fault.
TEST(ScriptDecode, RefusesWholeNamingThePlace) {
    std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {R"({"steps":[)", {"JSON", "第 1 行"}}, {"{\n\"name\":\"a\",\n  oops\n}", {"第 3 行"}}, {"{} x", {"JSON"}},
        {"", {"空"}}, {"[]", {"对象"}}, {R"({"name":5})", {"\"name\"", "字符串"}}, {R"({"steps":[{"kind":"delay"},3]})", {"第 2 步", "对象"}},
        {withStep(R"({"kind":"delay"},{"note":"x"})"), {"第 2 步", "\"kind\""}}, {withStep(R"({"kind":null})"), {"第 1 步", "\"kind\""}},
        {withStep(R"({"kind":"delay"},{"kind":"delay"},{"kind":"mouseClick","mouseButton":"middle"})"), {"第 3 步", "\"mouseButton\"", "middle", "left"}},
        {withStep(R"({"kind":"swipe","mouseButton":"middle"})"), {"\"mouseButton\""}}, {withStep(R"({"kind":"colorCheck","colorMode":"ALL"})"), {"\"colorMode\""}},
        {withStep(R"({"kind":"lua","onFailure":{"kind":"retry"}})"), {"第 1 步", "\"onFailure\"", "\"kind\"", "retry"}},
        {withStep(R"({"kind":"delay","enabled":1})"), {"\"enabled\""}}, {withStep(R"({"kind":"mouseMove","x":"1"})"), {"\"x\"", "数字"}},
        {withStep(R"({"kind":"delay","delayMs":3.5})"), {"\"delayMs\"", "整数"}}, {withStep(R"({"kind":"delay","delayMs":1e30})"), {"\"delayMs\"", "范围"}},
        {withStep(R"({"kind":"delay","delayMs":9223372036854775808})"), {"\"delayMs\"", "范围"}},
        {withStep(R"({"kind":"keyPress","keyCode":-1})"), {"\"keyCode\"", "0…65535"}}, {withStep(R"({"kind":"keyPress","keyCode":65536})"), {"0…65535"}},
        {withStep(R"({"kind":"lua","onFailure":{"keyCode":70000}})"), {"\"onFailure\"", "\"keyCode\""}},
        {withStep(R"({"kind":"delay","id":"not-a-uuid"})"), {"\"id\"", "UUID"}}, {withStep(R"({"kind":"colorCheck","colorPoints":[[]]})"), {"第 1 个颜色点", "对象"}},
        {withStep(R"({"kind":"lua","onSuccess":{"kind":"jump","targetStepID":"0A1B2C3D"}})"), {"\"targetStepID\""}},
        {withStep(R"({"kind":"colorCheck","colorPoints":[{)" + kPoint + "},{" + without(kPoint, "red") + R"(,"red":null}]})"),
         {"第 2 个颜色点", "\"red\""}},
        {withStep(R"({"kind":"mouseMove","x":NaN})"), {"JSON"}}, {withStep(R"({"kind":"mouseMove","x":1e400})"), {"范围"}}, {"{\"name\":\"\xFF\"}", {"JSON"}},
        {R"({"name":"\ud800"})", {"JSON"}}, {"{\"name\":\"a\x01\"}", {"JSON"}}, {std::string(1'000'000, '['), {}},   // deeper than any stack
        {R"({"name":")" + std::string(kMaxScriptDocumentBytes, 'a') + R"("})", {"64 MiB"}},
    };
    for (const char* key : {"id", "x", "y", "red", "green", "blue", "tolerance", "enabled"})
        cases.push_back({withStep(R"({"kind":"colorCheck","colorPoints":[{)" + without(kPoint, key) + "}]}"),
                         {"第 1 步的第 1 个颜色点", std::string("\"") + key + "\""}});
    for (const char* key : {"name", "widthPoints", "heightPoints", "originX", "originY", "pixelScale", "pngBase64"}) {
        cases.push_back({withStep(R"({"kind":"imageCheck","template":{)" + without(kTemplate, key) + "}}"),
                         {"第 1 步的 \"template\"", std::string("\"") + key + "\""}});
        cases.push_back({withStep("", "{" + kTemplate + "},{" + without(kTemplate, key) + "}"),
                         {"第 2 个模板", std::string("\"") + key + "\""}});
    }
    for (const auto& [json, parts] : cases) {
        SCOPED_TRACE(json.substr(0, 200));
        const ScriptDecodeResult r = decodeScript(json);
        ASSERT_FALSE(r);
        for (const std::string& part : parts) EXPECT_NE(r.error.find(part), std::string::npos) << r.error;
    }
    // At the size limit the size is accepted and the parser decides (here: a syntax error).
    const std::string error = decodeScript("x" + std::string(kMaxScriptDocumentBytes - 1, ' ')).error;
    EXPECT_TRUE(error.find("64 MiB") == std::string::npos && error.find("JSON") != std::string::npos) << error;
}

std::string base64(const std::string& bytes) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k) v = v << 8 | (i + k < bytes.size() ? uint8_t(bytes[i + k]) : 0u);
        for (size_t k = 0, n = std::min<size_t>(3, bytes.size() - i); k < 4; ++k)
            out += k <= n ? "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[(v >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

// Base64 of a PNG that is only a header declaring width × height; `tag` makes the data distinct.
std::string pngHeader(uint32_t width, uint32_t height, int tag = 0) {
    std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
    for (uint32_t v : {width, height}) for (int shift = 24; shift >= 0; shift -= 8) png += char(v >> shift);
    return base64(png + std::string("\x08\x06\0\0\0", 5) + std::to_string(tag));
}
std::string templateJson(uint32_t width, uint32_t height, int tag = 0) {
    return R"({"name":"t","widthPoints":1,"heightPoints":1,"originX":0,"originY":0,"pixelScale":1,"pngBase64":")" +
           pngHeader(width, height, tag) + "\"}";
}

// What one document may hold: at each limit it loads, one more is refused saying where and why.
TEST(ScriptDecode, AtEachLimitLoadsAndOneMoreIsRefused) {
    const auto nested = [](int depth) { return R"({"extra":)" + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}"; };
    const auto points = [](size_t n) { return R"({"kind":"colorCheck","colorPoints":[)" + repeated("{" + kPoint + "}", n) + "]}"; };
    const auto imageStep = [](const std::string& t) { return R"({"kind":"imageCheck","template":)" + t + "}"; };
    const uint32_t side = 4096, tallest = uint32_t(kMaxTemplatePixels / side);   // side × tallest: one template's limit
    std::string fourLargest;   // four distinct images at that limit fill the script's budget
    for (int tag = 0; tag < 4; ++tag) fourLargest += (tag ? "," : "") + templateJson(side, tallest, tag);
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {nested(kMaxScriptNestingDepth), nested(kMaxScriptNestingDepth + 1), "文件的嵌套层数超过 128 层，拒绝读取"},
        {withStep(repeated(R"({"kind":"delay"})", kMaxScriptSteps)), withStep(repeated(R"({"kind":"delay"})", kMaxScriptSteps + 1)),
         "第 100001 步超出上限：一个脚本最多 100000 个步骤"},
        {withStep(points(kMaxScriptColorPoints / 2) + "," + points(kMaxScriptColorPoints / 2)),
         withStep(points(kMaxScriptColorPoints / 2) + "," + points(kMaxScriptColorPoints / 2 + 1)),
         "第 2 步的第 50001 个颜色点超出上限：一个脚本最多 100000 个颜色点"},
        {withStep("", repeated(templateJson(1, 1), kMaxScriptTemplates)), withStep("", repeated(templateJson(1, 1), kMaxScriptTemplates + 1)),
         "第 1001 个模板超出上限：一个脚本最多 1000 个模板"},
        {withStep(imageStep(templateJson(side, tallest))), withStep(imageStep(templateJson(side, tallest + 1))),
         "第 1 步的 \"template\" 的图像为 4096 × 2049 像素，超过单个模板 8388608 像素的上限"},
        // a copy of a library image in a step costs nothing more (it decodes once); a fifth does not fit
        {withStep(imageStep(templateJson(side, tallest, 0)), fourLargest), withStep(imageStep(templateJson(1, 1, 4)), fourLargest),
         "第 1 步的 \"template\" 使脚本的模板图像共达 33554433 像素，超过每个脚本 33554432 像素的上限"},
    };
    for (const auto& [atLimit, overLimit, message] : cases) {
        SCOPED_TRACE(message);
        const ScriptDecodeResult ok = decodeScript(atLimit), refused = decodeScript(overLimit);
        EXPECT_TRUE(ok && !refused) << ok.error;
        EXPECT_EQ(refused.error, message);
    }
    // Only a PNG header's first 32 Base64 characters are read for the declared size.
    ImageTemplate t, gif, header;
    gif.pngBase64 = base64("GIF89a" + std::string(40, 'x')), header.pngBase64 = pngHeader(70000, 3).substr(0, 32);
    EXPECT_FALSE(t.declaredPixelSize() || gif.declaredPixelSize());
    ASSERT_TRUE(header.declaredPixelSize());
    EXPECT_TRUE(header.declaredPixelSize()->width == 70000u && header.declaredPixelSize()->height == 3u);
}

TEST(ScriptEncode, DoublesTakeTheirShortestExactForm) {
    Script s;
    Step& step = s.steps.emplace_back(StepKind::imageCheck);
    step.x = 512.5, step.y = 0.1 + 0.2;
    const std::string json = encodeOk(s, JsonStyle::compact);
    for (const char* text : {R"("threshold":0.9,)", R"("searchMargin":60,)", R"("x":512.5,)", R"("y":0.30000000000000004,)"})
        EXPECT_NE(json.find(text), std::string::npos) << text << " in " << json;
    EXPECT_EQ(decodeOk(json).steps[0].y, 0.1 + 0.2);
    // Negative zero keeps its sign, so writing what was read gives the same bytes.
    step.x = -0.0;
    const std::string negativeZero = encodeOk(s, JsonStyle::compact);
    EXPECT_NE(negativeZero.find(R"("x":-0.0,)"), std::string::npos) << negativeZero;
    EXPECT_TRUE(std::signbit(decodeOk(negativeZero).steps[0].x));
    EXPECT_EQ(encodeOk(decodeOk(negativeZero), JsonStyle::compact), negativeZero);
}

TEST(ScriptEncode, NonFiniteNumbersFailNamingTheField) {
    for (double value : {std::nan(""), double(INFINITY), -double(INFINITY)}) {
        Script s, t, p;
        s.steps.emplace_back(StepKind::delay);
        s.steps.emplace_back(StepKind::lua).onFailure.clickY = value;
        t.templates.emplace_back().pixelScale = value;
        p.steps.emplace_back(StepKind::colorCheck).colorPoints.emplace_back().x = value;
        const std::string inStep = encodeScript(s, JsonStyle::compact).error, inTemplate = encodeScript(t).error;
        EXPECT_TRUE(inStep.find("第 2 步") != std::string::npos && inStep.find("\"clickY\"") != std::string::npos) << inStep;
        EXPECT_NE(inTemplate.find("\"pixelScale\""), std::string::npos) << inTemplate;
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

}  // namespace
}  // namespace tapforge
