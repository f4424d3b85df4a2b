#include "vision/TemplateCache.h"

#include "vision/Base64.h"
#include "vision/PngCodec.h"

namespace tapforge::vision {

TemplateCache& TemplateCache::shared() {
    static TemplateCache instance;
    return instance;
}

SharedImage TemplateCache::image(const ImageTemplate& templ) {
    const std::string& key = templ.pngBase64;
    if (key.empty()) return nullptr;
    {
        std::lock_guard guard(lock_);
        if (auto it = cache_.find(key); it != cache_.end()) return it->second;
    }
    const auto bytes = decodeBase64(key);
    if (!bytes) return nullptr;
    auto decoded = PngCodec::decode(*bytes);
    if (!decoded) return nullptr;
    SharedImage image = std::make_shared<const platform::RgbaImage>(std::move(*decoded));
    std::lock_guard guard(lock_);
    cache_[key] = image;
    // Flush everything rather than evict one: cheap, and a script rarely uses that many.
    if (cache_.size() >= flushAt) cache_.clear();
    return image;
}

size_t TemplateCache::size() const {
    std::lock_guard guard(lock_);
    return cache_.size();
}

}  // namespace tapforge::vision
