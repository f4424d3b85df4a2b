#include "vision/Fft.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>
#include <vector>

namespace tapforge::vision {

namespace {

using v4d = double __attribute__((vector_size(32)));

// Twiddles of every stage one after another: stage m (half-size m) starts at m - 1 and holds
// exp(-i pi k / m) for k < m. Bit reversals per length. Both per thread, kept for reuse.
struct Tables {
    std::vector<double> cosines[32], sines[32];
    std::vector<int> reversed[32];
    std::vector<double> scratchRe, scratchIm;   // four lanes per element
};

Tables& tables() {
    thread_local Tables t;
    return t;
}

int log2Of(int n) { return 31 - __builtin_clz(static_cast<unsigned>(n)); }

void prepare(Tables& t, int n) {
    const int bits = log2Of(n);
    if (!t.reversed[bits].empty()) return;
    std::vector<double>& c = t.cosines[bits];
    std::vector<double>& s = t.sines[bits];
    c.resize(n);
    s.resize(n);
    for (int m = 1; m < n; m *= 2)
        for (int k = 0; k < m; ++k) {
            const double angle = -std::numbers::pi * k / m;
            c[m - 1 + k] = std::cos(angle);
            s[m - 1 + k] = std::sin(angle);
        }
    std::vector<int>& r = t.reversed[bits];
    r.resize(n);
    for (int k = 0; k < n; ++k) {
        int v = 0;
        for (int b = 0; b < bits; ++b) v |= ((k >> b) & 1) << (bits - 1 - b);
        r[k] = v;
    }
}

bool stopped(const std::atomic<bool>* stop) { return stop && stop->load(std::memory_order_relaxed); }

__attribute__((always_inline)) inline v4d load(const double* p) {
    v4d v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

__attribute__((always_inline)) inline void store(double* p, v4d v) { std::memcpy(p, &v, sizeof v); }

// The butterflies of a length-n transform of four interleaved sequences (the four lanes of
// each element), already in bit-reversed order.
__attribute__((always_inline)) inline void butterflies(double* sr, double* si, int n, const double* c, const double* s) {
    for (int m = 1; m < n; m *= 2)
        for (int base = 0; base < n; base += 2 * m)
            for (int k = 0; k < m; ++k) {
                const double wr = c[m - 1 + k], wi = s[m - 1 + k];
                double* ar = sr + 4 * (base + k);
                double* ai = si + 4 * (base + k);
                double* br = ar + 4 * m;
                double* bi = ai + 4 * m;
                const v4d xr = load(br), xi = load(bi);
                const v4d tr = xr * wr - xi * wi, ti = xr * wi + xi * wr;
                const v4d yr = load(ar), yi = load(ai);
                store(ar, yr + tr);
                store(ai, yi + ti);
                store(br, yr - tr);
                store(bi, yi - ti);
            }
}

// Transforms along y, four columns at a time: they are copied into a scratch sequence (rows of
// the planes are a power of two apart, which would crowd a few cache sets) and back.
__attribute__((always_inline)) inline bool columnsBody(Tables& t, double* re, double* im, int w, int h,
                                                       const std::atomic<bool>* stop) {
    const int bits = log2Of(h);
    const double* c = t.cosines[bits].data();
    const double* s = t.sines[bits].data();
    const int* rev = t.reversed[bits].data();
    t.scratchRe.resize(4 * static_cast<size_t>(h));
    t.scratchIm.resize(4 * static_cast<size_t>(h));
    double* sr = t.scratchRe.data();
    double* si = t.scratchIm.data();
    for (int x = 0; x < w; x += 4) {
        if ((x & 63) == 0 && stopped(stop)) return false;
        for (int y = 0; y < h; ++y) {
            store(sr + 4 * rev[y], load(re + static_cast<size_t>(y) * w + x));
            store(si + 4 * rev[y], load(im + static_cast<size_t>(y) * w + x));
        }
        butterflies(sr, si, h, c, s);
        for (int y = 0; y < h; ++y) {
            store(re + static_cast<size_t>(y) * w + x, load(sr + 4 * y));
            store(im + static_cast<size_t>(y) * w + x, load(si + 4 * y));
        }
    }
    return true;
}

// Transforms along x, four rows at a time, gathered into the lanes of a scratch sequence and
// scattered back.
__attribute__((always_inline)) inline bool rowsBody(Tables& t, double* re, double* im, int w, int h, int rows,
                                                    const std::atomic<bool>* stop) {
    const int bits = log2Of(w);
    const double* c = t.cosines[bits].data();
    const double* s = t.sines[bits].data();
    const int* rev = t.reversed[bits].data();
    t.scratchRe.resize(4 * static_cast<size_t>(w));
    t.scratchIm.resize(4 * static_cast<size_t>(w));
    double* sr = t.scratchRe.data();
    double* si = t.scratchIm.data();
    rows = std::min(h, (rows + 3) & ~3);
    for (int y = 0; y < rows; y += 4) {
        if ((y & 63) == 0 && stopped(stop)) return false;
        const double* r0 = re + static_cast<size_t>(y) * w;
        const double* i0 = im + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            store(sr + 4 * rev[x], v4d{r0[x], r0[x + w], r0[x + 2 * w], r0[x + 3 * w]});
            store(si + 4 * rev[x], v4d{i0[x], i0[x + w], i0[x + 2 * w], i0[x + 3 * w]});
        }
        butterflies(sr, si, w, c, s);
        double* o0 = re + static_cast<size_t>(y) * w;
        double* p0 = im + static_cast<size_t>(y) * w;
        for (int l = 0; l < 4; ++l)
            for (int x = 0; x < w; ++x) {
                o0[x + static_cast<size_t>(l) * w] = sr[4 * x + l];
                p0[x + static_cast<size_t>(l) * w] = si[4 * x + l];
            }
    }
    return true;
}

__attribute__((always_inline)) inline bool transformBody(double* re, double* im, int w, int h, int rows, bool rowsFirst,
                                                         const std::atomic<bool>* stop) {
    Tables& t = tables();
    prepare(t, w);
    prepare(t, h);
    if (rowsFirst) return rowsBody(t, re, im, w, h, rows, stop) && columnsBody(t, re, im, w, h, stop);
    return columnsBody(t, re, im, w, h, stop) && rowsBody(t, re, im, w, h, rows, stop);
}

// Chosen at run time rather than by resolver functions, which run before a sanitizer's runtime
// is ready.
#if defined(__x86_64__)
__attribute__((target("avx2,fma"))) bool transformAvx2(double* re, double* im, int w, int h, int rows, bool rowsFirst,
                                                       const std::atomic<bool>* stop) {
    return transformBody(re, im, w, h, rows, rowsFirst, stop);
}
#endif

bool transform(double* re, double* im, int w, int h, int rows, bool rowsFirst, const std::atomic<bool>* stop) {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (avx2) return transformAvx2(re, im, w, h, rows, rowsFirst, stop);
#endif
    return transformBody(re, im, w, h, rows, rowsFirst, stop);
}

}  // namespace

bool fftForward(double* re, double* im, int w, int h, int rowsIn, const std::atomic<bool>* stop) {
    return transform(re, im, w, h, rowsIn, true, stop);
}

// The inverse is the forward transform with the real and imaginary planes trading places.
bool fftInverse(double* re, double* im, int w, int h, int rowsOut, const std::atomic<bool>* stop) {
    return transform(im, re, w, h, rowsOut, false, stop);
}

}  // namespace tapforge::vision
