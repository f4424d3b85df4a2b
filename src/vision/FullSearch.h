// The exhaustive full-resolution ZNCC search behind ImageMatcher::find, made fast by exact
// pruning: every position's score is bounded from above and only positions whose bound can
// still reach the best score known are scored exactly. The first bound is Cauchy-Schwarz over
// 2 x 2 blocks of the template, from summed-area tables; where it leaves a survivor, the cross
// terms of 32 neighbouring positions are computed in single precision with a bound on their
// rounding (finer block grids serve the last positions of a row). Where a sample of rows shows
// that the bounds would leave too much (an absent template, a large one in a small area), the
// cross terms of every position come from FFTs of image tiles instead, with a bound on their
// rounding, and only positions that can still reach the best score are scored exactly. The
// result is the one a plain scan of every position would give. Internal to the vision library;
// callable from any thread (scratch buffers are per thread; bands of rows or pairs of tiles
// may run on the shared pool).
#pragma once

#include <atomic>
#include <cstddef>

namespace tapforge::vision {

struct FullSearchHit {
    double score = -1.0;    // -1 when no position qualified (flat template, all windows flat)
    int x = 0, y = 0;       // top-left of the best window, pixels of the searched image
    bool stopped = false;   // the stop flag was seen; score and place mean nothing then
};

// Scores compared within this are equal, and the top-left position wins (smaller y, then
// smaller x): two exact copies differ only by rounding.
inline constexpr double scoreTieTolerance = 1e-9;

// How the positions are covered: the cheaper way by estimate, or one forced (tests, benchmarks).
enum class SearchMethod { byCost, pruning, fft };

struct SearchTuning {
    SearchMethod method = SearchMethod::byCost;
    int maxTilePoints = 1 << 20;   // of one FFT tile: its planes take 16 bytes a point per thread
};

// The best position of the tw x th template `templ` in the w x h grey image (rows `stride`
// floats apart): highest exact score, ties to the top-left. `seedX`, `seedY`, when >= 0, name a
// position likely to score well; it only makes the pruning start strong. `stop`, when given,
// is polled every few milliseconds of work (table rows, bands of rows, passes of the FFTs).
FullSearchHit fullSearch(const float* image, int w, int h, size_t stride, const float* templ, int tw, int th, int seedX,
                         int seedY, const std::atomic<bool>* stop, const SearchTuning& tuning = {});

}  // namespace tapforge::vision
