// One sampled screen point of a colour check.
#pragma once

#include <cstdint>
#include <string>

#include "model/Uuid.h"

namespace tapforge {

struct ColorPoint {
    Uuid id = Uuid::random();
    double x = 0;             // global points
    double y = 0;
    int64_t red = 0;          // expected colour, each 0..255
    int64_t green = 0;
    int64_t blue = 0;
    int64_t tolerance = 10;   // allowed per-channel deviation
    bool enabled = true;

    // "(x, y) #RRGGBB" with x and y truncated toward zero.
    std::string display() const;

    friend bool operator==(const ColorPoint&, const ColorPoint&) = default;
};

}  // namespace tapforge

template <>
struct std::hash<tapforge::ColorPoint> {
    size_t operator()(const tapforge::ColorPoint& p) const noexcept;
};
