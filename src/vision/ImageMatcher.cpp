#include "vision/ImageMatcher.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "vision/FullSearch.h"
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
    std::vector<float> cropGray, templGray, levelImage, levelTempl, seedImage, seedTempl;
    std::vector<double> scoreMap;      // the coarsest level's score of every position
    platform::RgbaImage templResized;
};

Scratch& scratch() {
    thread_local Scratch s;
    return s;
}

using v4d = double __attribute__((vector_size(32), aligned(8), may_alias));

double crossScalar(const double* row, size_t stride, const double* t, int tw, int th) {
    double c = 0;
    for (int j = 0; j < th; ++j) {
        const double* r = row + static_cast<size_t>(j) * stride;
        const double* tr = t + static_cast<size_t>(j) * tw;
        for (int i = 0; i < tw; ++i) c += r[i] * tr[i];
    }
    return c;
}

// One row of positions being scored, with what the early exit needs.
//
// Early exit: after the first k template rows of a window, its numerator
// N = C - S * sumT / n = sum I (T - meanT) splits into the exact part of those rows and the part
// of the remaining rows, which Cauchy-Schwarz bounds by the remaining rows' own variances (both
// from the summed-area tables and from tables of the template). When the resulting upper bound
// of the score stays below the best score already known — found earlier in the scan or at a
// seed position — the window cannot be the answer: the scan returns the first position that
// reaches the maximum, and that position is never cut short. Scores of windows that are not cut
// short are computed exactly as without the exit, so results do not change. With `slack`, a
// window is only abandoned when it cannot come within `slack` of that best score, so every
// position scoring at least (final best - slack) is still computed exactly.
struct RowScan {
    const double* I = nullptr;
    const double* Q = nullptr;
    size_t satStride = 0;
    int tw = 0, th = 0;
    double n = 0, sumT = 0, varT = 0, meanT = 0;
    const double* restSumT = nullptr;   // indexed by template rows done
    const double* restVarT = nullptr;
    const int* stageEnds = nullptr;
    int stages = 0;
    int ly = 0, y = 0, xFirst = 0;
    const double* var = nullptr;         // per position of the row
    const double* sums = nullptr;
    double seedScore = -1.0;
    double slack = 0;
    double* rowScores = nullptr;         // per position of the row, or null
    ZnccHit* best = nullptr;

    bool anyAlive(const double* partial, int k0, int count, int rowsDone) const;
    void finish(const double* cross, int k0, int count) const;
};

// Below this the exit rarely pays and rounding in near-flat windows could matter.
constexpr double pruneFloor = 0.3;
constexpr double pruneMargin = 1e-6;

__attribute__((noinline)) bool RowScan::anyAlive(const double* partial, int k0, int count, int rowsDone) const {
    const double thr = std::max(seedScore, best->score) - slack;
    if (thr < pruneFloor) return true;
    const double nRest = static_cast<double>(th - rowsDone) * tw;
    const size_t mid = static_cast<size_t>(ly + rowsDone) * satStride, bottom = static_cast<size_t>(ly + th) * satStride;
    for (int b = 0; b < count; ++b) {
        const int k = k0 + b;
        const double varW = var[k];
        if (!(varW > 1e-6)) continue;
        if (varW < 1e-3 * n) return true;
        const double sR = I[bottom + k + tw] - I[mid + k + tw] - I[bottom + k] + I[mid + k];
        const double s2R = Q[bottom + k + tw] - Q[mid + k + tw] - Q[bottom + k] + Q[mid + k];
        const double varR = std::max(s2R - sR * sR / nRest, 0.0);
        const double top = partial[b] - (sums[k] - sR) * meanT;
        const double rest = sR / nRest * (restSumT[rowsDone] - nRest * meanT) + std::sqrt(varR * restVarT[rowsDone]);
        if ((top + rest) / std::sqrt(varW * varT) >= thr - pruneMargin) return true;
    }
    return false;
}

