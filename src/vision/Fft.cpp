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

__attribute__((always_inline)) inline void butterfly2(double* sr, double* si, int a, int b, double wr, double wi) {
    const v4d xr = load(sr + 4 * b), xi = load(si + 4 * b);
    const v4d tr = xr * wr - xi * wi, ti = xr * wi + xi * wr;
    const v4d yr = load(sr + 4 * a), yi = load(si + 4 * a);
    store(sr + 4 * a, yr + tr);
    store(si + 4 * a, yi + ti);
    store(sr + 4 * b, yr - tr);
    store(si + 4 * b, yi - ti);
}

// The butterflies of a length-n transform of four interleaved sequences (the four lanes of
// each element), already in bit-reversed order: two radix-2 stages at a time, so each pass
// over the sequence does twice the work.
__attribute__((always_inline)) inline void butterflies(double* sr, double* si, int n, const double* c, const double* s) {
    int m = 1;
    if (log2Of(n) % 2 == 1) {
        for (int base = 0; base < n; base += 2) butterfly2(sr, si, base, base + 1, 1.0, 0.0);
        m = 2;
    }
    for (; m < n; m *= 4)
        for (int base = 0; base < n; base += 4 * m)
            for (int k = 0; k < m; ++k) {
                // Stage m pairs (0, 1) and (2, 3) with twiddle w; stage 2m pairs (0, 2) with v
                // and (1, 3) with -i v.
                const double wr = c[m - 1 + k], wi = s[m - 1 + k];
                const double vr = c[2 * m - 1 + k], vi = s[2 * m - 1 + k];
                double* p0r = sr + 4 * (base + k);
                double* p0i = si + 4 * (base + k);
                const size_t q = 4 * static_cast<size_t>(m);
                const v4d x0r = load(p0r), x0i = load(p0i);
                const v4d x1r = load(p0r + q), x1i = load(p0i + q);
                const v4d x2r = load(p0r + 2 * q), x2i = load(p0i + 2 * q);
                const v4d x3r = load(p0r + 3 * q), x3i = load(p0i + 3 * q);
                const v4d t1r = x1r * wr - x1i * wi, t1i = x1r * wi + x1i * wr;
                const v4d t3r = x3r * wr - x3i * wi, t3i = x3r * wi + x3i * wr;
                const v4d a0r = x0r + t1r, a0i = x0i + t1i, a1r = x0r - t1r, a1i = x0i - t1i;
                const v4d a2r = x2r + t3r, a2i = x2i + t3i, a3r = x2r - t3r, a3i = x2i - t3i;
                const v4d u2r = a2r * vr - a2i * vi, u2i = a2r * vi + a2i * vr;
                // -i v a3: (v a3).imag, -(v a3).real
                const v4d u3r = a3r * vi + a3i * vr, u3i = -(a3r * vr - a3i * vi);
                store(p0r, a0r + u2r);
                store(p0i, a0i + u2i);
                store(p0r + 2 * q, a0r - u2r);
                store(p0i + 2 * q, a0i - u2i);
                store(p0r + q, a1r + u3r);
                store(p0i + q, a1i + u3i);
                store(p0r + 3 * q, a1r - u3r);
                store(p0i + 3 * q, a1i - u3i);
            }
}

// Rows y .. y + 3 at x .. x + 3 as four vectors of one x each, and back (a 4 x 4 transpose).
__attribute__((always_inline)) inline void transpose4(v4d& r0, v4d& r1, v4d& r2, v4d& r3) {
    const v4d t0 = __builtin_shufflevector(r0, r1, 0, 4, 2, 6), t1 = __builtin_shufflevector(r0, r1, 1, 5, 3, 7);
    const v4d t2 = __builtin_shufflevector(r2, r3, 0, 4, 2, 6), t3 = __builtin_shufflevector(r2, r3, 1, 5, 3, 7);
    r0 = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    r1 = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    r2 = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    r3 = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// What one pass over sequences of length n works with: its tables and a four-lane scratch sequence.
struct Pass {
    const double *cosines, *sines;
    const int* reversed;
    double *scratchRe, *scratchIm;
};
inline Pass passOf(Tables& t, int n) {
    const int bits = log2Of(n);
    t.scratchRe.resize(4 * static_cast<size_t>(n));
    t.scratchIm.resize(4 * static_cast<size_t>(n));
    return {t.cosines[bits].data(), t.sines[bits].data(), t.reversed[bits].data(), t.scratchRe.data(),
            t.scratchIm.data()};
}

// Transforms along y, four columns at a time: they are copied into a scratch sequence (rows of
// the planes are a power of two apart, which would crowd a few cache sets) and back.
__attribute__((always_inline)) inline bool columnsBody(Tables& t, double* re, double* im, int w, int h,
                                                       const std::atomic<bool>* stop) {
    const auto [c, s, rev, sr, si] = passOf(t, h);
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
    const auto [c, s, rev, sr, si] = passOf(t, w);
    rows = std::min(h, (rows + 3) & ~3);
    for (int y = 0; y < rows; y += 4) {
        if ((y & 63) == 0 && stopped(stop)) return false;
        for (int plane = 0; plane < 2; ++plane) {
            const double* p = (plane == 0 ? re : im) + static_cast<size_t>(y) * w;
            double* out = plane == 0 ? sr : si;
            for (int x = 0; x < w; x += 4) {
                v4d r0 = load(p + x), r1 = load(p + w + x), r2 = load(p + 2 * w + x), r3 = load(p + 3 * w + x);
                transpose4(r0, r1, r2, r3);
                store(out + 4 * rev[x], r0);
                store(out + 4 * rev[x + 1], r1);
                store(out + 4 * rev[x + 2], r2);
                store(out + 4 * rev[x + 3], r3);
            }
        }
        butterflies(sr, si, w, c, s);
        for (int plane = 0; plane < 2; ++plane) {
            double* p = (plane == 0 ? re : im) + static_cast<size_t>(y) * w;
            const double* in = plane == 0 ? sr : si;
            for (int x = 0; x < w; x += 4) {
                v4d r0 = load(in + 4 * x), r1 = load(in + 4 * x + 4), r2 = load(in + 4 * x + 8), r3 = load(in + 4 * x + 12);
                transpose4(r0, r1, r2, r3);
                store(p + x, r0);
                store(p + w + x, r1);
                store(p + 2 * w + x, r2);
                store(p + 3 * w + x, r3);
            }
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
