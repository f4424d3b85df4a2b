// Template search: where does a small image occur in a snapshot, and how similar is the best
// spot? The answer is that of an exhaustive zero-mean normalised cross-correlation (ZNCC)
// search of every position at full resolution on grey levels: the best score, ties to the
// top-left. A coarse-to-fine pyramid only proposes a first candidate; exact upper bounds then
// rule out almost every other position without scoring it (see FullSearch.h). Callable from
// any thread (scratch buffers are per thread and reused across calls); big searches share
// their rows out over the process's search pool.
#pragma once

#include <atomic>
#include <optional>
#include <span>
#include <vector>

#include "platform/Geometry.h"
#include "platform/ScreenGrab.h"
#include "vision/ScreenSnapshot.h"

namespace tapforge::vision {

// Nothing found: matched false, score 0, no center, no rect. Found below threshold: matched
// false, center and rect present, score possibly > 0.
struct ImageMatchResult {
    bool matched = false;
    double score = 0;                        // best similarity 0..1 (negative reported as 0)
    std::optional<platform::Point> center;   // global top-left points
    std::optional<platform::Rect> rect;      // global points, template-sized

    bool found() const { return rect.has_value(); }
};

// Half-open range of integers [lower, upper).
struct IntRange {
    int lower = 0;
    int upper = 0;
    bool empty() const { return upper <= lower; }
};

struct ZnccHit {
    double score = -1.0;   // -1 when no position qualified
    int x = 0;             // top-left of the window in the image, pixels
    int y = 0;
};

class ImageMatcher {
public:
    // Searches `snapshot` for `templ`. templatePointSize: the template's size in points (it is
    // scaled to snapshot pixels with the snapshot's scale). searchPixelRect: the area to search
    // in snapshot pixels, absent = whole snapshot. threshold: minimum score for `matched`, 0..1.
    // stop: when given and set (from any thread), the search gives up at its next check (between
    // rows, groups of positions and pyramid stages) and reports nothing found.
    static ImageMatchResult find(const platform::RgbaImage& templ, platform::Size templatePointSize,
                                 const ScreenSnapshot& snapshot, std::optional<platform::Rect> searchPixelRect,
                                 double threshold, const std::atomic<bool>* stop = nullptr);

    // Downscale factor of each pyramid level, coarsest first, always ending with 1.0.
    static std::vector<double> planLevels(int searchW, int searchH, int templateW, int templateH);

    // Best ZNCC position among top-left positions x in rangeX, y in rangeY, every `step`
    // positions (rows outer, columns inner). Strict improvement, so ties keep the first position
    // in row-major order. Flat windows (variance <= 1e-6) are skipped; a flat template, an image
    // smaller than the template or an empty range gives score -1. Positions whose window would
    // leave the image are not visited; a step below 1 counts as 1.
    static ZnccHit znccBest(std::span<const float> image, int imageWidth, int imageHeight,
                            std::span<const float> templ, int templateWidth, int templateHeight,
                            IntRange rangeX, IntRange rangeY, int step);
};

}  // namespace tapforge::vision