__attribute__((noinline)) void RowScan::finish(const double* cross, int k0, int count) const {
    for (int b = 0; b < count; ++b) {
        const int k = k0 + b;
        if (!(var[k] > 1e-6)) continue;
        const double score = (cross[b] - sums[k] * sumT / n) / std::sqrt(var[k] * varT);
        if (rowScores) rowScores[k] = score;
        if (score > best->score) *best = ZnccHit{score, xFirst + k, y};
    }
}

// Cross sums C for Blocks x 4 consecutive positions starting at `row` (top-left of the first
// window) of a row-major double image with `stride` doubles per row, row stage by row stage,
// giving up when no position of the block can still win. Products of two floats are exact in
// double, so fused and separate multiply-adds give the same sums.
template <int Blocks>
__attribute__((always_inline)) inline bool crossBlock(const double* row, size_t stride, const double* t,
                                                      const RowScan& scan, int k0, double* out) {
    const int tw = scan.tw, th = scan.th;
    v4d acc[Blocks];
    for (int b = 0; b < Blocks; ++b) acc[b] = v4d{0, 0, 0, 0};
    int j = 0;
    for (int st = 0; st < scan.stages; ++st) {
        for (const int end = scan.stageEnds[st]; j < end; ++j) {
            const double* r = row + static_cast<size_t>(j) * stride;
            const double* tr = t + static_cast<size_t>(j) * tw;
            for (int i = 0; i < tw; ++i) {
                const double tv = tr[i];
                const v4d tb = {tv, tv, tv, tv};
                for (int b = 0; b < Blocks; ++b) acc[b] += *reinterpret_cast<const v4d*>(r + i + 4 * b) * tb;
            }
        }
        if (j < th) {
            std::memcpy(out, acc, sizeof(acc));
            if (!scan.anyAlive(out, k0, 4 * Blocks, j)) return false;
        }
    }
    std::memcpy(out, acc, sizeof(acc));
    return true;
}

// Scores positions first .. last of one row: 32 at a time, then 4, then one by one, in order.
__attribute__((always_inline)) inline void scanRowImpl(const double* areaRow, size_t stride, const double* t,
                                                       const RowScan& scan, int first, int last) {
    alignas(32) double out[32];
    int k = first;
    for (; k + 32 <= last + 1; k += 32)
        if (crossBlock<8>(areaRow + k, stride, t, scan, k, out)) scan.finish(out, k, 32);
    for (; k + 4 <= last + 1; k += 4)
        if (crossBlock<1>(areaRow + k, stride, t, scan, k, out)) scan.finish(out, k, 4);
    for (; k <= last; ++k) {
        out[0] = crossScalar(areaRow + k, stride, t, scan.tw, scan.th);
        scan.finish(out, k, 1);
    }
}

#if defined(__x86_64__)
__attribute__((target("avx2,fma"))) void scanRowAvx2(const double* areaRow, size_t stride, const double* t,
                                                     const RowScan& scan, int first, int last) {
    scanRowImpl(areaRow, stride, t, scan, first, last);
}
#endif

void scanRowBase(const double* areaRow, size_t stride, const double* t, const RowScan& scan, int first, int last) {
    scanRowImpl(areaRow, stride, t, scan, first, last);
}

void scanRow(const double* areaRow, size_t stride, const double* t, const RowScan& scan, int first, int last) {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (avx2) return scanRowAvx2(areaRow, stride, t, scan, first, last);
#endif
    scanRowBase(areaRow, stride, t, scan, first, last);
}

