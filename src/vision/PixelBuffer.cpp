#include "vision/PixelBuffer.h"

#include <algorithm>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TAPFORGE_X86 1
#endif

namespace tapforge::vision {

Rgb PixelBuffer::averageRGB(int x, int y, int radius) const {
    long sumR = 0, sumG = 0, sumB = 0, count = 0;
    // Clamp the square to the buffer first: same pixels as testing each one, without
    // overflowing x + dx for extreme arguments.
    const long x0 = std::max<long>(static_cast<long>(x) - radius, 0);
    const long x1 = std::min<long>(static_cast<long>(x) + radius, static_cast<long>(width) - 1);
    const long y0 = std::max<long>(static_cast<long>(y) - radius, 0);
    const long y1 = std::min<long>(static_cast<long>(y) + radius, static_cast<long>(height) - 1);
    if (radius < 0 || bytes.size() < static_cast<size_t>(width) * static_cast<size_t>(height) * 4) return {};
    for (long py = y0; py <= y1; ++py) {
        for (long px = x0; px <= x1; ++px) {
            const uint8_t* p = bytes.data() + (static_cast<size_t>(py) * width + px) * 4;
            sumR += p[0];
            sumG += p[1];
            sumB += p[2];
            ++count;
        }
    }
    if (count == 0) return {};
    return {static_cast<int>(sumR / count), static_cast<int>(sumG / count), static_cast<int>(sumB / count)};
}

std::vector<float> PixelBuffer::grayFloats() const {
    const size_t n = static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(height, 0));
    std::vector<float> out(n);
    if (bytes.size() >= n * 4) vision::grayFloats(bytes.data(), n, out.data());
    return out;
}

namespace {

// Each lane multiplies and adds in the scalar formula's order, (0.299 R + 0.587 G) + 0.114 B,
// with separate IEEE single-precision operations (no fused multiply-add), so every value equals
// grayScalar bit for bit.
#if TAPFORGE_X86
__attribute__((target("avx2"))) void grayAvx2(const uint8_t* rgba, size_t blocks, float* out) {
    const __m256 cr = _mm256_set1_ps(0.299f), cg = _mm256_set1_ps(0.587f), cb = _mm256_set1_ps(0.114f);
    const __m256i mask = _mm256_set1_epi32(0xFF);
    for (size_t b = 0; b < blocks; ++b) {
        for (int half = 0; half < 2; ++half) {
            const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rgba + b * 64 + half * 32));
            const __m256 r = _mm256_cvtepi32_ps(_mm256_and_si256(px, mask));
            const __m256 g = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(px, 8), mask));
            const __m256 bl = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(px, 16), mask));
            const __m256 v = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(r, cr), _mm256_mul_ps(g, cg)), _mm256_mul_ps(bl, cb));
            _mm256_storeu_ps(out + b * 16 + half * 8, v);
        }
    }
}

void graySse2(const uint8_t* rgba, size_t blocks, float* out) {
    const __m128 cr = _mm_set1_ps(0.299f), cg = _mm_set1_ps(0.587f), cb = _mm_set1_ps(0.114f);
    const __m128i mask = _mm_set1_epi32(0xFF);
    for (size_t b = 0; b < blocks; ++b) {
        for (int q = 0; q < 4; ++q) {
            const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgba + b * 64 + q * 16));
            const __m128 r = _mm_cvtepi32_ps(_mm_and_si128(px, mask));
            const __m128 g = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(px, 8), mask));
            const __m128 bl = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(px, 16), mask));
            const __m128 v = _mm_add_ps(_mm_add_ps(_mm_mul_ps(r, cr), _mm_mul_ps(g, cg)), _mm_mul_ps(bl, cb));
            _mm_storeu_ps(out + b * 16 + q * 4, v);
        }
    }
}

bool haveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
#endif

}  // namespace

void grayFloats(const uint8_t* rgba, size_t pixelCount, float* out) {
    // Blocks of 16 pixels with vector arithmetic, then the remainder one pixel at a time.
    const size_t blocks = pixelCount / 16;
#if TAPFORGE_X86
    if (haveAvx2()) grayAvx2(rgba, blocks, out);
    else graySse2(rgba, blocks, out);
#else
    for (size_t i = 0; i < blocks * 16; ++i) out[i] = grayScalar(rgba[i * 4], rgba[i * 4 + 1], rgba[i * 4 + 2]);
#endif
    for (size_t i = blocks * 16; i < pixelCount; ++i) out[i] = grayScalar(rgba[i * 4], rgba[i * 4 + 1], rgba[i * 4 + 2]);
}

}  // namespace tapforge::vision
