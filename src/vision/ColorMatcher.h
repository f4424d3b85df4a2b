// Colour checks: does the snapshot show the expected colours at a set of global points?
// Each enabled point is compared with the 3 x 3-pixel average around its pixel; a point passes
// when every channel is within its tolerance. Pure; callable from any thread.
#pragma once

#include <string>
#include <vector>

#include "model/ColorPoint.h"
#include "model/Enums.h"
#include "vision/PixelBuffer.h"
#include "vision/ScreenSnapshot.h"

namespace tapforge::vision {

// One examined point.
struct ColorCheckDetail {
    ColorPoint point;     // the point as checked
    Rgb actual;           // averaged colour read; (0, 0, 0) when the point lies outside the snapshot
    bool matched = false;
};

struct ColorCheckResult {
    bool matched = false;
    std::vector<ColorCheckDetail> details;   // one per enabled point, in input order

    // The log form: per detail "√" or "×", "#RRGGBB" expected, "→#RRGGBB" actual (upper-case
    // hex), details joined by single spaces; "" with no details.
    std::string description() const;
};

class ColorMatcher {
public:
    // `all`: every detail passed (true with no details); `any`: at least one passed (false with
    // no details). A snapshot whose pixels cannot be read gives false with no details.
    static ColorCheckResult check(const std::vector<ColorPoint>& points, MatchMode mode, const ScreenSnapshot& snapshot);
};

}  // namespace tapforge::vision
