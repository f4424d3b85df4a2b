#include "model/Script.h"

#include "model/Hashing.h"

size_t std::hash<tapforge::Script>::operator()(const tapforge::Script& s) const noexcept {
    tapforge::detail::Hasher h;
    h.add(s.name);
    h.add(s.steps);
    h.add(s.loopCount);
    h.add(s.stepIntervalMs);
    h.add(s.templates);
    return h.value();
}