// znccBest over an image given by rows `stride` floats apart. `seedScore`, when above -1, is
// the exact score of some visited position; it only lets hopeless windows be abandoned early.
// `scores` (step 1 only), when given, receives the score of every visited position, row-major
// over the positions whose window fits the image; flat windows and windows abandoned as scoring
// below (best - slack) get -infinity.
ZnccHit znccStrided(const float* image, int iw, int ih, size_t stride, const float* templ, int tw, int th,
                    IntRange rangeX, IntRange rangeY, int step, double seedScore = -1.0, double* scores = nullptr,
                    double slack = 0, const std::atomic<bool>* stop = nullptr) {
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
    s.area.resize(static_cast<size_t>(aw) * ah);
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

    const double* I = s.sum.data();
    const double* Q = s.sumSq.data();
    auto windowVar = [&](int lx, int ly, double& S) {
        const size_t top = static_cast<size_t>(ly) * sw, bottom = static_cast<size_t>(ly + th) * sw;
        S = I[bottom + lx + tw] - I[top + lx + tw] - I[bottom + lx] + I[top + lx];
        const double S2 = Q[bottom + lx + tw] - Q[top + lx + tw] - Q[bottom + lx] + Q[top + lx];
        return S2 - S * S / n;
    };

    if (step == 1) {
        const int count = x1 - xFirst;
        thread_local std::vector<double> var, sums, restSumT, restVarT;
        thread_local std::vector<int> stageEnds;
        var.resize(count);
        sums.resize(count);
        // The template's sums over its rows j..th-1, for every j.
        restSumT.assign(th + 1, 0.0);
        restVarT.assign(th + 1, 0.0);
        double rs = 0, rs2 = 0;
        for (int j = th - 1; j >= 0; --j) {
            for (int i = 0; i < tw; ++i) {
                const double v = s.templ[static_cast<size_t>(j) * tw + i];
                rs += v;
                rs2 += v * v;
            }
            restSumT[j] = rs;
            restVarT[j] = std::max(rs2 - rs * rs / (static_cast<double>(th - j) * tw), 0.0);
        }
        // Checkpoints after 1, 2, 4, ... times the first stage's rows: most hopeless windows are
        // recognised at the first one; the first stage is long enough to pay for a check.
        const int firstStage = std::max(1, (64 + tw - 1) / tw);
        stageEnds.clear();
        for (int e = firstStage; e < th; e *= 2) stageEnds.push_back(e);
        stageEnds.push_back(th);

        RowScan scan;
        scan.I = I;
        scan.Q = Q;
        scan.satStride = sw;
        scan.tw = tw;
        scan.th = th;
        scan.n = n;
        scan.sumT = sumT;
        scan.varT = varT;
        scan.meanT = sumT / n;
        scan.restSumT = restSumT.data();
        scan.restVarT = restVarT.data();
        scan.stageEnds = stageEnds.data();
        scan.stages = static_cast<int>(stageEnds.size());
        scan.xFirst = xFirst;
        scan.var = var.data();
        scan.sums = sums.data();
        scan.seedScore = seedScore;
        scan.slack = scores ? slack : 0.0;
        scan.best = &best;
        for (int y = yFirst; y < y1; ++y) {
            if (stop && stop->load(std::memory_order_relaxed)) return ZnccHit{-1.0, rangeX.lower, rangeY.lower};
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
            if (scores) {
                scan.rowScores = scores + static_cast<size_t>(y - yFirst) * count;
                std::fill_n(scan.rowScores, count, -std::numeric_limits<double>::infinity());
            }
            if (lastLive < 0) continue;
            scan.ly = ly;
            scan.y = y;
            scanRow(s.area.data() + static_cast<size_t>(ly) * aw, static_cast<size_t>(aw), s.templ.data(), scan,
                    firstLive, lastLive);
        }
    } else {
        for (int y = yFirst; y < y1; y += step) {
            for (int x = xFirst; x < x1; x += step) {
                double S;
                const double varW = windowVar(x - ax, y - ay, S);
                if (!(varW > 1e-6)) continue;
                const double C = crossScalar(s.area.data() + static_cast<size_t>(y - ay) * aw + (x - ax),
                                             static_cast<size_t>(aw), s.templ.data(), tw, th);
                const double score = (C - S * sumT / n) / std::sqrt(varW * varT);
                if (score > best.score) best = ZnccHit{score, x, y};
            }
        }
    }
    return best;
}

