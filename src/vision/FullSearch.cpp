#include "vision/FullSearch.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "vision/Fft.h"
#include "vision/SearchPool.h"

namespace tapforge::vision {

namespace {

using v4d = double __attribute__((vector_size(32)));
using v4f = float __attribute__((vector_size(16)));
using v8f = float __attribute__((vector_size(32)));


// Grey levels are shifted by this before they enter the summed-area tables: it halves the
// largest magnitudes, and with them the rounding the bounds must allow for. The score does not
// change (the template's zero-mean values sum to 0).
constexpr double shift = 128;

// Multiply-adds of the pruning scan that cost as much as one point-stage of a transform: set
// from timing both on the same searches (release build, AVX2).
constexpr double fftCostFactor = 2.8;

// One partition of the template into nx x ny blocks. With Sk the image's sum over block k and
// mk the mean of the zero-mean template over it, the numerator Σ I T' is at most
// Σk Sk mk + sqrt(Σ I² - Σk Sk² / nk) * residual (Cauchy-Schwarz on what the block means leave).
struct Grid {
    int nx = 0, ny = 0;
    std::vector<size_t> corners;     // table offsets of the (ny + 1) x (nx + 1) block corners
    std::vector<double> mean;        // mk
    std::vector<double> invCount;    // 1 / nk
    double residual = 0;             // sqrt(Σ (T' - mk)²)
    double errA = 0, errB = 0;       // rounding allowances of the two terms
};

// Left uninitialised on allocation: the tile's fill touches every value, and fresh memory is
// slow on first touch, so that is where a stop must be seen.
struct FftPlanes {
    std::unique_ptr<double[]> re, im;
    size_t size = 0;

    void reserve(size_t n) {
        if (size >= n) return;
        re.reset(new double[n]);
        im.reset(new double[n]);
        size = n;
    }
};

struct Tables {
    std::vector<double> sum, sumSq;  // of (image - shift), (w + 1) x (h + 1), row 0 and column 0 zero
    std::vector<int32_t> edges;      // counts of pixels differing from their right or lower neighbour
    std::vector<double> templZero;
    std::vector<float> templZeroF;
    std::vector<Grid> grids;
    // The template's spectrum for the FFT path, conjugated and divided by the tile's size, kept
    // with what it was made from: a poll searches the same template again and again.
    FftPlanes spectrum;
    std::vector<double> spectrumOf;
    int spectrumW = 0, spectrumH = 0, spectrumTw = 0;
};

// One tile pair's transform planes, per thread and reused.
FftPlanes& fftPlanes() {
    thread_local FftPlanes p;
    return p;
}

Tables& tables() {
    thread_local Tables t;
    return t;
}

struct Candidate {
    double score;
    int x, y;
};

// Raises `best` to `score` when higher (several bands may report at once).
void raise(std::atomic<double>& best, double score) {
    double seen = best.load(std::memory_order_relaxed);
    while (score > seen && !best.compare_exchange_weak(seen, score, std::memory_order_relaxed)) {
    }
}

// Everything a band of rows needs, shared read-only by the bands of one search.
struct Search {
    const float* image = nullptr;
    size_t stride = 0;
    int w = 0, h = 0, tw = 0, th = 0;
    double n = 0, varT = 0;
    const double* I = nullptr;
    const double* Q = nullptr;
    const int32_t* E = nullptr;
    size_t satStride = 0;
    const double* templZero = nullptr;
    const float* templZeroF = nullptr;     // the same in single precision, for directGroups
    double crossError = 0;                 // bound of |single-precision cross term - exact one|
    const std::vector<Grid>* grids = nullptr;
    double errVar = 0;
    const std::atomic<bool>* stop = nullptr;
    std::atomic<double> best{-2.0};
    std::atomic<bool> stopped{false};

