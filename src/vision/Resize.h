// High-quality resampling of RGBA images and grey planes.
// Downscaling averages the exact source area under each target pixel (box filter with
// fractional edge weights: no aliasing, no ringing, and every source pixel counts — what a
// template search wants from a strongly reduced screen). Upscaling is bilinear with pixel
// centres aligned. Each axis is treated on its own, so one may shrink while the other grows.
// Pure functions; callable from any thread.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/ScreenGrab.h"
#include "vision/ScreenSnapshot.h"

namespace tapforge::vision {

// A copy of `image` scaled to exactly width x height pixels; the same object when it already
// has that size; nothing when width or height < 1 or the source is empty.
SharedImage resized(const SharedImage& image, int width, int height);

// RGBA resampling into `out` (its buffer reused). False when a size is < 1 or src is empty.
bool resizeRgba(const platform::RgbaImage& src, int width, int height, platform::RgbaImage& out);

// The same filter on one grey plane (srcW x srcH floats, rows `srcStride` floats apart) into
// `out` (resized to width * height, row-major). Linear, so resizing grey equals the grey of the
// resized RGBA up to the 8-bit rounding the RGBA path adds. False when a size is < 1.
bool resizeGray(const float* src, int srcW, int srcH, size_t srcStride, int width, int height,
                std::vector<float>& out);

}  // namespace tapforge::vision