// A good score to start a large exhaustive search from: a quick search of reduced copies, then
// a full-resolution look around its hit. Only speeds up the search (see RowScan); -1 when the
// reduction leaves nothing to search.
double seedScore(const float* image, int iw, int ih, size_t stride, const float* templ, int tw, int th,
                 const std::atomic<bool>* stop) {
    Scratch& s = scratch();
    const int g = std::clamp(std::min(tw, th) / 6, 2, 4);
    const int rw = std::max(static_cast<int>(std::lround(double(iw) / g)), 1);
    const int rh = std::max(static_cast<int>(std::lround(double(ih) / g)), 1);
    const int rtw = std::max(static_cast<int>(std::lround(double(tw) / g)), 1);
    const int rth = std::max(static_cast<int>(std::lround(double(th) / g)), 1);
    if (rw < rtw || rh < rth) return -1.0;
    if (!resizeGray(image, iw, ih, stride, rw, rh, s.seedImage)) return -1.0;
    if (!resizeGray(templ, tw, th, static_cast<size_t>(tw), rtw, rth, s.seedTempl)) return -1.0;
    const ZnccHit coarse = znccStrided(s.seedImage.data(), rw, rh, static_cast<size_t>(rw), s.seedTempl.data(), rtw, rth,
                                       IntRange{0, rw - rtw + 1}, IntRange{0, rh - rth + 1}, 1, -1.0, nullptr, 0, stop);
    if (!(coarse.score > 0)) return -1.0;
    const int cx = static_cast<int>(std::lround(coarse.x * double(iw) / rw));
    const int cy = static_cast<int>(std::lround(coarse.y * double(ih) / rh));
    const int m = g + 2;
    return znccStrided(image, iw, ih, stride, templ, tw, th, IntRange{cx - m, cx + m + 1}, IntRange{cy - m, cy + m + 1}, 1)
        .score;
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

// The coarsest level's peaks that are refined further, at most.
constexpr int maxCandidates = 5;

// Final scores of different tracks closer than this are a tie (the top-left spot wins): they come
// from different windows' summed-area tables, whose rounding alone would otherwise order two
// exact copies.
constexpr double tieTolerance = 1e-9;

// How far below the coarsest level's best score a peak may lie and still be refined. The exact
// spot loses score there because edges land up to a level pixel off (the template's rounded
// level size, the level's pixel grid), which weighs less the more level pixels the template
// spans; blocky marks of 60 to 100 pixels searched on a whole screen were measured up to 0.35
// below a partial overlap of themselves at 9 to 16 level pixels, and within 0.11 at 31 and more.
// A wider margin also weakens the early exit at that level, which costs most for large templates.
double candidateSlack(int levelTemplW, int levelTemplH) {
    return std::clamp(6.0 / std::min(levelTemplW, levelTemplH), 0.15, 0.4);
}

enum class LevelMap { none, keep };

// One level's search of a region of the crop, in crop pixels.
struct LevelSearch {
    ZnccHit hit;                          // in level pixels of the piece
    int pieceX = 0, pieceY = 0;           // the searched piece's top-left in the crop
    double stepX = 1, stepY = 1;          // crop pixels per level pixel
    int positionsX = 0, positionsY = 0;   // positions searched: the score map's size
    double slack = 0;                     // the score map holds every score >= best - slack

    platform::Point pointOf(int x, int y) const { return {pieceX + stepX * x, pieceY + stepY * y}; }
};

// Searches `region` of the grey crop (cropW x cropH in scratch.cropGray) at downscale factor f
// with the tw x th template (scratch.templGray). False when the pyramid stops at this level: the
// region clipped below the template, a level too small, a failed resize, a score <= -0.5. With
// LevelMap::keep, scratch.scoreMap receives the score of every position (see znccStrided).
// `known`, when above -1, is an exact score this level need not beat: windows that cannot reach
// it may be abandoned, so a hit below `known` only says the region's best is below it too.
bool searchLevel(Scratch& s, int cropW, int cropH, int tw, int th, double f, const platform::Rect& region, LevelMap map,
                 double known, const std::atomic<bool>* stop, LevelSearch& out) {
    out.hit = ZnccHit{};
    PixelRect piece;
    if (!clipToBounds(region, cropW, cropH, piece)) return false;
    if (piece.width < tw || piece.height < th) return false;
    const int sw = std::max(static_cast<int>(std::round(piece.width / f)), 1);
    const int sh = std::max(static_cast<int>(std::round(piece.height / f)), 1);
    const int ltw = static_cast<int>(std::round(tw / f)), lth = static_cast<int>(std::round(th / f));
    if (sw < ltw || sh < lth) return false;
    const int ltw1 = std::max(ltw, 1), lth1 = std::max(lth, 1);

    const float* pieceGray = s.cropGray.data() + static_cast<size_t>(piece.y) * cropW + piece.x;
    const float* levelImage = pieceGray;
    size_t levelStride = static_cast<size_t>(cropW);
    if (sw != piece.width || sh != piece.height) {
        if (!resizeGray(pieceGray, piece.width, piece.height, cropW, sw, sh, s.levelImage)) return false;
        levelImage = s.levelImage.data();
        levelStride = static_cast<size_t>(sw);
    }
    if (!resizeGray(s.templGray.data(), tw, th, static_cast<size_t>(tw), ltw1, lth1, s.levelTempl)) return false;

    double seed = -1.0;
    const double work = double(sw - ltw1 + 1) * (sh - lth1 + 1) * ltw1 * lth1;
    if (work > 4e6 && std::min(ltw1, lth1) >= 8)
        seed = seedScore(levelImage, sw, sh, levelStride, s.levelTempl.data(), ltw1, lth1, stop);
    seed = std::max(seed, known);
    out.positionsX = sw - ltw1 + 1;
    out.positionsY = sh - lth1 + 1;
    out.slack = candidateSlack(ltw1, lth1);
    double* scores = nullptr;
    if (map == LevelMap::keep) {
        s.scoreMap.resize(static_cast<size_t>(out.positionsX) * out.positionsY);
        scores = s.scoreMap.data();
    }
    out.hit = znccStrided(levelImage, sw, sh, levelStride, s.levelTempl.data(), ltw1, lth1, IntRange{0, out.positionsX},
                          IntRange{0, out.positionsY}, 1, seed, scores, out.slack, stop);
    if (out.hit.score <= -0.5) return false;
    out.pieceX = piece.x;
    out.pieceY = piece.y;
    out.stepX = static_cast<double>(piece.width) / sw;
    out.stepY = static_cast<double>(piece.height) / sh;
    return true;
}

// How many level pixels the next level's window reaches around a hit: a position that close to a
// better peak lies inside that peak's next search anyway.
int reachInLevelPixels(const LevelSearch& level) {
    const double step = std::max(level.stepX, level.stepY);
    return std::max(1, static_cast<int>(std::floor((std::ceil(step) + 2) / step)));
}

struct Peak {
    double score;
    int x, y;
};

// The best local maxima of a w x h score map scoring at least best - slack, best first
// (ties in row-major order), at most maxCandidates. A position is a local maximum when no position
// within `radius` (both axes) scores higher or the same earlier in row-major order, so a plateau
// gives one peak and the map's first best position always comes first. Returns the count.
int coarsePeaks(const double* map, int w, int h, double best, double slack, int radius, Peak* out) {
    const double cut = best - slack;
    int count = 0;
    for (int y = 0; y < h; ++y) {
        const double* row = map + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            const double v = row[x];
            if (!(v >= cut)) continue;
            if (count == maxCandidates && !(v > out[count - 1].score)) continue;
            bool peak = true;
            for (int ny = std::max(y - radius, 0); peak && ny <= std::min(y + radius, h - 1); ++ny) {
                const double* other = map + static_cast<size_t>(ny) * w;
                for (int nx = std::max(x - radius, 0); nx <= std::min(x + radius, w - 1); ++nx) {
                    const bool earlier = ny < y || (ny == y && nx < x);
                    if (other[nx] > v || (earlier && other[nx] == v)) {
                        peak = false;
                        break;
                    }
                }
            }
            if (!peak) continue;
            int at = std::min(count, maxCandidates - 1);
            while (at > 0 && out[at - 1].score < v) {
                out[at] = out[at - 1];
                --at;
            }
            out[at] = Peak{v, x, y};
            count = std::min(count + 1, maxCandidates);
        }
    }
    return count;
}

