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
    PngLimits limits;
    limits.maxPixels = kMaxTemplatePixels;
    auto decoded = PngCodec::decode(*bytes, limits);
    if (!decoded) return nullptr;
    SharedImage image = std::make_shared<const platform::RgbaImage>(std::move(*decoded));
    const size_t size = image->pixels.size();
    std::lock_guard guard(lock_);
    if (auto it = cache_.find(key); it != cache_.end()) {
        bytes_ -= it->second->pixels.size();
        cache_.erase(it);
    }
    // Flush everything rather than evict one: cheap, and one script's templates fit.
    if (bytes_ + size > byteBudget_) {
        cache_.clear();
        bytes_ = 0;
    }
    cache_.emplace(key, image);
    bytes_ += size;
    return image;
}

size_t TemplateCache::size() const {
    std::lock_guard guard(lock_);
    return cache_.size();
}

size_t TemplateCache::bytes() const {
    std::lock_guard guard(lock_);
    return bytes_;
}

}  // namespace tapforge::vision
