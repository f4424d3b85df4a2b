#include "vision/ImageMatcher.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "vision/PixelBuffer.h"
#include "vision/Resize.h"

namespace tapforge::vision {

namespace {

// Per-thread buffers, reused by every search on that thread: a polling check then touches no
// fresh memory after its first attempt.
struct Scratch {
    std::vector<double> sum, sumSq;    // summed-area tables, (areaW + 1) x (areaH + 1)
    std::vector<double> area;          // the searched image area as doubles, areaW x areaH
    std::vector<double> templ;         // the template as doubles
    std::vector<float> cropGray, templGray, levelImage, levelTempl;
    platform::RgbaImage templResized;
};

Scratch& scratch() {
    thread_local Scratch s;
    return s;
}

using v4d = double __attribute__((vector_size(32), aligned(8), may_alias));

// Cross sums C for `blocks` x 4 consecutive positions starting at `row` (top-left of the first
// window) of a row-major double image with `stride` doubles per row. Products of two floats are
// exact in double, so fused and separate multiply-adds give the same sums.
template <int Blocks>
__attribute__((always_inline)) inline void crossBlock(const double* row, size_t stride, const double* t, int tw, int th,
                                                      double* out) {
    v4d acc[Blocks];
    for (int b = 0; b < Blocks; ++b) acc[b] = v4d{0, 0, 0, 0};
    for (int j = 0; j < th; ++j) {
        const double* r = row + static_cast<size_t>(j) * stride;
        const double* tr = t + static_cast<size_t>(j) * tw;
        for (int i = 0; i < tw; ++i) {
            const double tv = tr[i];
            const v4d tb = {tv, tv, tv, tv};
            for (int b = 0; b < Blocks; ++b) acc[b] += *reinterpret_cast<const v4d*>(r + i + 4 * b) * tb;
        }
    }
    std::memcpy(out, acc, sizeof(acc));
}

double crossScalar(const double* row, size_t stride, const double* t, int tw, int th) {
    double c = 0;
    for (int j = 0; j < th; ++j) {
        const double* r = row + static_cast<size_t>(j) * stride;
        const double* tr = t + static_cast<size_t>(j) * tw;
        for (int i = 0; i < tw; ++i) c += r[i] * tr[i];
    }
    return c;
}

// Cross sums of `count` consecutive positions: 32 at a time, then 4, then one by one.
template <bool>
__attribute__((always_inline)) inline void crossRowImpl(const double* row, size_t stride, const double* t, int tw,
                                                        int th, int count, double* out) {
    int k = 0;
    for (; k + 32 <= count; k += 32) crossBlock<8>(row + k, stride, t, tw, th, out + k);
    for (; k + 4 <= count; k += 4) crossBlock<1>(row + k, stride, t, tw, th, out + k);
    for (; k < count; ++k) out[k] = crossScalar(row + k, stride, t, tw, th);
}

#if defined(__x86_64__)
__attribute__((target("avx2,fma"))) void crossRowAvx2(const double* row, size_t stride, const double* t, int tw,
                                                      int th, int count, double* out) {
    crossRowImpl<true>(row, stride, t, tw, th, count, out);
}
#endif

void crossRowBase(const double* row, size_t stride, const double* t, int tw, int th, int count, double* out) {
    crossRowImpl<false>(row, stride, t, tw, th, count, out);
}

void crossRow(const double* row, size_t stride, const double* t, int tw, int th, int count, double* out) {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (avx2) return crossRowAvx2(row, stride, t, tw, th, count, out);
#endif
    crossRowBase(row, stride, t, tw, th, count, out);
}

// znccBest over an image given by rows `stride` floats apart.
ZnccHit znccStrided(const float* image, int iw, int ih, size_t stride, const float* templ, int tw, int th,
                    IntRange rangeX, IntRange rangeY, int step) {
    ZnccHit best{-1.0, rangeX.lower, rangeY.lower};
    if (tw < 1 || th < 1 || iw < tw || ih < th || rangeX.empty() || rangeY.empty()) return best;
    step = std::max(step, 1);
    // Only positions whose window lies inside the image.
    const int x0 = std::max(rangeX.lower, 0), x1 = std::min(rangeX.upper, iw - tw + 1);
    const int y0 = std::max(rangeY.lower, 0), y1 = std::min(rangeY.upper, ih - th + 1);
    if (x1 <= x0 || y1 <= y0) return best;
    // Positions visited with a step start at the range's lower bound.
    const int xFirst = rangeX.lower >= 0 ? rangeX.lower : rangeX.lower + (-rangeX.lower + step - 1) / step * step;
    const int yFirst = rangeY.lower >= 0 ? rangeY.lower : rangeY.lower + (-rangeY.lower + step - 1) / step * step;
    if (xFirst >= x1 || yFirst >= y1) return best;

    const double n = static_cast<double>(tw) * th;
    Scratch& s = scratch();
    s.templ.resize(static_cast<size_t>(tw) * th);
    double sumT = 0, sumT2 = 0;
    for (size_t k = 0; k < s.templ.size(); ++k) {
        const double v = templ[k];
        s.templ[k] = v;
        sumT += v;
        sumT2 += v * v;
    }
    const double varT = sumT2 - sumT * sumT / n;
    if (!(varT > 1e-6)) return best;

    // The image area the visited windows cover, as doubles, with its summed-area tables
    // (row 0 and column 0 zero; built row by row from a running row sum plus the entry above).
    const int ax = xFirst, ay = yFirst;
    const int aw = x1 - 1 + tw - ax, ah = y1 - 1 + th - ay;
    const size_t sw = static_cast<size_t>(aw) + 1;
    // Padding lets the 4-wide loads of the last block read past the last column harmlessly.
    s.area.resize(static_cast<size_t>(aw) * ah + 32);
    s.sum.assign(sw * (ah + 1), 0.0);
    s.sumSq.assign(sw * (ah + 1), 0.0);
    for (int y = 0; y < ah; ++y) {
        const float* in = image + static_cast<size_t>(ay + y) * stride + ax;
        double* a = s.area.data() + static_cast<size_t>(y) * aw;
        const double* above = s.sum.data() + static_cast<size_t>(y) * sw;
        const double* aboveSq = s.sumSq.data() + static_cast<size_t>(y) * sw;
        double* cur = s.sum.data() + static_cast<size_t>(y + 1) * sw;
        double* curSq = s.sumSq.data() + static_cast<size_t>(y + 1) * sw;
        double row = 0, rowSq = 0;
        for (int x = 0; x < aw; ++x) {
            const double v = in[x];
            a[x] = v;
            row += v;
            rowSq += v * v;
            cur[x + 1] = row + above[x + 1];
            curSq[x + 1] = rowSq + aboveSq[x + 1];
        }
    }
    std::fill(s.area.end() - 32, s.area.end(), 0.0);

    const double* I = s.sum.data();
    const double* Q = s.sumSq.data();
    auto windowVar = [&](int lx, int ly, double& S) {
        const size_t top = static_cast<size_t>(ly) * sw, bottom = static_cast<size_t>(ly + th) * sw;
        S = I[bottom + lx + tw] - I[top + lx + tw] - I[bottom + lx] + I[top + lx];
        const double S2 = Q[bottom + lx + tw] - Q[top + lx + tw] - Q[bottom + lx] + Q[top + lx];
        return S2 - S * S / n;
    };
    auto consider = [&](double C, double S, double varW, int x, int y) {
        const double score = (C - S * sumT / n) / std::sqrt(varW * varT);
        if (score > best.score) best = ZnccHit{score, x, y};
    };

    if (step == 1) {
        const int count = x1 - xFirst;
        thread_local std::vector<double> cross, var, sums;
        cross.resize(count);
        var.resize(count);
        sums.resize(count);
        for (int y = yFirst; y < y1; ++y) {
            const int ly = y - ay;
            // Flat windows are skipped before their cross term; a row of only flat windows
            // costs nothing but the table lookups.
            int firstLive = count, lastLive = -1;
            for (int k = 0; k < count; ++k) {
                var[k] = windowVar(k, ly, sums[k]);
                if (var[k] > 1e-6) {
                    firstLive = std::min(firstLive, k);
                    lastLive = k;
                }
            }
            if (lastLive < 0) continue;
            crossRow(s.area.data() + static_cast<size_t>(ly) * aw + firstLive, static_cast<size_t>(aw), s.templ.data(),
                     tw, th, lastLive - firstLive + 1, cross.data() + firstLive);
            for (int k = firstLive; k <= lastLive; ++k)
                if (var[k] > 1e-6) consider(cross[k], sums[k], var[k], xFirst + k, y);
        }
    } else {
        for (int y = yFirst; y < y1; y += step) {
            for (int x = xFirst; x < x1; x += step) {
                double S;
                const double varW = windowVar(x - ax, y - ay, S);
                if (!(varW > 1e-6)) continue;
                const double C = crossScalar(s.area.data() + static_cast<size_t>(y - ay) * aw + (x - ax),
                                             static_cast<size_t>(aw), s.templ.data(), tw, th);
                consider(C, S, varW, x, y);
            }
        }
    }
    return best;
}

// Whole-number pixel rectangle inside a width x height image, or false when empty.
struct PixelRect {
    int x = 0, y = 0, width = 0, height = 0;
};

bool clipToBounds(const platform::Rect& r, int width, int height, PixelRect& out) {
    if (!std::isfinite(r.x) || !std::isfinite(r.y) || !std::isfinite(r.width) || !std::isfinite(r.height)) return false;
    const platform::Rect c = r.integral().intersected(platform::Rect{0, 0, double(width), double(height)});
    if (c.isNull()) return false;
    out = PixelRect{static_cast<int>(c.x), static_cast<int>(c.y), static_cast<int>(c.width), static_cast<int>(c.height)};
    return out.width > 0 && out.height > 0;
}

bool consistent(const platform::RgbaImage& image) {
    return !image.empty() && image.pixels.size() >= static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4;
}

}  // namespace

std::vector<double> ImageMatcher::planLevels(int searchW, int searchH, int templateW, int templateH) {
    const double f = std::max(searchW, searchH) / 300.0;
    if (f <= 1.0) return {1.0};
    const double t = std::min(templateW, templateH) / 5.0;
    if (t < 1.0) return {1.0};
    std::vector<double> levels;
    for (double s = std::min(t, f); s > 1.6; s /= 3.0) levels.push_back(s);
    levels.push_back(1.0);
    return levels;
}

ZnccHit ImageMatcher::znccBest(std::span<const float> image, int imageWidth, int imageHeight, std::span<const float> templ,
                               int templateWidth, int templateHeight, IntRange rangeX, IntRange rangeY, int step) {
    // Spans shorter than their stated sizes are treated like an image smaller than the template.
    if (imageWidth < 1 || imageHeight < 1 || templateWidth < 1 || templateHeight < 1 ||
        image.size() < static_cast<size_t>(imageWidth) * imageHeight ||
        templ.size() < static_cast<size_t>(templateWidth) * templateHeight)
        return ZnccHit{-1.0, rangeX.lower, rangeY.lower};
    return znccStrided(image.data(), imageWidth, imageHeight, static_cast<size_t>(imageWidth), templ.data(), templateWidth,
                       templateHeight, rangeX, rangeY, step);
}

ImageMatchResult ImageMatcher::find(const platform::RgbaImage& templ, platform::Size templatePointSize,
                                    const ScreenSnapshot& snapshot, std::optional<platform::Rect> searchPixelRect,
                                    double threshold) {
    const ImageMatchResult nothing;
    if (!snapshot.image || !consistent(*snapshot.image) || !consistent(templ)) return nothing;
    const double scale = snapshot.scale;
    if (!std::isfinite(scale) || !(scale > 0)) return nothing;
    const platform::RgbaImage& screen = *snapshot.image;

    // 1-2. The searched rectangle R, cropped out of the snapshot.
    PixelRect crop;
    if (!clipToBounds(searchPixelRect.value_or(platform::Rect{0, 0, double(screen.width), double(screen.height)}),
                      screen.width, screen.height, crop))
        return nothing;
    if (crop.width < 2 || crop.height < 2) return nothing;

    // 3-4. The template in screen pixels.
    Scratch& s = scratch();
    const platform::RgbaImage* tp = &templ;
    const double wantW = std::max(std::round(templatePointSize.width * scale), 2.0);
    const double wantH = std::max(std::round(templatePointSize.height * scale), 2.0);
    if (std::isfinite(wantW) && std::isfinite(wantH)) {
        // Larger than the crop is nothing found whatever the resize would give; checked first
        // so an absurd point size costs no allocation.
        if (wantW > crop.width || wantH > crop.height) return nothing;
        const int w = static_cast<int>(wantW), h = static_cast<int>(wantH);
        if (w != templ.width || h != templ.height) {
            if (resizeRgba(templ, w, h, s.templResized)) tp = &s.templResized;
        }
    }
    const int tw = tp->width, th = tp->height;
    if (tw < 2 || th < 2 || tw > crop.width || th > crop.height) return nothing;

    s.templGray.resize(static_cast<size_t>(tw) * th);
    grayFloats(tp->pixels.data(), s.templGray.size(), s.templGray.data());
    s.cropGray.resize(static_cast<size_t>(crop.width) * crop.height);
    for (int y = 0; y < crop.height; ++y)
        grayFloats(screen.pixel(crop.x, crop.y + y), static_cast<size_t>(crop.width),
                   s.cropGray.data() + static_cast<size_t>(y) * crop.width);

    // 5-7. The pyramid, coarsest level first.
    const std::vector<double> levels = planLevels(crop.width, crop.height, tw, th);
    platform::Rect region{0, 0, double(crop.width), double(crop.height)};
    double lastScore = -1.0;
    platform::Point found{0, 0};
    for (size_t li = 0; li < levels.size(); ++li) {
        const double f = levels[li];
        PixelRect piece;
        if (!clipToBounds(region, crop.width, crop.height, piece)) break;
        if (piece.width < tw || piece.height < th) break;
        const int sw = std::max(static_cast<int>(std::round(piece.width / f)), 1);
        const int sh = std::max(static_cast<int>(std::round(piece.height / f)), 1);
        const int ltw = static_cast<int>(std::round(tw / f)), lth = static_cast<int>(std::round(th / f));
        if (sw < ltw || sh < lth) break;
        const int ltw1 = std::max(ltw, 1), lth1 = std::max(lth, 1);

        const float* pieceGray = s.cropGray.data() + static_cast<size_t>(piece.y) * crop.width + piece.x;
        const float* levelImage = pieceGray;
        size_t levelStride = static_cast<size_t>(crop.width);
        if (sw != piece.width || sh != piece.height) {
            if (!resizeGray(pieceGray, piece.width, piece.height, crop.width, sw, sh, s.levelImage)) break;
            levelImage = s.levelImage.data();
            levelStride = static_cast<size_t>(sw);
        }
        if (!resizeGray(s.templGray.data(), tw, th, static_cast<size_t>(tw), ltw1, lth1, s.levelTempl)) break;

        const ZnccHit hit = znccStrided(levelImage, sw, sh, levelStride, s.levelTempl.data(), ltw1, lth1,
                                        IntRange{0, sw - ltw1 + 1}, IntRange{0, sh - lth1 + 1}, 1);
        if (hit.score <= -0.5) break;

        const double sx = static_cast<double>(piece.width) / sw, sy = static_cast<double>(piece.height) / sh;
        found = platform::Point{piece.x + sx * hit.x, piece.y + sy * hit.y};
        lastScore = hit.score;
        if (li + 1 == levels.size()) break;
        const double m = std::ceil(std::max(sx, sy)) + 2;
        region = platform::Rect{found.x - m, found.y - m, tw + 2 * m, th + 2 * m};
    }

    // 8. Back to global points.
    if (!(lastScore > -0.5)) return nothing;
    ImageMatchResult result;
    result.matched = lastScore >= threshold;
    result.score = std::clamp(lastScore, 0.0, 1.0);
    const double left = crop.x + found.x, top = crop.y + found.y;
    result.rect = platform::Rect{left / scale + snapshot.origin.x, top / scale + snapshot.origin.y, tw / scale, th / scale};
    result.center = platform::Point{(left + tw * 0.5) / scale + snapshot.origin.x, (top + th * 0.5) / scale + snapshot.origin.y};
    return result;
}

}  // namespace tapforge::vision
