#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "PngTestSupport.h"
#include "VisionTestSupport.h"
#include "vision/PngCodec.h"

namespace tapforge::vision {
namespace {

using test::chunk;
using test::pngFile;

std::optional<platform::RgbaImage> roundTrip(const platform::RgbaImage& img) {
    const auto png = PngCodec::encode(img);
    EXPECT_TRUE(png);
    return PngCodec::decode(png.value_or(std::vector<uint8_t>{}));
}

TEST(PngCodec, DecodesToPremultipliedRgbaAndRoundTrips) {
    const std::pair<std::vector<uint8_t>, std::vector<uint8_t>> cases[] = {
        // Straight (200, 100, 50) at alpha 128 is stored premultiplied as (100, 50, 25).
        {pngFile(2, 1, {0, 200, 100, 50, 128, 10, 20, 30, 0}), {100, 50, 25, 128, 0, 0, 0, 0}},
        {pngFile(3, 1, {0, 0, 128, 255}, 8, 0), {0, 0, 0, 255, 128, 128, 128, 255, 255, 255, 255, 255}},
        {pngFile(2, 1, {0, 1, 0}, 8, 3, chunk("PLTE", {9, 8, 7, 1, 2, 3})), {1, 2, 3, 255, 9, 8, 7, 255}},
    };
    for (const auto& [file, pixels] : cases) {
        const auto img = PngCodec::decode(file);
        ASSERT_TRUE(img);
        EXPECT_EQ(img->pixels, pixels);
        const auto again = roundTrip(*img);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->pixels, pixels);
    }
    const auto noise = test::noise(37, 23, 11);
    const auto back = roundTrip(noise);
    ASSERT_TRUE(back);
    EXPECT_EQ((std::pair{back->width, back->height}), (std::pair{37, 23}));
    EXPECT_EQ(back->pixels, noise.pixels);
}

TEST(PngCodec, TruncatedFilesYieldNoImage) {
    const auto png = *PngCodec::encode(test::noise(16, 16, 3));
    for (size_t n = 0; n < png.size(); ++n) EXPECT_FALSE(PngCodec::decode(std::span(png).first(n))) << n;
    EXPECT_TRUE(PngCodec::decode(png));
}

TEST(PngCodec, BadCrcYieldsNoImage) {
    const auto good = pngFile(2, 1, {0, 1, 2, 3, 255, 4, 5, 6, 255}, 8, 6, chunk("tEXt", {'a', 0, 'b'}));
    ASSERT_TRUE(PngCodec::decode(good));
    for (size_t pos = 8; pos < good.size();) {
        const size_t crcEnd = pos + 12 + (size_t(good[pos]) << 24 | size_t(good[pos + 1]) << 16 | size_t(good[pos + 2]) << 8 | good[pos + 3]);
        auto bad = good;
        bad[crcEnd - 1] ^= 0x55;
        EXPECT_FALSE(PngCodec::decode(bad)) << std::string(good.begin() + long(pos + 4), good.begin() + long(pos + 8));
        pos = crcEnd;
    }
}

// Includes 8192 x 8192 from a few dozen bytes: more pixels than the file could hold.
TEST(PngCodec, HostileFilesAreRefusedBeforeAllocating) {
    std::vector<uint8_t> big(9u * 1024 * 1024, 'x');
    big[0] = 'k', big[1] = 0;
    const std::vector<uint8_t> row = {0, 1, 2, 3, 4};
    for (const auto& file : {pngFile(16385, 1, row), pngFile(1, 16385, row), pngFile(9000, 9000, row),
                             pngFile(0x7FFFFFFF, 0x7FFFFFFF, row), pngFile(8192, 8192, row), pngFile(0, 5, row),
                             pngFile(2, 1, {0, 1, 2, 3, 255, 4, 5, 6, 255}, 8, 6, chunk("tEXt", big))})
        EXPECT_FALSE(PngCodec::decode(file));
}

// The fuzz corpus doubles as a regression set for the ordinary build: nothing may crash.
TEST(PngCodec, FuzzCorpusDecodesWithoutCrashing) {
    const std::filesystem::path dir = std::filesystem::path(TAPFORGE_SOURCE_DIR) / "tests/fuzz-corpus/png";
    if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no corpus";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const auto img = PngCodec::decode(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}));
        if (img) { EXPECT_EQ(img->pixels.size(), size_t(img->width) * img->height * 4); }
        ++files;
    }
    EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace tapforge::vision
