#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "PngTestSupport.h"
#include "VisionTestSupport.h"
#include "vision/PngCodec.h"

namespace tapforge::vision {
namespace {

using test::chunk;
using test::concat;

std::vector<uint8_t> encoded(const platform::RgbaImage& img) {
    auto png = PngCodec::encode(img);
    EXPECT_TRUE(png);
    return png.value_or(std::vector<uint8_t>{});
}

TEST(PngCodec, RoundTripKeepsOpaquePixelsExactly) {
    const auto img = test::noise(37, 23, 11);
    const auto back = PngCodec::decode(encoded(img));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->width, 37);
    EXPECT_EQ(back->height, 23);
    EXPECT_EQ(back->pixels, img.pixels);
}

TEST(PngCodec, AlphaIsPremultipliedWhenDecoded) {
    // Straight (200, 100, 50) at alpha 128 is stored premultiplied as (100, 50, 25).
    std::vector<uint8_t> raw = {0, 200, 100, 50, 128, 10, 20, 30, 0};
    const auto png = concat({test::signature(), test::ihdr(2, 1), chunk("IDAT", test::zlibStored(raw)), chunk("IEND", {})});
    const auto img = PngCodec::decode(png);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->pixels, (std::vector<uint8_t>{100, 50, 25, 128, 0, 0, 0, 0}));
    // Encoding undoes it.
    const auto again = PngCodec::decode(encoded(*img));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->pixels, img->pixels);
}

TEST(PngCodec, GreyAndPaletteImagesExpandToRgba) {
    const auto grey = PngCodec::decode(concat({test::signature(), test::ihdr(3, 1, 8, 0),
                                               chunk("IDAT", test::zlibStored({0, 0, 128, 255})), chunk("IEND", {})}));
    ASSERT_TRUE(grey);
    EXPECT_EQ(grey->pixels, (std::vector<uint8_t>{0, 0, 0, 255, 128, 128, 128, 255, 255, 255, 255, 255}));
    const auto palette = PngCodec::decode(concat({test::signature(), test::ihdr(2, 1, 8, 3), chunk("PLTE", {9, 8, 7, 1, 2, 3}),
                                                  chunk("IDAT", test::zlibStored({0, 1, 0})), chunk("IEND", {})}));
    ASSERT_TRUE(palette);
    EXPECT_EQ(palette->pixels, (std::vector<uint8_t>{1, 2, 3, 255, 9, 8, 7, 255}));
}

// Every prefix of a valid file is refused, including one cut between the pixel data and IEND.
TEST(PngCodec, TruncatedFilesYieldNoImage) {
    const auto png = encoded(test::noise(16, 16, 3));
    ASSERT_GT(png.size(), 40u);
    for (size_t n = 0; n < png.size(); ++n) {
        SCOPED_TRACE(n);
        EXPECT_FALSE(PngCodec::decode(std::span(png).first(n)));
    }
    EXPECT_TRUE(PngCodec::decode(png));
}

TEST(PngCodec, BadCrcYieldsNoImage) {
    const auto good = concat({test::signature(), test::ihdr(2, 1), chunk("tEXt", {'a', 0, 'b'}),
                              chunk("IDAT", test::zlibStored({0, 1, 2, 3, 255, 4, 5, 6, 255})), chunk("IEND", {})});
    ASSERT_TRUE(PngCodec::decode(good));
    // Flip the last CRC byte of IHDR, of the ancillary tEXt chunk, of IDAT and of IEND in turn.
    size_t pos = 8;
    while (pos < good.size()) {
        const uint32_t len = uint32_t(good[pos]) << 24 | uint32_t(good[pos + 1]) << 16 | uint32_t(good[pos + 2]) << 8 | good[pos + 3];
        const size_t crcEnd = pos + 12 + len;
        auto bad = good;
        bad[crcEnd - 1] ^= 0x55;
        SCOPED_TRACE(std::string(good.begin() + long(pos + 4), good.begin() + long(pos + 8)));
        EXPECT_FALSE(PngCodec::decode(bad));
        pos = crcEnd;
    }
}

struct HugeCase {
    uint32_t w, h;
};
class HugeDimensions : public testing::TestWithParam<HugeCase> {};

TEST_P(HugeDimensions, RefusedBeforeAllocating) {
    const auto c = GetParam();
    const auto png = concat({test::signature(), test::ihdr(c.w, c.h), chunk("IDAT", test::zlibStored({0, 1, 2, 3, 4})),
                             chunk("IEND", {})});
    EXPECT_FALSE(PngCodec::decode(png));
}
// Over a side limit, over the pixel limit, and within both but far more pixels than the file
// could hold (8192 x 8192 from a few dozen bytes).
INSTANTIATE_TEST_SUITE_P(Dimensions, HugeDimensions,
                         testing::Values(HugeCase{16385, 1}, HugeCase{1, 16385}, HugeCase{9000, 9000},
                                         HugeCase{0x7FFFFFFF, 0x7FFFFFFF}, HugeCase{8192, 8192}, HugeCase{0, 5}));

TEST(PngCodec, OversizedChunkIsRefused) {
    std::vector<uint8_t> big(9u * 1024 * 1024, 'x');
    big[0] = 'k';
    big[1] = 0;
    const auto png = concat({test::signature(), test::ihdr(2, 1), chunk("tEXt", big),
                             chunk("IDAT", test::zlibStored({0, 1, 2, 3, 255, 4, 5, 6, 255})), chunk("IEND", {})});
    EXPECT_FALSE(PngCodec::decode(png));
}

// The fuzz corpus doubles as a regression set for the ordinary build: nothing may crash.
TEST(PngCodec, FuzzCorpusDecodesWithoutCrashing) {
    const std::filesystem::path dir = std::filesystem::path(TAPFORGE_SOURCE_DIR) / "tests/fuzz-corpus/png";
    if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no corpus";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto img = PngCodec::decode(data);
        if (img) {
            EXPECT_EQ(img->pixels.size(), size_t(img->width) * img->height * 4);
        }
        ++files;
    }
    EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace tapforge::vision