    bool flat(int x, int y) const;
    // Positions that cannot reach this score are ruled out: the best so far less the tie
    // tolerance, less a margin for the rounding of the exact scores themselves.
    double pruneBelow() const { return best.load(std::memory_order_relaxed) - scoreTieTolerance - 1e-7; }
    void scanRows(int y0, int y1, std::vector<Candidate>& out);
    void offer(double score, int x, int y, std::vector<Candidate>& out);
};

// A window is flat exactly when no pixel of it but the last column and row differs from its
// right or lower neighbour, and the last pixel equals the first.
bool Search::flat(int x, int y) const {
    const float* first = image + static_cast<size_t>(y) * stride + x;
    if (tw < 2 || th < 2) {
        for (int j = 0; j < th; ++j)
            for (int i = 0; i < tw; ++i)
                if (first[static_cast<size_t>(j) * stride + i] != first[0]) return false;
        return true;
    }
    const size_t top = static_cast<size_t>(y) * satStride, bottom = static_cast<size_t>(y + th - 1) * satStride;
    const int32_t inner = E[bottom + x + tw - 1] - E[top + x + tw - 1] - E[bottom + x] + E[top + x];
    return inner == 0 && first[static_cast<size_t>(th - 1) * stride + tw - 1] == first[0];
}

void Search::offer(double score, int x, int y, std::vector<Candidate>& out) {
    const double seen = best.load(std::memory_order_relaxed);
    if (score < seen - scoreTieTolerance) return;
    out.push_back(Candidate{score, x, y});
    raise(best, score);
}

// The exact ZNCC score of one window: Σ(I - mean I)(T - mean T) / sqrt(varW varT), where
// `templZero` holds T - mean T and varT its sum of squares. False for a flat window (its sum
// of squared deviations not above 1e-6).
__attribute__((always_inline)) inline bool exactScoreBody(const float* window, size_t stride, const double* templZero, int tw,
                                                      int th, double varT, double& score) {
    v4d s = {0, 0, 0, 0}, s2 = s, c = s;
    double s1 = 0, s21 = 0, c1 = 0;
    for (int j = 0; j < th; ++j) {
        const float* r = window + static_cast<size_t>(j) * stride;
        const double* t = templZero + static_cast<size_t>(j) * tw;
        int i = 0;
        for (; i + 4 <= tw; i += 4) {
            v4f f;
            std::memcpy(&f, r + i, sizeof f);
            const v4d v = __builtin_convertvector(f, v4d);
            v4d tv;
            std::memcpy(&tv, t + i, sizeof tv);
            s += v;
            s2 += v * v;
            c += v * tv;
        }
        for (; i < tw; ++i) {
            const double v = r[i];
            s1 += v;
            s21 += v * v;
            c1 += v * t[i];
        }
    }
    const double n = static_cast<double>(tw) * th;
    const double sum = s[0] + s[1] + s[2] + s[3] + s1;
    double var = (s2[0] + s2[1] + s2[2] + s2[3] + s21) - sum * sum / n;
    if (var < 1.0) {
        // Low contrast: the one-pass variance loses too much to cancellation; go the long way.
        const double mean = sum / n;
        var = 0;
        for (int j = 0; j < th; ++j)
            for (int i = 0; i < tw; ++i) {
                const double d = window[static_cast<size_t>(j) * stride + i] - mean;
                var += d * d;
            }
    }
    if (!(var > 1e-6)) return false;
    score = (c[0] + c[1] + c[2] + c[3] + c1) / std::sqrt(var * varT);
    return true;
}

// Chosen at run time rather than by resolver functions, which run before a sanitizer's runtime
// is ready.
#if defined(__x86_64__)
__attribute__((target("avx2,fma"))) bool exactScoreAvx2(const float* window, size_t stride, const double* templZero,
                                                        int tw, int th, double varT, double& score) {
    return exactScoreBody(window, stride, templZero, tw, th, varT, score);
}
#endif

bool exactScoreImpl(const float* window, size_t stride, const double* templZero, int tw, int th, double varT,
                    double& score) {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (avx2) return exactScoreAvx2(window, stride, templZero, tw, th, varT, score);
#endif
    return exactScoreBody(window, stride, templZero, tw, th, varT, score);
}

// Upper bound of the numerator over one grid at table offset `o`, minus what it must beat;
// negative means the position cannot reach the score behind `need`.
__attribute__((always_inline)) inline double boundSlack(const Grid& g, const double* I, size_t o, double windowSq,
                                                        double need) {
    constexpr int maxCorners = 33 * 33;
    double c[maxCorners];
    const int cx = g.nx + 1, count = cx * (g.ny + 1);
    for (int k = 0; k < count; ++k) c[k] = I[o + g.corners[k]];
    double a = 0, projected = 0;
    for (int j = 0; j < g.ny; ++j) {
        const double* top = c + j * cx;
        const double* bottom = top + cx;
        const double* mean = g.mean.data() + j * g.nx;
        const double* inv = g.invCount.data() + j * g.nx;
        for (int i = 0; i < g.nx; ++i) {
            const double sk = bottom[i + 1] - bottom[i] - top[i + 1] + top[i];
            a += sk * mean[i];
            projected += sk * sk * inv[i];
        }
    }
    const double rest = std::max(windowSq - projected, 0.0) + g.errB;
    return a + g.errA + std::sqrt(rest) * g.residual - need;
}

// The coarsest grid (2 x 2 blocks) for four consecutive positions at once, at table offset `o`:
// which of them can still reach the score behind `t` (or are near flat and need a closer look).
__attribute__((always_inline)) inline v4d sqrt4(v4d v) {
    return v4d{std::sqrt(v[0]), std::sqrt(v[1]), std::sqrt(v[2]), std::sqrt(v[3])};
}

__attribute__((always_inline)) inline v4d load4(const double* p) {
    v4d v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

__attribute__((always_inline)) inline unsigned survivors4(const Search& s, const Grid& g, size_t o, double t) {
    const size_t c1 = g.corners[1], c2 = g.corners[2], r1 = g.corners[3], r2 = g.corners[6];
    const double* I = s.I + o;
    const double* Q = s.Q + o;
    const v4d i00 = load4(I), i01 = load4(I + c1), i02 = load4(I + c2);
    const v4d i10 = load4(I + r1), i11 = load4(I + r1 + c1), i12 = load4(I + r1 + c2);
    const v4d i20 = load4(I + r2), i21 = load4(I + r2 + c1), i22 = load4(I + r2 + c2);
    const v4d S2 = load4(Q + r2 + c2) - load4(Q + c2) - load4(Q + r2) + load4(Q);
    const v4d S = i22 - i02 - i20 + i00;
    const v4d var = S2 - S * S * (1.0 / s.n);
    const v4d sa = i11 - i01 - i10 + i00, sb = i12 - i02 - i11 + i01;
    const v4d sc = i21 - i11 - i20 + i10, sd = i22 - i12 - i21 + i11;
    const double* m = g.mean.data();
    const double* inv = g.invCount.data();
    const v4d a = sa * m[0] + sb * m[1] + sc * m[2] + sd * m[3];
    const v4d projected = sa * sa * inv[0] + sb * sb * inv[1] + sc * sc * inv[2] + sd * sd * inv[3];
    const v4d zero = {0, 0, 0, 0};
    v4d rest = S2 - projected;
    rest = (rest > zero ? rest : zero) + g.errB;
    v4d low = var - s.errVar;
    low = low > zero ? low : zero;
    const v4d bound = a + g.errA + sqrt4(rest) * g.residual;
    const v4d need = sqrt4(low * s.varT) * t;
    const auto keep = (var <= s.errVar + 1e-6) | !(bound < need);
    return (keep[0] ? 1u : 0u) | (keep[1] ? 2u : 0u) | (keep[2] ? 4u : 0u) | (keep[3] ? 8u : 0u);
}

// Scores one position that survived the bounds from grid `fromGrid` on, or is near flat.
__attribute__((always_inline)) inline void visit(Search& s, int x, int y, size_t o, double S2, double var, size_t fromGrid,
                                                 std::vector<Candidate>& out, double& work) {
    if (var <= s.errVar + 1e-6) {
        if (s.flat(x, y)) return;
    } else {
        const double t = s.pruneBelow();
        if (t > 0) {
            const double need = t * std::sqrt(s.varT * (var - s.errVar));
            for (size_t k = fromGrid; k < s.grids->size(); ++k)
                if (boundSlack((*s.grids)[k], s.I, o, S2, need) < 0) return;
        }
    }
    double score;
    const float* window = s.image + static_cast<size_t>(y) * s.stride + x;
    if (exactScoreImpl(window, s.stride, s.templZero, s.tw, s.th, s.varT, score)) s.offer(score, x, y, out);
    work += s.n;
}

// 32 positions of row y at a time, as long as they fit: the coarsest grid first; where anything
// survives, the cross terms of all 32 in single precision, which rule out every position whose
// bound stays below the best score; the rest are scored exactly. Returns the first position left.
__attribute__((always_inline)) inline int directGroups(Search& s, const Grid& first, int y, std::vector<Candidate>& out,
                                                       double& work) {
    const size_t sw = s.satStride, rowStart = static_cast<size_t>(y) * sw;
    const size_t dx = static_cast<size_t>(s.tw), dy = static_cast<size_t>(s.th) * sw;
    const int positions = s.w - s.tw + 1;
    const size_t skipGrids = s.grids->size();
    int x = 0;
    for (; x + 32 <= positions; x += 32) {
        const double t = s.pruneBelow();
        uint32_t keep = 0xFFFFFFFFu;
        if (t > 0) {
            keep = 0;
            for (int q = 0; q < 8; ++q) keep |= survivors4(s, first, rowStart + x + 4 * q, t) << (4 * q);
        }
        if (keep == 0) continue;
        if (s.stop && s.stop->load(std::memory_order_relaxed)) {
            s.stopped.store(true, std::memory_order_relaxed);
            return positions;
        }
        // Each template row in single precision, the rows' sums in double.
        v4d total[8] = {};
        const float* base = s.image + static_cast<size_t>(y) * s.stride + x;
        for (int j = 0; j < s.th; ++j) {
            const float* r = base + static_cast<size_t>(j) * s.stride;
            const float* tr = s.templZeroF + static_cast<size_t>(j) * s.tw;
            v8f acc[4] = {};
            for (int i = 0; i < s.tw; ++i) {
                const float tv = tr[i];
                for (int b = 0; b < 4; ++b) {
                    v8f v;
                    std::memcpy(&v, r + i + 8 * b, sizeof v);
                    acc[b] += v * tv;
                }
            }
            for (int b = 0; b < 4; ++b) {
                total[2 * b] += __builtin_convertvector(__builtin_shufflevector(acc[b], acc[b], 0, 1, 2, 3), v4d);
                total[2 * b + 1] += __builtin_convertvector(__builtin_shufflevector(acc[b], acc[b], 4, 5, 6, 7), v4d);
            }
        }
        work += 32 * s.n / 8;
        for (int k = 0; k < 32; ++k) {
            if (!(keep & (1u << k))) continue;
            const size_t o = rowStart + x + k;
            const double S = s.I[o + dy + dx] - s.I[o + dx] - s.I[o + dy] + s.I[o];
            const double S2 = s.Q[o + dy + dx] - s.Q[o + dx] - s.Q[o + dy] + s.Q[o];
            const double var = S2 - S * S / s.n;
            if (var > s.errVar + 1e-6) {
                const double now = s.pruneBelow();
                if (now > 0 && total[k / 4][k % 4] + s.crossError < now * std::sqrt(s.varT * (var - s.errVar))) continue;
            }
            visit(s, x + k, y, o, S2, var, skipGrids, out, work);
        }
    }
    return x;
}

__attribute__((always_inline)) inline void scanRowsBody(Search& s, int y0, int y1, std::vector<Candidate>& out) {
    const size_t sw = s.satStride;
    const size_t dx = static_cast<size_t>(s.tw), dy = static_cast<size_t>(s.th) * sw;
    const Grid* first = !s.grids->empty() && s.grids->front().nx == 2 && s.grids->front().ny == 2 ? &s.grids->front() : nullptr;
    const int positions = s.w - s.tw + 1;
    // Work since the stop flag was last read, in multiply-adds: a band of huge windows scored
    // exactly one by one must still notice a stop within milliseconds.
    double work = 0;
    auto stopSeen = [&] {
        if (!s.stop || !s.stop->load(std::memory_order_relaxed)) return false;
        s.stopped.store(true, std::memory_order_relaxed);
        return true;
    };
    for (int y = y0; y < y1; ++y) {
        if (stopSeen()) return;
        const size_t rowStart = static_cast<size_t>(y) * sw;
        int x = 0;
        if (first) x = directGroups(s, *first, y, out, work);
        if (s.stopped.load(std::memory_order_relaxed)) return;
        if (work > 4e6) {
            work = 0;
            if (stopSeen()) return;
        }
        // The last few positions of the row: four at a time through the coarsest grid, then the
        // finer grids one by one.
        for (; first && x + 4 <= positions; x += 4) {
            const double t = s.pruneBelow();
            const unsigned keep = t > 0 ? survivors4(s, *first, rowStart + x, t) : 15u;
            if (keep == 0) continue;
            for (int k = 0; k < 4; ++k) {
                if (!(keep & (1u << k))) continue;
                const size_t o = rowStart + x + k;
                const double S = s.I[o + dy + dx] - s.I[o + dx] - s.I[o + dy] + s.I[o];
                const double S2 = s.Q[o + dy + dx] - s.Q[o + dx] - s.Q[o + dy] + s.Q[o];
                visit(s, x + k, y, o, S2, S2 - S * S / s.n, 1, out, work);
            }
            if (work > 4e6) {
                work = 0;
                if (stopSeen()) return;
            }
        }
        for (; x < positions; ++x) {
            const size_t o = rowStart + x;
            const double S = s.I[o + dy + dx] - s.I[o + dx] - s.I[o + dy] + s.I[o];
            const double S2 = s.Q[o + dy + dx] - s.Q[o + dx] - s.Q[o + dy] + s.Q[o];
            visit(s, x, y, o, S2, S2 - S * S / s.n, 0, out, work);
        }
        if (work > 4e6) {
            work = 0;
            if (stopSeen()) return;
        }
    }
}

#if defined(__x86_64__)
__attribute__((target("avx2,fma"))) void scanRowsAvx2(Search& s, int y0, int y1, std::vector<Candidate>& out) {
    scanRowsBody(s, y0, y1, out);
}
#endif

void scanRowsImpl(Search& s, int y0, int y1, std::vector<Candidate>& out) {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (avx2) return scanRowsAvx2(s, y0, y1, out);
#endif
    scanRowsBody(s, y0, y1, out);
}

void Search::scanRows(int y0, int y1, std::vector<Candidate>& out) { scanRowsImpl(*this, y0, y1, out); }

// What the pruning scan would cost, in the multiply-adds of its cross terms: the groups of 32
// positions that pass the first bound at the best score known, in a sample of rows.
double pruningCost(Search& s, const Grid& first) {
    const int rows = s.h - s.th + 1, positions = s.w - s.tw + 1;
    const int samples = std::min(rows, 24);
    const double t = s.pruneBelow();
    double alive = 0;
    for (int k = 0; k < samples; ++k) {
        const int y = static_cast<int>(static_cast<int64_t>(rows) * k / samples + rows / (2 * samples));
        const size_t rowStart = static_cast<size_t>(y) * s.satStride;
        int x = 0;
        for (; x + 32 <= positions; x += 32) {
            unsigned keep = t > 0 ? 0 : 1;
            for (int q = 0; q < 8 && !keep; ++q) keep |= survivors4(s, first, rowStart + x + 4 * q, t);
            alive += keep ? 32.0 / 8 : 0;
        }
        for (; x + 4 <= positions; x += 4) alive += __builtin_popcount(t > 0 ? survivors4(s, first, rowStart + x, t) : 15u);
        alive += positions - x;
    }
    return alive * s.n * rows / samples;
}

// Tiles of the FFT path: each w x h tile of the image (zero beyond its edges) yields the cross
// terms of (w - tw + 1) x (h - th + 1) positions; two tiles share one complex transform, one
// as its real part, one as its imaginary part.
struct FftPlan {
    int w = 0, h = 0, across = 0, down = 0;
    double cost = 0;   // point-stages of the transforms, the template's included
};

FftPlan planFft(int w, int h, int tw, int th, int maxTilePoints) {
    const int px = w - tw + 1, py = h - th + 1;
    FftPlan best;
    for (int tileW = 8; tileW < 2 * w && tileW <= 4096; tileW *= 2) {
        if (tileW < tw) continue;
        for (int tileH = 8; tileH < 2 * h && tileH <= 4096; tileH *= 2) {
            if (tileH < th || double(tileW) * tileH > maxTilePoints) continue;
            const int across = (px + tileW - tw) / (tileW - tw + 1), down = (py + tileH - th) / (tileH - th + 1);
            const int transforms = 2 * ((across * down + 1) / 2) + 1;
            const double cost = transforms * double(tileW) * tileH * std::log2(double(tileW) * tileH);
            if (best.w == 0 || cost < best.cost) best = FftPlan{tileW, tileH, across, down, cost};
        }
    }
    return best;
}

// The template's spectrum for tiles of plan `p`, unless the cached one was made from the same.
bool prepareSpectrum(Tables& t, const FftPlan& p, int tw, int th, const std::atomic<bool>* stop) {
    if (t.spectrumW == p.w && t.spectrumH == p.h && t.spectrumTw == tw && t.spectrumOf == t.templZero) return true;
    t.spectrumOf.clear();
    const size_t size = static_cast<size_t>(p.w) * p.h;
    FftPlanes& k = t.spectrum;
    k.reserve(size);
    for (int j = 0; j < p.h; ++j) {
        if ((j & 63) == 63 && stop && stop->load(std::memory_order_relaxed)) return false;
        double* re = k.re.get() + static_cast<size_t>(j) * p.w;
        const int filled = j < th ? tw : 0;
        if (filled > 0) std::copy_n(t.templZero.data() + static_cast<size_t>(j) * tw, tw, re);
        std::fill(re + filled, re + p.w, 0.0);
        std::fill_n(k.im.get() + static_cast<size_t>(j) * p.w, p.w, 0.0);
    }
    if (!fftForward(k.re.get(), k.im.get(), p.w, p.h, th, stop)) return false;
    const double inv = 1.0 / double(size);   // a power of two: exact
    for (size_t i = 0; i < size; ++i) {
        k.re[i] *= inv;
        k.im[i] *= -inv;
    }
    t.spectrumOf = t.templZero;
    t.spectrumW = p.w, t.spectrumH = p.h, t.spectrumTw = tw;
    return true;
}

// Cross terms of one tile pair by FFT; every position of the two tiles whose cross term, plus
// a bound on the transform's rounding, can reach the best score is scored exactly (after the
// block bounds). The highest approximate score of each tile is scored first, so that the bound
// prunes from the start.
void fftPair(Search& s, const FftPlan& p, const double* kRe, const double* kIm, double sumAbsT, double errNumerator,
             int pair, std::vector<Candidate>& out) {
    FftPlanes& planes = fftPlanes();
    const size_t size = static_cast<size_t>(p.w) * p.h;
    planes.reserve(size);
    double* re = planes.re.get();
    double* im = planes.im.get();
    auto stopSeen = [&] {
        if (!s.stop || !s.stop->load(std::memory_order_relaxed)) return false;
        s.stopped.store(true, std::memory_order_relaxed);
        return true;
    };
    const int tiles = p.across * p.down;
    const int stepX = p.w - s.tw + 1, stepY = p.h - s.th + 1;
    int rowsIn = 0;
    double sumAbs = 0;   // of both tiles' values: bounds every intermediate of the transforms
    for (int half = 0; half < 2; ++half) {
        const int tile = 2 * pair + half;
        double* plane = half == 0 ? re : im;
        int x0 = 0, y0 = 0, cols = 0, rows = 0;
        if (tile < tiles) {
            x0 = (tile % p.across) * stepX, y0 = (tile / p.across) * stepY;
            cols = std::min(p.w, s.w - x0), rows = std::min(p.h, s.h - y0);
            rowsIn = std::max(rowsIn, rows);
        }
        for (int j = 0; j < p.h; ++j) {
            if ((j & 63) == 63 && stopSeen()) return;
            double* o = plane + static_cast<size_t>(j) * p.w;
            const int filled = j < rows ? cols : 0;
            double rowAbs = 0;
            if (filled > 0) {
                const float* in = s.image + static_cast<size_t>(y0 + j) * s.stride + x0;
                for (int i = 0; i < filled; ++i) {
                    o[i] = in[i] - shift;
                    rowAbs += std::abs(o[i]);
                }
            }
            std::fill(o + filled, o + p.w, 0.0);
            sumAbs += rowAbs;
        }
    }
    if (!fftForward(re, im, p.w, p.h, rowsIn, s.stop)) {
        s.stopped.store(true, std::memory_order_relaxed);
        return;
    }
    for (size_t k = 0; k < size; ++k) {
        const double a = re[k], b = im[k];
        re[k] = a * kRe[k] - b * kIm[k];
        im[k] = a * kIm[k] + b * kRe[k];
    }
    if (!fftInverse(re, im, p.w, p.h, stepY, s.stop)) {
        s.stopped.store(true, std::memory_order_relaxed);
        return;
    }
    // Each of the log2(size) stages of the three transforms (the template's too) adds at most
    // a few units of rounding of the sum of the magnitudes it combines; 64 of them is generous.
    const double allowance =
        64 * (std::log2(double(size)) + 2) * DBL_EPSILON * sumAbs * sumAbsT + errNumerator;
    const size_t sw = s.satStride;
    const size_t dx = static_cast<size_t>(s.tw), dy = static_cast<size_t>(s.th) * sw;
    const int positionsX = s.w - s.tw + 1, positionsY = s.h - s.th + 1;
    double work = 0;
    for (int half = 0; half < 2; ++half) {
        const int tile = 2 * pair + half;
        if (tile >= tiles) break;
        const double* cross = half == 0 ? re : im;
        const int x0 = (tile % p.across) * stepX, y0 = (tile / p.across) * stepY;
        const int x1 = std::min(x0 + stepX, positionsX), y1 = std::min(y0 + stepY, positionsY);
        auto window = [&](int x, int y, double& S2, double& var) {
            const size_t o = static_cast<size_t>(y) * sw + x;
            const double S = s.I[o + dy + dx] - s.I[o + dx] - s.I[o + dy] + s.I[o];
            S2 = s.Q[o + dy + dx] - s.Q[o + dx] - s.Q[o + dy] + s.Q[o];
            var = S2 - S * S / s.n;
            return o;
        };
        double top = -1e300;
        int topX = -1, topY = -1;
        for (int y = y0; y < y1; ++y) {
            if ((y & 63) == 63 && stopSeen()) return;
            const double* c = cross + static_cast<size_t>(y - y0) * p.w - x0;
            for (int x = x0; x < x1; ++x) {
                double S2, var;
                window(x, y, S2, var);
                if (var <= s.errVar + 1e-6) continue;
                const double approx = c[x] / std::sqrt(var);
                if (approx > top) top = approx, topX = x, topY = y;
            }
        }
        if (topX >= 0) {
            double S2, var;
            const size_t o = window(topX, topY, S2, var);
            visit(s, topX, topY, o, S2, var, s.grids->size(), out, work);
        }
        for (int y = y0; y < y1; ++y) {
            if (stopSeen()) return;
            const double* c = cross + static_cast<size_t>(y - y0) * p.w - x0;
            for (int x = x0; x < x1; ++x) {
                double S2, var;
                const size_t o = window(x, y, S2, var);
                if (var > s.errVar + 1e-6) {
                    // The need is lowest where the window's variance is highest: below or above
                    // its computed value by the tables' rounding.
                    const double t = s.pruneBelow();
                    const double need = t * std::sqrt(s.varT * (t > 0 ? var - s.errVar : var + s.errVar));
                    if (c[x] + allowance < need) continue;
                    if (x == topX && y == topY) continue;
                }
                visit(s, x, y, o, S2, var, 0, out, work);
                if (work > 4e6) {
                    work = 0;
                    if (stopSeen()) return;
                }
            }
        }
    }
}

// Block grid lines: n + 1 cuts of `size` pixels as even as possible.
std::vector<int> cuts(int size, int blocks) {
    std::vector<int> c(blocks + 1);
    for (int k = 0; k <= blocks; ++k) c[k] = static_cast<int>(static_cast<int64_t>(size) * k / blocks);
    return c;
}

// Successively finer grids: 2 x 2 blocks, then 4 x 4, doubling while blocks keep at least 3
// pixels a side, at most 32 per axis.
void buildGrids(Tables& t, int tw, int th, size_t satStride, double errS, double errQ) {
    t.grids.clear();
    int prevX = 1, prevY = 1;
    for (int g = 2; g <= 32; g *= 2) {
        // The first grid is 2 x 2 whenever the template allows: the scan has a fast path for it.
        const int nx = g == 2 ? std::min(2, tw) : std::min(g, std::max(tw / 3, 1));
        const int ny = g == 2 ? std::min(2, th) : std::min(g, std::max(th / 3, 1));
        if (nx == prevX && ny == prevY) break;
        prevX = nx, prevY = ny;
        Grid grid;
        grid.nx = nx, grid.ny = ny;
        const std::vector<int> gx = cuts(tw, nx), gy = cuts(th, ny);
        for (int j = 0; j <= ny; ++j)
            for (int i = 0; i <= nx; ++i) grid.corners.push_back(static_cast<size_t>(gy[j]) * satStride + gx[i]);
        double residual = 0, weighted = 0, sumAbsMean = 0, minCount = 1e300;
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                double sum = 0;
                for (int y = gy[j]; y < gy[j + 1]; ++y)
                    for (int x = gx[i]; x < gx[i + 1]; ++x) sum += t.templZero[static_cast<size_t>(y) * tw + x];
                const double count = double(gx[i + 1] - gx[i]) * (gy[j + 1] - gy[j]);
                const double mean = sum / count;
                for (int y = gy[j]; y < gy[j + 1]; ++y)
                    for (int x = gx[i]; x < gx[i + 1]; ++x) {
                        const double d = t.templZero[static_cast<size_t>(y) * tw + x] - mean;
                        residual += d * d;
                    }
                grid.mean.push_back(mean);
                grid.invCount.push_back(1.0 / count);
                sumAbsMean += std::abs(mean);
                weighted += count * std::abs(mean);
                minCount = std::min(minCount, count);
            }
        const double blocks = double(nx) * ny, n = double(tw) * th;
        grid.residual = std::sqrt(residual) * (1 + 1e-12);
        // Each block sum is off by at most errS; the sums of products round too (|I - shift| <= 128).
        grid.errA = sumAbsMean * errS + 4 * blocks * DBL_EPSILON * shift * weighted;
        grid.errB = errQ + blocks * (2 * shift * errS + errS * errS / minCount) + 8 * (blocks + 1) * DBL_EPSILON * n * shift * shift;
        t.grids.push_back(std::move(grid));
    }
}

}  // namespace

FullSearchHit fullSearch(const float* image, int w, int h, size_t stride, const float* templ, int tw, int th, int seedX,
                         int seedY, const std::atomic<bool>* stop, const SearchTuning& tuning) {
    FullSearchHit result;
    if (tw < 1 || th < 1 || w < tw || h < th) return result;
    Tables& t = tables();
    const size_t count = static_cast<size_t>(tw) * th;
    const double n = static_cast<double>(count);
    double meanT = 0;
    for (size_t k = 0; k < count; ++k) meanT += templ[k];
    meanT /= n;
    t.templZero.resize(count);
    double varT = 0, sumZero = 0, sumAbsZero = 0;
    for (size_t k = 0; k < count; ++k) {
        const double d = templ[k] - meanT;
        t.templZero[k] = d;
        varT += d * d;
        sumZero += d;
        sumAbsZero += std::abs(d);
    }
    if (!(varT > 1e-6)) return result;

    // Summed-area tables of the shifted image and its squares, and of the pixels that differ
    // from a neighbour, built row by row: a running row sum plus the entry above.
    const size_t sw = static_cast<size_t>(w) + 1;
    const size_t tableSize = sw * (static_cast<size_t>(h) + 1);
    t.sum.resize(tableSize);
    t.sumSq.resize(tableSize);
    t.edges.resize(tableSize);
    std::fill_n(t.sum.data(), sw, 0.0);
    std::fill_n(t.sumSq.data(), sw, 0.0);
    std::fill_n(t.edges.data(), sw, 0);
    double sumAbs = 0, sumSq = 0;
    for (int y = 0; y < h; ++y) {
        if ((y & 63) == 63 && stop && stop->load(std::memory_order_relaxed)) {
            result.stopped = true;
            return result;
        }
        const float* in = image + static_cast<size_t>(y) * stride;
        const float* below = y + 1 < h ? in + stride : in;
        double* cur = t.sum.data() + (y + 1) * sw;
        double* curSq = t.sumSq.data() + (y + 1) * sw;
        int32_t* curE = t.edges.data() + (y + 1) * sw;
        const double* above = cur - sw;
        const double* aboveSq = curSq - sw;
        const int32_t* aboveE = curE - sw;
        cur[0] = curSq[0] = 0;
        curE[0] = 0;
        double row = 0, rowSq = 0, rowAbs = 0;
        int32_t rowE = 0;
        for (int x = 0; x < w; ++x) {
            const double v = in[x] - shift;
            row += v;
            rowSq += v * v;
            rowAbs += std::abs(v);
            rowE += (x + 1 < w && in[x] != in[x + 1]) || in[x] != below[x];
            cur[x + 1] = row + above[x + 1];
            curSq[x + 1] = rowSq + aboveSq[x + 1];
            curE[x + 1] = rowE + aboveE[x + 1];
        }
        sumAbs += rowAbs;
        sumSq += rowSq;
    }
    // Rounding of a table entry grows at most with the additions behind it (a row, then the
    // column above) times the largest magnitude; a window sum takes four entries.
    const double chain = double(w) + 2.0 * h + 8;
    const double errS = 8 * chain * DBL_EPSILON * sumAbs;
    const double errQ = 8 * chain * DBL_EPSILON * sumSq;
    buildGrids(t, tw, th, sw, errS, errQ);
    // The exact numerator is Σ I T' with T' rounded: a share of 128 Σ T' and product rounding.
    const double errNumerator = shift * std::abs(sumZero) + 2 * n * DBL_EPSILON * 255 * sumAbsZero;
    for (Grid& g : t.grids) g.errA += errNumerator;

    Search s;
    s.image = image;
    s.stride = stride;
    s.w = w, s.h = h, s.tw = tw, s.th = th;
    s.n = n;
    s.varT = varT;
    s.I = t.sum.data();
    s.Q = t.sumSq.data();
    s.E = t.edges.data();
    s.satStride = sw;
    s.templZero = t.templZero.data();
    s.grids = &t.grids;
    {
        // A template row's single-precision products and sums (2 tw roundings, fewer when fused)
        // are each off by at most 2^-24 of a running total bounded by Σ|I||T'| with I <= 256;
        // the rows' sums in double add th roundings of 2^-53; and the template's own rounding.
        t.templZeroF.resize(count);
        double sumAbsF = 0, rounding = 0;
        for (size_t k = 0; k < count; ++k) {
            t.templZeroF[k] = static_cast<float>(t.templZero[k]);
            sumAbsF += std::abs(double(t.templZeroF[k]));
            rounding += std::abs(double(t.templZeroF[k]) - t.templZero[k]);
        }
        s.templZeroF = t.templZeroF.data();
        s.crossError = (2.2 * (tw + 2) * std::ldexp(1.0, -24) + 2.2 * (th + 2) * std::ldexp(1.0, -53)) * 256 * sumAbsF +
                       256 * rounding;
    }
    s.errVar = errQ + 2 * shift * errS + errS * errS / n + 8 * DBL_EPSILON * n * shift * shift;
    s.stop = stop;

    // Climb from the seed to the best of its neighbours while that improves: a candidate from
    // reduced copies is often a pixel or two off.
    if (seedX >= 0 && seedY >= 0 && seedX + tw <= w && seedY + th <= h) {
        auto scoreAt = [&](int x, int y) {
            double score = -2.0;
            if (x < 0 || y < 0 || x + tw > w || y + th > h) return score;
            if (!exactScoreImpl(image + static_cast<size_t>(y) * stride + x, stride, t.templZero.data(), tw, th, varT, score))
                return -2.0;
            return score;
        };
        double here = scoreAt(seedX, seedY);
        for (int step = 0; step < 32 && !(stop && stop->load(std::memory_order_relaxed)); ++step) {
            int bestX = seedX, bestY = seedY;
            double bestScore = here;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    if (dx == 0 && dy == 0) continue;
                    const double score = scoreAt(seedX + dx, seedY + dy);
                    if (score > bestScore) bestScore = score, bestX = seedX + dx, bestY = seedY + dy;
                }
            if (bestX == seedX && bestY == seedY) break;
            seedX = bestX, seedY = bestY, here = bestScore;
        }
        if (here > -2.0) raise(s.best, here);
    }

