#include "vision/Resize.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tapforge::vision {

namespace {

// The source taps of every target index on one axis: target i reads source indices
// first[i] .. first[i] + count[i] - 1 with weights taps[offset[i] ...], which sum to 1.
struct AxisTaps {
    std::vector<int> first, count, offset;
    std::vector<float> weights;
};

void buildTaps(int src, int dst, AxisTaps& t) {
    t.first.assign(dst, 0);
    t.count.assign(dst, 0);
    t.offset.assign(dst, 0);
    t.weights.clear();
    if (dst < src) {
        // Area averaging: target i covers source [i * r, (i + 1) * r).
        const double r = static_cast<double>(src) / dst;
        for (int i = 0; i < dst; ++i) {
            const double a = i * r, b = std::min((i + 1) * r, static_cast<double>(src));
            const int k0 = static_cast<int>(std::floor(a));
            const int k1 = std::min(static_cast<int>(std::ceil(b)), src);
            t.first[i] = k0;
            t.offset[i] = static_cast<int>(t.weights.size());
            for (int k = k0; k < k1; ++k) {
                const double overlap = std::min(b, k + 1.0) - std::max(a, static_cast<double>(k));
                t.weights.push_back(static_cast<float>(overlap / r));
            }
            t.count[i] = k1 - k0;
        }
    } else if (dst > src) {
        // Bilinear with pixel centres aligned; edges clamp.
        const double r = static_cast<double>(src) / dst;
        for (int i = 0; i < dst; ++i) {
            const double pos = (i + 0.5) * r - 0.5;
            t.offset[i] = static_cast<int>(t.weights.size());
            if (pos <= 0) {
                t.first[i] = 0;
                t.count[i] = 1;
                t.weights.push_back(1.0f);
            } else if (pos >= src - 1) {
                t.first[i] = src - 1;
                t.count[i] = 1;
                t.weights.push_back(1.0f);
            } else {
                const int k = static_cast<int>(std::floor(pos));
                const double f = pos - k;
                t.first[i] = k;
                t.count[i] = 2;
                t.weights.push_back(static_cast<float>(1.0 - f));
                t.weights.push_back(static_cast<float>(f));
            }
        }
    } else {
        for (int i = 0; i < dst; ++i) {
            t.first[i] = i;
            t.count[i] = 1;
            t.offset[i] = static_cast<int>(t.weights.size());
            t.weights.push_back(1.0f);
        }
    }
}

struct Scratch {
    AxisTaps xs, ys;
    std::vector<float> row;
};

Scratch& scratch() {
    thread_local Scratch s;
    return s;
}

// Vertical pass of `channels`-wide rows into `row`, then horizontal pass through `emit`.
template <class Src, class Emit>
void resample(const Src* src, int srcW, int srcH, size_t stride, int channels, int width, int height, Emit emit) {
    Scratch& s = scratch();
    buildTaps(srcW, width, s.xs);
    buildTaps(srcH, height, s.ys);
    const size_t rowLen = static_cast<size_t>(srcW) * channels;
    s.row.resize(rowLen);
    float* row = s.row.data();
    for (int j = 0; j < height; ++j) {
        std::fill(row, row + rowLen, 0.0f);
        const int n = s.ys.count[j];
        for (int k = 0; k < n; ++k) {
            const float w = s.ys.weights[s.ys.offset[j] + k];
            const Src* in = src + static_cast<size_t>(s.ys.first[j] + k) * stride;
            for (size_t x = 0; x < rowLen; ++x) row[x] += w * static_cast<float>(in[x]);
        }
        for (int i = 0; i < width; ++i) {
            const int first = s.xs.first[i], count = s.xs.count[i];
            const float* w = s.xs.weights.data() + s.xs.offset[i];
            for (int c = 0; c < channels; ++c) {
                float v = 0;
                for (int k = 0; k < count; ++k) v += w[k] * row[static_cast<size_t>(first + k) * channels + c];
                emit(j, i, c, v);
            }
        }
    }
}

}  // namespace

bool resizeRgba(const platform::RgbaImage& src, int width, int height, platform::RgbaImage& out) {
    if (width < 1 || height < 1 || src.empty()) return false;
    if (src.pixels.size() < static_cast<size_t>(src.width) * src.height * 4) return false;
    out.width = width;
    out.height = height;
    out.pixels.resize(static_cast<size_t>(width) * height * 4);
    uint8_t* dst = out.pixels.data();
    resample(src.pixels.data(), src.width, src.height, static_cast<size_t>(src.width) * 4, 4, width, height,
             [&](int j, int i, int c, float v) {
                 const float clamped = std::clamp(v + 0.5f, 0.0f, 255.0f);
                 dst[(static_cast<size_t>(j) * width + i) * 4 + c] = static_cast<uint8_t>(clamped);
             });
    return true;
}

SharedImage resized(const SharedImage& image, int width, int height) {
    if (!image || width < 1 || height < 1 || image->empty()) return nullptr;
    if (image->width == width && image->height == height) return image;
    auto out = std::make_shared<platform::RgbaImage>();
    if (!resizeRgba(*image, width, height, *out)) return nullptr;
    return out;
}

bool resizeGray(const float* src, int srcW, int srcH, size_t srcStride, int width, int height, std::vector<float>& out) {
    if (width < 1 || height < 1 || srcW < 1 || srcH < 1) return false;
    out.resize(static_cast<size_t>(width) * height);
    if (width == srcW && height == srcH) {
        for (int y = 0; y < height; ++y)
            std::memcpy(out.data() + static_cast<size_t>(y) * width, src + y * srcStride, sizeof(float) * width);
        return true;
    }
    float* dst = out.data();
    resample(src, srcW, srcH, srcStride, 1, width, height,
             [&](int j, int i, int, float v) { dst[static_cast<size_t>(j) * width + i] = v; });
    return true;
}

}  // namespace tapforge::vision
