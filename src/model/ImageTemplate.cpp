#include "model/ImageTemplate.h"

#include "model/Hashing.h"

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
