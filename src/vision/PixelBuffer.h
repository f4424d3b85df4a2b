// An owned RGBA copy of an image (row-major, top row first, R G B A, premultiplied alpha)
// with the two reads the matchers need. A value type; safe to read from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tapforge::vision {

// A colour as three integer channels, 0..255 each.
struct Rgb {
    int red = 0;
    int green = 0;
    int blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct PixelBuffer {
    int width = 0;                 // pixels per row, >= 1
    int height = 0;                // rows, >= 1
    std::vector<uint8_t> bytes;    // width * height * 4; channel c of (x, y) at (y * width + x) * 4 + c

    // Integer mean (truncating) of R, G, B over the (2 * radius + 1)^2 square centred on pixel
    // (x, y), counting only pixels inside the buffer; (0, 0, 0) when none is. radius >= 0
    // (a negative radius counts no pixel).
    Rgb averageRGB(int x, int y, int radius) const;

    // One luminance value 0.299 R + 0.587 G + 0.114 B (single precision, stored premultiplied
    // bytes, alpha ignored) per pixel in buffer order: entry y * width + x is pixel (x, y).
    std::vector<float> grayFloats() const;
};

// The grey conversion behind PixelBuffer::grayFloats, over raw RGBA bytes: writes `pixelCount`
// floats to `out`. Vectorised; gives exactly the values of grayScalar pixel by pixel.
void grayFloats(const uint8_t* rgba, size_t pixelCount, float* out);

// The reference formula, one pixel.
inline float grayScalar(uint8_t r, uint8_t g, uint8_t b) {
    return 0.299f * static_cast<float>(r) + 0.587f * static_cast<float>(g) + 0.114f * static_cast<float>(b);
}

}  // namespace tapforge::vision
