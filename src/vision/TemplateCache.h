// Decoded template images, so a polling image check does not decode PNG data on every attempt.
// Keyed by the template's Base64 text itself (identical image data shares one entry; a renamed
// template keeps its entry; two different texts never share one). Holds at most 24 images:
// a store that brings it to 25 empties it completely. Images handed out stay valid after a
// flush (shared ownership). Thread-safe: a lock covers each lookup and store; decoding runs
// outside it, so two threads missing on the same text may both decode and the later store wins.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

#include "model/ImageTemplate.h"
#include "vision/ScreenSnapshot.h"

namespace tapforge::vision {

class TemplateCache {
public:
    static constexpr size_t flushAt = 25;

    // The process-wide instance, created on first use.
    static TemplateCache& shared();

    TemplateCache() = default;
    TemplateCache(const TemplateCache&) = delete;
    TemplateCache& operator=(const TemplateCache&) = delete;

    // The decoded image of template.pngBase64, from the cache or freshly decoded; null for
    // empty, non-Base64 or undecodable data (nothing is cached then).
    SharedImage image(const ImageTemplate& templ);

    // Number of cached images.
    size_t size() const;

private:
    mutable std::mutex lock_;
    std::unordered_map<std::string, SharedImage> cache_;
};

}  // namespace tapforge::vision
