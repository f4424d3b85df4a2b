// The decoder's limits on what one document may hold: steps, colour points, library templates
// and the pixels template PNG headers declare. A document at each limit loads; one more is
// refused with a message naming where and what the limit is.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "model/ScriptJson.h"

namespace tapforge {
namespace {

std::string repeated(const std::string& item, size_t count) {
    std::string out;
    out.reserve(count * (item.size() + 1));
    for (size_t i = 0; i < count; ++i) out.append(i ? "," : "").append(item);
    return out;
}

std::string base64(const std::string& bytes) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k) v = v << 8 | (k < n ? uint8_t(bytes[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k) out += k <= n ? alphabet[(v >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

// A template whose PNG data is only a header declaring width × height (the rest is never read
// by the decoder); `tag` makes the data distinct.
std::string templateJson(uint32_t width, uint32_t height, int tag = 0) {
    std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
    for (uint32_t v : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8) png += char((v >> shift) & 0xFF);
    png += std::string("\x08\x06\0\0\0", 5) + std::to_string(tag);
    return R"({"name":"t","widthPoints":1,"heightPoints":1,"originX":0,"originY":0,"pixelScale":1,"pngBase64":")" +
           base64(png) + "\"}";
}

std::string documentWith(const std::string& steps, const std::string& templates = "") {
    return R"({"steps":[)" + steps + R"(],"templates":[)" + templates + "]}";
}

const std::string kPoint = R"({"id":"00000000-0000-0000-0000-000000000001","x":0,"y":0,"red":0,"green":0,"blue":0,"tolerance":0,"enabled":true})";

struct LimitCase {
    const char* name;
    std::string atLimit;
    std::string overLimit;
    std::string message;
};

class DecodeLimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(DecodeLimitTest, AtTheLimitLoadsAndOneMoreIsRefused) {
    const LimitCase& c = GetParam();
    const ScriptDecodeResult ok = decodeScript(c.atLimit);
    EXPECT_TRUE(ok) << ok.error;
    const ScriptDecodeResult refused = decodeScript(c.overLimit);
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.error, c.message);
}

const uint32_t kSide = 4096;
const uint32_t kTallest = uint32_t(kMaxTemplatePixels / kSide);   // kSide × kTallest is the per-template limit

INSTANTIATE_TEST_SUITE_P(
    Limits, DecodeLimitTest,
    ::testing::Values(
        LimitCase{"steps", documentWith(repeated(R"({"kind":"delay"})", kMaxScriptSteps)),
                  documentWith(repeated(R"({"kind":"delay"})", kMaxScriptSteps + 1)),
                  "第 100001 步超出上限：一个脚本最多 100000 个步骤"},
        LimitCase{"colourPoints",
                  documentWith(R"({"kind":"colorCheck","colorPoints":[)" + repeated(kPoint, kMaxScriptColorPoints / 2) +
                               R"(]},{"kind":"colorCheck","colorPoints":[)" + repeated(kPoint, kMaxScriptColorPoints / 2) + "]}"),
                  documentWith(R"({"kind":"colorCheck","colorPoints":[)" + repeated(kPoint, kMaxScriptColorPoints / 2) +
                               R"(]},{"kind":"colorCheck","colorPoints":[)" + repeated(kPoint, kMaxScriptColorPoints / 2 + 1) + "]}"),
                  "第 2 步的第 50001 个颜色点超出上限：一个脚本最多 100000 个颜色点"},
        LimitCase{"libraryTemplates", documentWith("", repeated(templateJson(1, 1), kMaxScriptTemplates)),
                  documentWith("", repeated(templateJson(1, 1), kMaxScriptTemplates + 1)),
                  "第 1001 个模板超出上限：一个脚本最多 1000 个模板"},
        LimitCase{"templatePixels", documentWith(R"({"kind":"imageCheck","template":)" + templateJson(kSide, kTallest) + "}"),
                  documentWith(R"({"kind":"imageCheck","template":)" + templateJson(kSide, kTallest + 1) + "}"),
                  "第 1 步的 \"template\" 的图像为 4096 × 2049 像素，超过单个模板 8388608 像素的上限"},
        // Four distinct images at the per-template limit fill the script's budget; a copy of one
        // in a step costs nothing more (it decodes once); a fifth distinct image does not fit.
        LimitCase{"scriptPixels",
                  documentWith(R"({"kind":"imageCheck","template":)" + templateJson(kSide, kTallest, 0) + "}",
                               templateJson(kSide, kTallest, 0) + "," + templateJson(kSide, kTallest, 1) + "," +
                                   templateJson(kSide, kTallest, 2) + "," + templateJson(kSide, kTallest, 3)),
                  documentWith(R"({"kind":"imageCheck","template":)" + templateJson(1, 1, 4) + "}",
                               templateJson(kSide, kTallest, 0) + "," + templateJson(kSide, kTallest, 1) + "," +
                                   templateJson(kSide, kTallest, 2) + "," + templateJson(kSide, kTallest, 3)),
                  "第 1 步的 \"template\" 使脚本的模板图像共达 33554433 像素，超过每个脚本 33554432 像素的上限"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DeclaredPixelSize, ReadsOnlyAPngHeader) {
    ImageTemplate t;
    EXPECT_FALSE(t.declaredPixelSize());
    t.pngBase64 = base64(std::string("GIF89a", 6) + std::string(40, 'x'));
    EXPECT_FALSE(t.declaredPixelSize());
    const std::string json = templateJson(70000, 3);
    t.pngBase64 = json.substr(json.find("pngBase64") + 12, 32);
    ASSERT_TRUE(t.declaredPixelSize());
    EXPECT_EQ(t.declaredPixelSize()->width, 70000u);
    EXPECT_EQ(t.declaredPixelSize()->height, 3u);
}

}  // namespace
}  // namespace tapforge
