// Pixel format conversion for screen grabs. Pure functions, any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tapforge::platform::x11 {

// Converts `height` rows of `width` 32-bit little-endian BGRX pixels (blue in the lowest byte,
// the fourth byte ignored), `sourceStride` bytes apart, into opaque RGBA rows `destStride`
// bytes apart. Written so that the compiler vectorises the inner loop.
void convertBgrxToRgba(const uint8_t* source, size_t sourceStride, uint8_t* dest, size_t destStride, int width,
                       int height);

}  // namespace tapforge::platform::x11
