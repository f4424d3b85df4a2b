#include <gtest/gtest.h>

#include <thread>

#include "VisionTestSupport.h"
#include "vision/Base64.h"
#include "vision/PngCodec.h"
#include "vision/TemplateCache.h"

namespace tapforge::vision {
namespace {

using test::Bytes;

ImageTemplate templateOf(const Bytes& png) { return {.pngBase64 = encodeBase64(png)}; }
ImageTemplate templateOf(const platform::RgbaImage& img) { return templateOf(*PngCodec::encode(img)); }

TEST(Base64, StrictStandardAlphabet) {
    const std::pair<std::string, Bytes> pairs[] = {
        {"+/8AYQ==", {0xFB, 0xFF, 0x00, 'a'}}, {"", {}}, {"TWFu", {'M', 'a', 'n'}}, {"TWE=", {'M', 'a'}}};
    for (const auto& [text, bytes] : pairs) {
        EXPECT_EQ(encodeBase64(bytes), text);
        EXPECT_EQ(decodeBase64(text), bytes);
    }
    for (const char* bad : {"TWFu\n", "TW\nFu", " TWFu", "TWF", "TW=u", "=TWF", "TWFu====", "-_8A",
                            "TQ==TQ==", "T===", "TWFu\r\n"})
        EXPECT_FALSE(decodeBase64(bad)) << bad;
    for (Bytes v; v.size() < 40; v.push_back(uint8_t(v.size() * 53 + 7)))
        EXPECT_EQ(decodeBase64(encodeBase64(v)), v);
}

TEST(TemplateCache, DecodesOnceAndSharesByImageData) {
    TemplateCache cache;
    const auto img = test::noise(5, 4, 1);
    const auto first = cache.image(templateOf(img));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->pixels, img.pixels);
    EXPECT_EQ(cache.image({.name = "renamed", .pngBase64 = templateOf(img).pngBase64}), first);
    std::string lineBreak = templateOf(test::noise(3, 3, 2)).pngBase64;   // inside otherwise valid text
    lineBreak.insert(lineBreak.begin() + 8, '\n');
    for (const std::string& text : {std::string(), std::string("not base64!"), lineBreak,
                                    encodeBase64(Bytes{1, 2, 3, 4})})
        EXPECT_FALSE(cache.image({.pngBase64 = text})) << text;
    EXPECT_EQ(cache.size(), 1u);
}

TEST(TemplateCache, AStorePastTheByteBudgetEmptiesTheCache) {
    constexpr size_t imageBytes = 3 * 2 * 4;
    TemplateCache cache(3 * imageBytes);
    std::vector<ImageTemplate> templates;
    std::vector<SharedImage> images;
    for (uint32_t i = 0; i < 4; ++i) templates.push_back(templateOf(test::noise(3, 2, i + 100)));
    for (size_t i = 0; i < 3; ++i) images.push_back(cache.image(templates[i]));
    EXPECT_EQ(cache.bytes(), 3 * imageBytes);
    EXPECT_EQ(cache.image(templates[1]), images[1]);   // hits cost nothing
    const auto last = cache.image(templates[3]);
    EXPECT_EQ((std::pair{cache.size(), cache.bytes()}), (std::pair{size_t(1), imageBytes}));
    const auto again = cache.image(templates[0]);
    ASSERT_TRUE(again && again != images[0]);
    EXPECT_EQ(again->pixels, images[0]->pixels);
    EXPECT_EQ(cache.image(templates[3]), last);
}

// 1-bit grey PNGs of 4096 columns: cheap to build, 4 bytes a pixel once decoded.
TEST(TemplateCache, TemplatesOverThePixelBudgetAreNotDecoded) {
    TemplateCache cache;
    auto wide = [](uint32_t rows) { return templateOf(test::pngFile(4096, rows, Bytes(rows * 513u), 1, 0)); };
    const ImageTemplate atLimit = wide(uint32_t(kMaxTemplatePixels / 4096));
    EXPECT_EQ(atLimit.declaredPixelSize()->pixels(), kMaxTemplatePixels);
    EXPECT_TRUE(cache.image(atLimit));
    EXPECT_FALSE(cache.image(wide(uint32_t(kMaxTemplatePixels / 4096) + 1)));
    EXPECT_EQ(cache.size(), 1u);
}

// All threads ask for the same templates in turn, so they often miss on one together.
TEST(TemplateCache, ConcurrentLookupsAgreeOnPixels) {
    TemplateCache& cache = TemplateCache::shared();
    std::vector<platform::RgbaImage> images;
    std::vector<ImageTemplate> templates;
    for (uint32_t i = 0; i < 30; ++i)
        templates.push_back(templateOf(images.emplace_back(test::noise(90, 90, i))));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (size_t i = 0; i < templates.size(); ++i) {
                const auto img = cache.image(templates[i]);
                failures += !img || img->pixels != images[i].pixels;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace tapforge::vision