    const int rows = h - th + 1;
    const double positions = double(rows) * (w - tw + 1);
    const Grid* first = !t.grids.empty() && t.grids.front().nx == 2 && t.grids.front().ny == 2 ? &t.grids.front() : nullptr;
    const FftPlan plan = planFft(w, h, tw, th, tuning.maxTilePoints);
    std::vector<std::vector<Candidate>> perTask;
    // The FFT's cost hardly depends on the content; the pruning scan's depends on how well the
    // best score known rules positions out, which a sample of rows shows.
    const bool useFft = plan.w > 0 && (tuning.method == SearchMethod::byCost
                                           ? first && pruningCost(s, *first) > fftCostFactor * plan.cost
                                           : tuning.method == SearchMethod::fft);
    if (useFft) {
        if (!prepareSpectrum(t, plan, tw, th, stop)) {
            result.stopped = true;
            return result;
        }
        const int pairs = (plan.across * plan.down + 1) / 2;
        perTask.resize(pairs);
        const double* kRe = t.spectrum.re.get();
        const double* kIm = t.spectrum.im.get();
        SearchPool::shared().run(pairs, [&](int pair) {
            if (!s.stopped.load(std::memory_order_relaxed)) fftPair(s, plan, kRe, kIm, sumAbsZero, errNumerator, pair, perTask[pair]);
        });
    } else {
        // Bands of rows, on the pool's threads when the search is big enough to pay for them.
        const int bands = positions > 2e4 ? std::min(rows, 64) : 1;
        perTask.resize(bands);
        SearchPool::shared().run(bands, [&](int band) {
            const int y0 = static_cast<int>(static_cast<int64_t>(rows) * band / bands);
            const int y1 = static_cast<int>(static_cast<int64_t>(rows) * (band + 1) / bands);
            s.scanRows(y0, y1, perTask[band]);
        });
    }
    if (s.stopped.load()) {
        result.stopped = true;
        return result;
    }
    // Of the candidates within the tie tolerance of the best, the top-left one wins.
    const double best = s.best.load();
    for (const std::vector<Candidate>& task : perTask)
        for (const Candidate& c : task)
            if (c.score >= best - scoreTieTolerance &&
                (result.score < -0.5 || c.y < result.y || (c.y == result.y && c.x < result.x))) {
                result.score = c.score;
                result.x = c.x;
                result.y = c.y;
            }
    return result;
}

}  // namespace tapforge::vision
