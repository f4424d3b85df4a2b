// Ranges of the editors' integer fields: what the file format stores (signed 64-bit), narrowed
// where a value outside would mean nothing (negative durations, tolerances beyond a channel).
#pragma once

#include <cstdint>
#include <limits>

namespace tapforge::ui {

inline constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();
inline constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
inline constexpr int64_t kToleranceMax = 255;

}  // namespace tapforge::ui
