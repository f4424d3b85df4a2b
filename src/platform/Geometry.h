// Geometry value types shared by every platform interface.
// Unless a function says otherwise, coordinates are global points: origin at the
// top-left of the primary display, y growing downwards.
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>

namespace tapforge::platform {

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// A rectangle with origin and size. The null rectangle (no area, no position) is
// distinct from the zero rectangle at (0, 0): union with null yields the other operand.
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    static Rect null() {
        const double inf = std::numeric_limits<double>::infinity();
        return Rect{inf, inf, 0, 0};
    }
    bool isNull() const { return std::isinf(x) || std::isinf(y); }
    double minX() const { return x; }
    double minY() const { return y; }
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }

    // Same rectangle with non-negative width and height.
    Rect standardized() const {
        Rect r = *this;
        if (r.width < 0) { r.x += r.width; r.width = -r.width; }
        if (r.height < 0) { r.y += r.height; r.height = -r.height; }
        return r;
    }
    Rect united(const Rect& other) const {
        if (isNull()) return other.standardized();
        if (other.isNull()) return standardized();
        const Rect a = standardized(), b = other.standardized();
        const double x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
        const double x1 = std::max(a.maxX(), b.maxX()), y1 = std::max(a.maxY(), b.maxY());
        return Rect{x0, y0, x1 - x0, y1 - y0};
    }
    // Null when the two do not overlap (touching edges count as no overlap).
    Rect intersected(const Rect& other) const {
        if (isNull() || other.isNull()) return null();
        const Rect a = standardized(), b = other.standardized();
        const double x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
        const double x1 = std::min(a.maxX(), b.maxX()), y1 = std::min(a.maxY(), b.maxY());
        if (x1 <= x0 || y1 <= y0) return null();
        return Rect{x0, y0, x1 - x0, y1 - y0};
    }
    // Smallest rectangle with whole-number edges that holds this one.
    Rect integral() const {
        if (isNull()) return null();
        const Rect a = standardized();
        const double x0 = std::floor(a.x), y0 = std::floor(a.y);
        const double x1 = std::ceil(a.maxX()), y1 = std::ceil(a.maxY());
        return Rect{x0, y0, x1 - x0, y1 - y0};
    }
    bool contains(Point p) const {
        return !isNull() && p.x >= x && p.x < maxX() && p.y >= y && p.y < maxY();
    }
    friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace tapforge::platform
