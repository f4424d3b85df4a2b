#include <gtest/gtest.h>

#include <thread>

#include "PngTestSupport.h"
#include "VisionTestSupport.h"
#include "vision/Base64.h"
#include "vision/PngCodec.h"
#include "vision/TemplateCache.h"

namespace tapforge::vision {
namespace {

ImageTemplate templateOf(const platform::RgbaImage& img, std::string name = "模板") {
    ImageTemplate t;
    t.name = std::move(name);
    t.pngBase64 = encodeBase64(*PngCodec::encode(img));
    return t;
}

TEST(Base64, StrictStandardAlphabet) {
    const std::vector<uint8_t> bytes = {0xFB, 0xFF, 0x00, 'a'};
    EXPECT_EQ(encodeBase64(bytes), "+/8AYQ==");
    EXPECT_EQ(decodeBase64("+/8AYQ=="), bytes);
    EXPECT_EQ(decodeBase64(""), std::vector<uint8_t>{});
    EXPECT_EQ(decodeBase64("TWFu"), (std::vector<uint8_t>{'M', 'a', 'n'}));
    EXPECT_EQ(decodeBase64("TWE="), (std::vector<uint8_t>{'M', 'a'}));
    for (const char* bad : {"TWFu\n", "TW\nFu", " TWFu", "TWF", "TW=u", "=TWF", "TWFu====", "-_8A", "TQ==TQ==", "T===",
                            "TWFu\r\n"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(decodeBase64(bad));
    }
    for (size_t n = 0; n < 40; ++n) {
        std::vector<uint8_t> v(n);
        for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 53 + 7);
        EXPECT_EQ(decodeBase64(encodeBase64(v)), v);
    }
}

TEST(TemplateCache, DecodesOnceAndSharesByImageData) {
    TemplateCache cache;
    const auto img = test::noise(5, 4, 1);
    const auto a = templateOf(img, "a");
    const auto first = cache.image(a);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->pixels, img.pixels);
    EXPECT_EQ(cache.image(a), first);
    // A renamed template with the same data gets the same entry.
    EXPECT_EQ(cache.image(templateOf(img, "renamed")), first);
    EXPECT_EQ(cache.size(), 1u);
}

TEST(TemplateCache, UndecodableDataGivesNothingAndIsNotCached) {
    TemplateCache cache;
    ImageTemplate t;
    EXPECT_FALSE(cache.image(t));
    t.pngBase64 = "not base64!";
    EXPECT_FALSE(cache.image(t));
    t.pngBase64 = encodeBase64(std::vector<uint8_t>{1, 2, 3, 4});   // Base64, not a PNG
    EXPECT_FALSE(cache.image(t));
    // A line break inside otherwise valid text.
    auto broken = templateOf(test::noise(3, 3, 2));
    broken.pngBase64.insert(8, "\n");
    EXPECT_FALSE(cache.image(broken));
    EXPECT_EQ(cache.size(), 0u);
}

TEST(TemplateCache, AStorePastTheByteBudgetEmptiesTheCache) {
    constexpr size_t imageBytes = 3 * 2 * 4;
    TemplateCache cache(3 * imageBytes);
    std::vector<ImageTemplate> templates;
    std::vector<SharedImage> images;
    for (uint32_t i = 0; i < 4; ++i) templates.push_back(templateOf(test::noise(3, 2, i + 100)));
    for (size_t i = 0; i < 3; ++i) images.push_back(cache.image(templates[i]));
    EXPECT_EQ(cache.size(), 3u);
    EXPECT_EQ(cache.bytes(), 3 * imageBytes);
    EXPECT_EQ(cache.image(templates[1]), images[1]);   // hits cost nothing

    const auto last = cache.image(templates[3]);
    ASSERT_TRUE(last);
    EXPECT_EQ(cache.size(), 1u);
    EXPECT_EQ(cache.bytes(), imageBytes);
    // The others decode again, and what was handed out stays valid.
    const auto again = cache.image(templates[0]);
    ASSERT_TRUE(again);
    EXPECT_NE(again, images[0]);
    EXPECT_EQ(again->pixels, images[0]->pixels);
    EXPECT_EQ(cache.image(templates[3]), last);
}

// A 1-bit grey PNG of 4096 × `height` (cheap to build, 4 bytes a pixel once decoded).
ImageTemplate wideTemplate(uint32_t height) {
    std::vector<uint8_t> raw(size_t(height) * 513, 0);   // a filter byte and 512 bytes a row
    const auto png = test::concat({test::signature(), test::ihdr(4096, height, 1, 0), test::chunk("IDAT", test::zlibStored(raw)),
                                   test::chunk("IEND", {})});
    ImageTemplate t;
    t.pngBase64 = encodeBase64(png);
    return t;
}

TEST(TemplateCache, TemplatesOverThePixelBudgetAreNotDecoded) {
    TemplateCache cache;
    const ImageTemplate atLimit = wideTemplate(uint32_t(kMaxTemplatePixels / 4096));
    EXPECT_EQ(atLimit.declaredPixelSize()->pixels(), kMaxTemplatePixels);
    EXPECT_TRUE(cache.image(atLimit));
    EXPECT_FALSE(cache.image(wideTemplate(uint32_t(kMaxTemplatePixels / 4096) + 1)));
    EXPECT_EQ(cache.size(), 1u);
}

TEST(TemplateCache, ConcurrentLookupsAgreeOnPixels) {
    TemplateCache& cache = TemplateCache::shared();
    std::vector<ImageTemplate> templates;
    for (uint32_t i = 0; i < 30; ++i) templates.push_back(templateOf(test::noise(4, 4, i + 500)));
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round) {
                const auto& tmpl = templates[size_t(round * 7 + t) % templates.size()];
                const auto img = cache.image(tmpl);
                if (!img || img->width != 4) ++failures;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_LE(cache.bytes(), TemplateCache::defaultByteBudget);
}

}  // namespace
}  // namespace tapforge::vision
