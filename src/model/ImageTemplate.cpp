#include "model/ImageTemplate.h"

#include "model/Hashing.h"

namespace tapforge {

namespace {

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

uint32_t bigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

std::optional<PixelSize> ImageTemplate::declaredPixelSize() const {
    // Signature (8 bytes), IHDR length and type (8), width and height (8): 24 bytes, the
    // first 32 characters.
    if (pngBase64.size() < 32) return std::nullopt;
    uint8_t bytes[24];
    for (size_t group = 0; group < 8; ++group) {
        uint32_t bits = 0;
        for (size_t k = 0; k < 4; ++k) {
            const int v = base64Value(pngBase64[group * 4 + k]);
            if (v < 0) return std::nullopt;
            bits = bits << 6 | uint32_t(v);
        }
        bytes[group * 3] = uint8_t(bits >> 16);
        bytes[group * 3 + 1] = uint8_t(bits >> 8);
        bytes[group * 3 + 2] = uint8_t(bits);
    }
    static constexpr uint8_t head[16] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (size_t i = 0; i < 16; ++i)
        if (bytes[i] != head[i]) return std::nullopt;
    return PixelSize{bigEndian32(bytes + 16), bigEndian32(bytes + 20)};
}

}  // namespace tapforge

size_t std::hash<tapforge::ImageTemplate>::operator()(const tapforge::ImageTemplate& t) const noexcept {
    tapforge::detail::Hasher h;
    h.add(t.name);
    h.add(t.widthPoints);
    h.add(t.heightPoints);
    h.add(t.originX);
    h.add(t.originY);
    h.add(t.pixelScale);
    h.add(t.pngBase64);
    return h.value();
}
