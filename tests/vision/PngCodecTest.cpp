#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "VisionTestSupport.h"
#include "vision/PngCodec.h"

namespace tapforge::vision {
namespace {

using namespace test;

TEST(PngCodec, DecodesToPremultipliedRgbaAndRoundTrips) {
    const auto random = noise(37, 23, 11);
    const std::tuple<Bytes, int, Bytes> cases[] = {
        // Straight (200, 100, 50) at alpha 128 is stored premultiplied as (100, 50, 25).
        {pngFile(2, 1, {0, 200, 100, 50, 128, 10, 20, 30, 0}), 2, {100, 50, 25, 128, 0, 0, 0, 0}},
        {pngFile(3, 1, {0, 0, 128, 255}, 8, 0), 3, {0, 0, 0, 255, 128, 128, 128, 255, 255, 255, 255, 255}},
        {pngFile(2, 1, {0, 1, 0}, 8, 3, chunk("PLTE", {9, 8, 7, 1, 2, 3})), 2, {1, 2, 3, 255, 9, 8, 7, 255}},
        {*PngCodec::encode(random), 37, random.pixels},
    };
    for (const auto& [file, width, pixels] : cases) {
        SCOPED_TRACE(width);
        const auto img = PngCodec::decode(file);
        ASSERT_TRUE(img);
        EXPECT_EQ(std::tie(img->width, img->pixels), std::tie(width, pixels));
        const auto again = PngCodec::decode(PngCodec::encode(*img).value_or(Bytes{}));
        ASSERT_TRUE(again);
        EXPECT_EQ(std::tie(again->width, again->pixels), std::tie(width, pixels));
    }
}

// Every truncation, and a spoilt CRC in each chunk.
TEST(PngCodec, DamagedFilesYieldNoImage) {
    const auto good = pngFile(2, 1, {0, 1, 2, 3, 255, 4, 5, 6, 255}, 8, 6, chunk("tEXt", {'a', 0, 'b'}));
    ASSERT_TRUE(PngCodec::decode(good));
    for (size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(PngCodec::decode(std::span(good).first(n))) << n;
    for (size_t pos = 8; pos < good.size();) {
        const size_t end = pos + 12 + good[pos + 3];   // every chunk here is under 256 bytes
        auto bad = good;
        bad[end - 1] ^= 0x55;
        EXPECT_FALSE(PngCodec::decode(bad)) << std::string(&good[pos + 4], &good[pos + 8]);
        pos = end;
    }
}

// Includes 8192 x 8192 from a few dozen bytes: more pixels than the file could hold.
TEST(PngCodec, HostileFilesAreRefusedBeforeAllocating) {
    Bytes big(9u * 1024 * 1024, 'x');
    big[0] = 'k', big[1] = 0;
    for (auto [w, h] : {std::pair<uint32_t, uint32_t>{16385, 1}, {1, 16385}, {9000, 9000}, {8192, 8192},
                        {0, 5}, {0x7FFFFFFF, 0x7FFFFFFF}})
        EXPECT_FALSE(PngCodec::decode(pngFile(w, h, {0, 1, 2, 3, 4}))) << w << " x " << h;
    EXPECT_FALSE(PngCodec::decode(pngFile(2, 1, {0, 1, 2, 3, 255, 4, 5, 6, 255}, 8, 6, chunk("tEXt", big))));
}

// The fuzz corpus doubles as a regression set for the ordinary build: nothing may crash.
TEST(PngCodec, FuzzCorpusDecodesWithoutCrashing) {
    const std::filesystem::path dir = std::filesystem::path(TAPFORGE_SOURCE_DIR) / "tests/fuzz-corpus/png";
    if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no corpus";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const auto img = PngCodec::decode(Bytes(std::istreambuf_iterator<char>(in), {}));
        EXPECT_TRUE(!img || img->pixels.size() == size_t(img->width) * img->height * 4) << entry.path();
        ++files;
    }
    EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace tapforge::vision
