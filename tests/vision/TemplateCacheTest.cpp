#include <gtest/gtest.h>

#include <thread>

#include "PngTestSupport.h"
#include "VisionTestSupport.h"
#include "vision/Base64.h"
#include "vision/PngCodec.h"
#include "vision/TemplateCache.h"

namespace tapforge::vision {
namespace {

ImageTemplate templateOf(const std::vector<uint8_t>& png, std::string name = "模板") {
    ImageTemplate t;
    t.name = std::move(name), t.pngBase64 = encodeBase64(png);
    return t;
}

TEST(Base64, StrictStandardAlphabet) {
    using Bytes = std::vector<uint8_t>;
    for (const auto& [text, bytes] : {std::pair<std::string, Bytes>{"+/8AYQ==", {0xFB, 0xFF, 0x00, 'a'}}, {"", {}},
                                      {"TWFu", {'M', 'a', 'n'}}, {"TWE=", {'M', 'a'}}}) {
        EXPECT_EQ(encodeBase64(bytes), text);
        EXPECT_EQ(decodeBase64(text), bytes);
    }
    for (const char* bad : {"TWFu\n", "TW\nFu", " TWFu", "TWF", "TW=u", "=TWF", "TWFu====", "-_8A", "TQ==TQ==", "T===", "TWFu\r\n"})
        EXPECT_FALSE(decodeBase64(bad)) << bad;
    for (size_t n = 0; n < 40; ++n) {
        std::vector<uint8_t> v(n);
        for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 53 + 7);
        EXPECT_EQ(decodeBase64(encodeBase64(v)), v);
    }
}

TEST(TemplateCache, DecodesOnceAndSharesByImageData) {
    TemplateCache cache;
    const auto img = test::noise(5, 4, 1);
    const auto first = cache.image(templateOf(*PngCodec::encode(img), "a"));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->pixels, img.pixels);
    EXPECT_EQ(cache.image(templateOf(*PngCodec::encode(img), "a")), first);
    EXPECT_EQ(cache.image(templateOf(*PngCodec::encode(img), "renamed")), first);
    auto lineBreak = templateOf(*PngCodec::encode(test::noise(3, 3, 2)));   // inside otherwise valid text
    lineBreak.pngBase64.insert(lineBreak.pngBase64.begin() + 8, '\n');
    for (const std::string& text : {std::string{}, std::string("not base64!"), encodeBase64(std::vector<uint8_t>{1, 2, 3, 4}), lineBreak.pngBase64}) {
        ImageTemplate t;
        t.pngBase64 = text;
        EXPECT_FALSE(cache.image(t)) << text;
    }
    EXPECT_EQ(cache.size(), 1u);
}

TEST(TemplateCache, AStorePastTheByteBudgetEmptiesTheCache) {
    constexpr size_t imageBytes = 3 * 2 * 4;
    TemplateCache cache(3 * imageBytes);
    std::vector<ImageTemplate> templates;
    std::vector<SharedImage> images;
    for (uint32_t i = 0; i < 4; ++i) templates.push_back(templateOf(*PngCodec::encode(test::noise(3, 2, i + 100))));
    for (size_t i = 0; i < 3; ++i) images.push_back(cache.image(templates[i]));
    EXPECT_EQ(cache.bytes(), 3 * imageBytes);
    EXPECT_EQ(cache.image(templates[1]), images[1]);   // hits cost nothing
    const auto last = cache.image(templates[3]);
    ASSERT_TRUE(last);
    EXPECT_EQ((std::pair{cache.size(), cache.bytes()}), (std::pair{size_t(1), imageBytes}));
    const auto again = cache.image(templates[0]);
    ASSERT_TRUE(again);
    EXPECT_NE(again, images[0]);
    EXPECT_EQ(again->pixels, images[0]->pixels);
    EXPECT_EQ(cache.image(templates[3]), last);
}

// 1-bit grey PNGs of 4096 columns: cheap to build, 4 bytes a pixel once decoded.
TEST(TemplateCache, TemplatesOverThePixelBudgetAreNotDecoded) {
    TemplateCache cache;
    auto wide = [](uint32_t rows) { return templateOf(test::pngFile(4096, rows, std::vector<uint8_t>(rows * 513u), 1, 0)); };
    const ImageTemplate atLimit = wide(uint32_t(kMaxTemplatePixels / 4096));
    EXPECT_EQ(atLimit.declaredPixelSize()->pixels(), kMaxTemplatePixels);
    EXPECT_TRUE(cache.image(atLimit));
    EXPECT_FALSE(cache.image(wide(uint32_t(kMaxTemplatePixels / 4096) + 1)));
    EXPECT_EQ(cache.size(), 1u);
}

TEST(TemplateCache, ConcurrentLookupsAgreeOnPixels) {
    TemplateCache& cache = TemplateCache::shared();
    std::vector<ImageTemplate> templates;
    for (uint32_t i = 0; i < 30; ++i) templates.push_back(templateOf(*PngCodec::encode(test::noise(4, 4, i + 500))));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round) {
                const auto img = cache.image(templates[size_t(round * 7 + t) % templates.size()]);
                if (!img || img->width != 4) ++failures;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_LE(cache.bytes(), TemplateCache::defaultByteBudget);
}

}  // namespace
}  // namespace tapforge::vision
