#include "platform/x11/PixelConvert.h"

#include <cstring>

namespace tapforge::platform::x11 {

void convertBgrxToRgba(const uint8_t* source, size_t sourceStride, uint8_t* dest, size_t destStride, int width,
                       int height) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* __restrict in = source + static_cast<size_t>(y) * sourceStride;
        uint8_t* __restrict out = dest + static_cast<size_t>(y) * destStride;
        for (int x = 0; x < width; ++x) {
            uint32_t p;
            std::memcpy(&p, in + static_cast<size_t>(x) * 4, 4);
            // Memory B,G,R,X (little-endian 0xXXRRGGBB) becomes R,G,B,A (0xAABBGGRR).
            const uint32_t q = ((p >> 16) & 0xFFu) | (p & 0xFF00u) | ((p & 0xFFu) << 16) | 0xFF000000u;
            std::memcpy(out + static_cast<size_t>(x) * 4, &q, 4);
        }
    }
}

}  // namespace tapforge::platform::x11
