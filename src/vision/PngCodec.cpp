#include "vision/PngCodec.h"

#include <spng.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace tapforge::vision {

namespace {

struct ContextDeleter {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

int channelsOf(uint8_t colorType) {
    switch (colorType) {
    case SPNG_COLOR_TYPE_GRAYSCALE: return 1;
    case SPNG_COLOR_TYPE_TRUECOLOR: return 3;
    case SPNG_COLOR_TYPE_INDEXED: return 1;
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA: return 2;
    case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA: return 4;
    default: return 0;
    }
}

// Deflate cannot expand data by more than about 1032:1, so a file too short to hold its own
// pixel rows is refused before the output buffer is allocated: a few hundred bytes claiming
// 8192 x 8192 pixels would otherwise cost a 256 MiB allocation before failing.
bool plausibleSize(const spng_ihdr& ihdr, size_t fileBytes) {
    const int channels = channelsOf(ihdr.color_type);
    if (channels == 0) return false;
    const uint64_t bitsPerRow = uint64_t(ihdr.width) * channels * ihdr.bit_depth;
    const uint64_t filtered = uint64_t(ihdr.height) * (1 + (bitsPerRow + 7) / 8);
    return uint64_t(fileBytes) * 1100 + 4096 >= filtered;
}

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// Walks the chunk headers before the decoder sees the data: every chunk but the pixel data
// must be within the size limit (the decoder would otherwise skip an oversized ancillary chunk
// quietly), and the file must reach a complete IEND chunk (the decoder stops reading at the
// end of the pixel data, so a file cut inside IEND would pass). CRCs are left to the decoder.
bool chunkLayoutAcceptable(std::span<const uint8_t> data, size_t maxChunkBytes) {
    static constexpr uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (data.size() < 8 || !std::equal(signature, signature + 8, data.begin())) return false;
    size_t pos = 8;
    while (data.size() - pos >= 12) {
        const uint32_t length = be32(&data[pos]);
        const uint8_t* type = &data[pos + 4];
        if (length > data.size() - pos - 12) return false;
        const bool idat = std::equal(type, type + 4, "IDAT");
        if (!idat && length > maxChunkBytes) return false;
        if (std::equal(type, type + 4, "IEND")) return true;
        pos += 12 + size_t(length);
    }
    return false;
}

}  // namespace

std::optional<platform::RgbaImage> PngCodec::decode(std::span<const uint8_t> data, const PngLimits& limits) {
    if (!chunkLayoutAcceptable(data, limits.maxChunkBytes)) return std::nullopt;
    Context ctx(spng_ctx_new(0));
    if (!ctx) return std::nullopt;
    // A damaged chunk of any kind means damaged data; refuse rather than guess.
    if (spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR) != 0) return std::nullopt;
    if (spng_set_image_limits(ctx.get(), limits.maxSide, limits.maxSide) != 0) return std::nullopt;
    if (spng_set_chunk_limits(ctx.get(), limits.maxChunkBytes, limits.maxChunkCacheBytes) != 0) return std::nullopt;
    if (spng_set_png_buffer(ctx.get(), data.data(), data.size()) != 0) return std::nullopt;

    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx.get(), &ihdr) != 0) return std::nullopt;
    if (ihdr.width < 1 || ihdr.height < 1 || ihdr.width > limits.maxSide || ihdr.height > limits.maxSide) return std::nullopt;
    if (uint64_t(ihdr.width) * ihdr.height > limits.maxPixels) return std::nullopt;
    if (!plausibleSize(ihdr, data.size())) return std::nullopt;

    size_t size = 0;
    if (spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size) != 0) return std::nullopt;
    if (size != size_t(ihdr.width) * ihdr.height * 4) return std::nullopt;
    platform::RgbaImage image;
    image.width = static_cast<int>(ihdr.width);
    image.height = static_cast<int>(ihdr.height);
    image.pixels.resize(size);
    if (spng_decode_image(ctx.get(), image.pixels.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0) return std::nullopt;
    // Read on to IEND so that a file cut after its pixel data, or with a damaged chunk there,
    // is refused as well.
    if (spng_decode_chunks(ctx.get()) != 0) return std::nullopt;

    uint8_t* p = image.pixels.data();
    for (size_t i = 0; i < size; i += 4) {
        const unsigned a = p[i + 3];
        if (a == 255) continue;
        for (int c = 0; c < 3; ++c) p[i + c] = static_cast<uint8_t>((p[i + c] * a + 127) / 255);
    }
    return image;
}

std::optional<std::vector<uint8_t>> PngCodec::encode(const platform::RgbaImage& image) {
    if (image.empty() || image.pixels.size() < size_t(image.width) * image.height * 4) return std::nullopt;
    const size_t size = size_t(image.width) * image.height * 4;
    // PNG stores straight alpha.
    std::vector<uint8_t> straight(image.pixels.begin(), image.pixels.begin() + static_cast<std::ptrdiff_t>(size));
    for (size_t i = 0; i < size; i += 4) {
        const unsigned a = straight[i + 3];
        if (a == 255) continue;
        for (int c = 0; c < 3; ++c)
            straight[i + c] = a == 0 ? 0 : static_cast<uint8_t>(std::min(255u, (straight[i + c] * 255u + a / 2) / a));
    }

    Context ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) return std::nullopt;
    if (spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1) != 0) return std::nullopt;
    spng_ihdr ihdr{};
    ihdr.width = static_cast<uint32_t>(image.width);
    ihdr.height = static_cast<uint32_t>(image.height);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    if (spng_set_ihdr(ctx.get(), &ihdr) != 0) return std::nullopt;
    if (spng_encode_image(ctx.get(), straight.data(), size, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) != 0) return std::nullopt;
    size_t length = 0;
    int error = 0;
    void* buffer = spng_get_png_buffer(ctx.get(), &length, &error);
    if (!buffer || error != 0) {
        std::free(buffer);
        return std::nullopt;
    }
    std::vector<uint8_t> out(static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + length);
    std::free(buffer);
    return out;
}

}  // namespace tapforge::vision
