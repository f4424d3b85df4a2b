#include "model/ColorPoint.h"

#include <algorithm>
#include <cstdio>

#include "model/Hashing.h"
#include "model/TextFormat.h"

namespace tapforge {

std::string ColorPoint::display() const {
    // Channels are 0..255 in a sound document; a stray value shows as its nearest colour.
    const auto channel = [](int64_t v) { return static_cast<unsigned>(std::clamp<int64_t>(v, 0, 255)); };
    char hex[16];
    std::snprintf(hex, sizeof hex, "#%02X%02X%02X", channel(red), channel(green), channel(blue));
    std::string out = "(";
    out += detail::truncatedInteger(x);
    out += ", ";
    out += detail::truncatedInteger(y);
    out += ") ";
    out += hex;
    return out;
}

}  // namespace tapforge

size_t std::hash<tapforge::ColorPoint>::operator()(const tapforge::ColorPoint& p) const noexcept {
    tapforge::detail::Hasher h;
    h.addHashed(p.id);
    h.add(p.x);
    h.add(p.y);
    h.add(p.red);
    h.add(p.green);
    h.add(p.blue);
    h.add(p.tolerance);
    h.add(p.enabled);
    return h.value();
}
