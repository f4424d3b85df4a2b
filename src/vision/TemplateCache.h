// Decoded template images, so a polling image check does not decode PNG data on every attempt.
// Keyed by the template's Base64 text itself (identical image data shares one entry; a renamed
// template keeps its entry; two different texts never share one). Bounded by bytes: a store
// that would take the pixels held past the byte budget empties the cache first. Images larger than
// kMaxTemplatePixels are refused from their PNG header, before decoding. Images handed out stay
// valid after a flush (shared ownership). Thread-safe: a lock covers each lookup and store;
// decoding runs outside it, so two threads missing on the same text may both decode and the
// later store wins.
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
    // One script's whole template budget at 4 bytes a pixel (128 MiB), so the templates of a
    // script that plays all stay decoded.
    static constexpr size_t defaultByteBudget = size_t(kMaxScriptTemplatePixels) * 4;

    // The process-wide instance, created on first use.
    static TemplateCache& shared();

    explicit TemplateCache(size_t byteBudget = defaultByteBudget) : byteBudget_(byteBudget) {}
    TemplateCache(const TemplateCache&) = delete;
    TemplateCache& operator=(const TemplateCache&) = delete;

    // The decoded image of template.pngBase64, from the cache or freshly decoded; null for
    // empty, non-Base64 or undecodable data (nothing is cached then).
    SharedImage image(const ImageTemplate& templ);

    // Number of cached images, and the bytes of their pixels.
    size_t size() const;
    size_t bytes() const;

private:
    mutable std::mutex lock_;
    std::unordered_map<std::string, SharedImage> cache_;
    const size_t byteBudget_;
    size_t bytes_ = 0;
};

}  // namespace tapforge::vision
