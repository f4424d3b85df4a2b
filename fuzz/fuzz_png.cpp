// Feeds arbitrary bytes to the template PNG decoder: it must never crash, leak or allocate
// beyond its limits, and whatever it returns must be a consistent RGBA image.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "model/ImageTemplate.h"
#include "vision/PngCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The limits template images from script files are decoded under.
    tapforge::vision::PngLimits limits;
    limits.maxPixels = tapforge::kMaxTemplatePixels;
    const auto image = tapforge::vision::PngCodec::decode(std::span<const uint8_t>(data, size), limits);
    if (image) {
        if (image->width < 1 || image->height < 1 ||
            image->pixels.size() != static_cast<size_t>(image->width) * image->height * 4)
            std::abort();
        // Re-encoding a decoded image must succeed and decode to the same size.
        const auto png = tapforge::vision::PngCodec::encode(*image);
        if (!png) std::abort();
        const auto again = tapforge::vision::PngCodec::decode(*png);
        if (!again || again->width != image->width || again->height != image->height) std::abort();
    }
    return 0;
}