// One coarse peak on its way through the finer levels.
struct Track {
    double score;
    platform::Point found;                // in crop pixels
    double stepX, stepY;                  // of the level that gave `found`
    bool active = true;                   // false once a finer level stopped for it
    bool beaten = false;                  // known to end below another track's final score
};

// For an area too small for the pyramid: the best place of a quick search of copies reduced
// 2 to 4 times, in crop pixels; false when that would not pay or leaves nothing to search.
bool reducedCandidate(Scratch& s, int cropW, int cropH, int tw, int th, const std::atomic<bool>* stop, platform::Point& out) {
    const double work = double(cropW - tw + 1) * (cropH - th + 1) * tw * th;
    if (work < 2e6 || std::min(tw, th) < 12) return false;
    const int g = std::clamp(std::min(tw, th) / 6, 2, 4);
    const int rw = static_cast<int>(std::lround(double(cropW) / g)), rh = static_cast<int>(std::lround(double(cropH) / g));
    const int rtw = static_cast<int>(std::lround(double(tw) / g)), rth = static_cast<int>(std::lround(double(th) / g));
    if (rw < rtw || rh < rth) return false;
    if (!resizeGray(s.cropGray.data(), cropW, cropH, static_cast<size_t>(cropW), rw, rh, s.seedImage)) return false;
    if (!resizeGray(s.templGray.data(), tw, th, static_cast<size_t>(tw), rtw, rth, s.seedTempl)) return false;
    const ZnccHit hit = znccStrided(s.seedImage.data(), rw, rh, static_cast<size_t>(rw), s.seedTempl.data(), rtw, rth,
                                    IntRange{0, rw - rtw + 1}, IntRange{0, rh - rth + 1}, 1, -1.0, nullptr, 0, stop);
    if (!(hit.score > -0.5)) return false;
    out = platform::Point{hit.x * double(cropW) / rw, hit.y * double(cropH) / rh};
    return true;
}

