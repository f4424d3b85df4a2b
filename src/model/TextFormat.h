// Small text helpers shared by the model's derived texts.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

namespace tapforge::detail {

// A coordinate as the step list shows it: truncated toward zero, plain decimal, no "-0".
// Coordinates are kept finite by the editors; a value that is not shows as nan/inf.
inline std::string truncatedInteger(double v) {
    if (!std::isfinite(v)) return std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf");
    double t = std::trunc(v);
    if (t == 0) t = 0;
    char buffer[400];   // %.0f of the largest double has 309 digits
    std::snprintf(buffer, sizeof buffer, "%.0f", t);
    return buffer;
}

// The first `count` user-perceived characters of UTF-8 `text`. A character is a base code
// point with the marks, joiners, variation selectors and modifiers that attach to it; bytes
// that are not valid UTF-8 count one character each and are never split.
std::string_view leadingCharacters(std::string_view text, size_t count);

}  // namespace tapforge::detail