// The pyramid's best place for the template in the grey crop (scratch.cropGray, cropW x cropH;
// template scratch.templGray, tw x th), in crop pixels; false when the area is small enough to
// have no coarser level, the pyramid found nothing or `stop` was set. The coarsest level can
// favour a wrong spot, so its best few peaks are each refined through the finer levels.
bool pyramidCandidate(Scratch& s, int cropW, int cropH, int tw, int th, const std::atomic<bool>* stop, platform::Point& out) {
    const std::vector<double> levels = ImageMatcher::planLevels(cropW, cropH, tw, th);
    if (levels.size() < 2) return false;
    LevelSearch coarse;
    if (!searchLevel(s, cropW, cropH, tw, th, levels[0], platform::Rect{0, 0, double(cropW), double(cropH)}, LevelMap::keep,
                     -1.0, stop, coarse))
        return false;
    Track tracks[maxCandidates];
    int trackCount = 0;
    Peak peaks[maxCandidates];
    const int peakCount = coarsePeaks(s.scoreMap.data(), coarse.positionsX, coarse.positionsY, coarse.hit.score,
                                      coarse.slack, reachInLevelPixels(coarse), peaks);
    for (int k = 0; k < peakCount; ++k)
        tracks[trackCount++] = Track{peaks[k].score, coarse.pointOf(peaks[k].x, peaks[k].y), coarse.stepX, coarse.stepY};
    // Level by level, every track in turn. At the last level a track only has to beat the best
    // result already final (tracks that stopped early or finished before it), which lets most
    // windows of a wrong spot be abandoned early.
    auto finalBest = [&](int upTo) {
        double best = -1.0;
        for (int k = 0; k < upTo; ++k)
            if (!tracks[k].active && !tracks[k].beaten) best = std::max(best, tracks[k].score);
        return best;
    };
    for (size_t li = 1; li < levels.size(); ++li) {
        const bool last = li + 1 == levels.size();
        bool anyActive = false;
        for (int k = 0; k < trackCount; ++k) {
            Track& track = tracks[k];
            if (!track.active) continue;
            if (stop && stop->load(std::memory_order_relaxed)) return false;
            const double m = std::ceil(std::max(track.stepX, track.stepY)) + 2;
            const platform::Rect region{track.found.x - m, track.found.y - m, tw + 2 * m, th + 2 * m};
            const double known = last ? finalBest(k) : -1.0;
            LevelSearch level;
            bool searched = searchLevel(s, cropW, cropH, tw, th, levels[li], region, LevelMap::none, known, stop, level);
            if (known > -1.0 && level.hit.score < known - tieTolerance) {
                // Below the known score, whatever the abandoned windows held; and if the level
                // stopped, the track's previous score stands: beaten too when that is lower.
                if (level.hit.score > -0.5 || track.score < known - tieTolerance) {
                    track.active = false;
                    track.beaten = true;
                    continue;
                }
                searched = searchLevel(s, cropW, cropH, tw, th, levels[li], region, LevelMap::none, -1.0, stop, level);
            }
            if (last) track.active = false;
            if (!searched) {
                track.active = false;   // its previous level's result stands
                continue;
            }
            track.score = level.hit.score;
            track.found = level.pointOf(level.hit.x, level.hit.y);
            track.stepX = level.stepX;
            track.stepY = level.stepY;
            anyActive = anyActive || track.active;
        }
        if (!anyActive) break;
    }
    double lastScore = -1.0;
    for (int k = 0; k < trackCount; ++k) {
        const Track& t = tracks[k];
        if (t.beaten) continue;
        const bool tied = std::abs(t.score - lastScore) <= tieTolerance;
        const bool better = tied ? t.found.y < out.y || (t.found.y == out.y && t.found.x < out.x) : t.score > lastScore;
        if (better) {
            lastScore = t.score;
            out = t.found;
        }
    }

    return lastScore > -0.5;
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
                                    double threshold, const std::atomic<bool>* stop) {
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

    // A good first candidate makes the exact search's pruning effective: the pyramid's, when
    // the area is large enough to have one, else that of a search of reduced copies. It only
    // proposes; the exact search decides.
    int seedX = -1, seedY = -1;
    platform::Point seed;
    if (pyramidCandidate(s, crop.width, crop.height, tw, th, stop, seed) || reducedCandidate(s, crop.width, crop.height, tw, th, stop, seed)) {
        seedX = static_cast<int>(std::lround(seed.x));
        seedY = static_cast<int>(std::lround(seed.y));
    }
    if (stop && stop->load(std::memory_order_relaxed)) return nothing;
    const FullSearchHit hit = fullSearch(s.cropGray.data(), crop.width, crop.height, static_cast<size_t>(crop.width),
                                         s.templGray.data(), tw, th, seedX, seedY, stop);
    if (hit.stopped) return nothing;
    const double lastScore = hit.score;
    const platform::Point found{double(hit.x), double(hit.y)};

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
