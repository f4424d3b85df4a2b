#include "model/Uuid.h"

#include <mutex>
#include <random>

namespace tapforge {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isHyphenPosition(size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

}  // namespace

Uuid Uuid::random() {
    // One generator per thread, seeded from the system's entropy source.
    thread_local std::mt19937_64 engine = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    Uuid u;
    const uint64_t hi = engine(), lo = engine();
    for (int i = 0; i < 8; ++i) {
        u.bytes[i] = static_cast<uint8_t>(hi >> (56 - 8 * i));
        u.bytes[8 + i] = static_cast<uint8_t>(lo >> (56 - 8 * i));
    }
    u.bytes[6] = static_cast<uint8_t>((u.bytes[6] & 0x0F) | 0x40);   // version 4
    u.bytes[8] = static_cast<uint8_t>((u.bytes[8] & 0x3F) | 0x80);   // RFC 4122 variant
    return u;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    Uuid u;
    size_t byte = 0;
    for (size_t i = 0; i < 36;) {
        if (isHyphenPosition(i)) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        const int hi = hexValue(text[i]), lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0 || isHyphenPosition(i + 1)) return std::nullopt;
        u.bytes[byte++] = static_cast<uint8_t>(hi << 4 | lo);
        i += 2;
    }
    return u;
}

std::string Uuid::string() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}

}  // namespace tapforge

size_t std::hash<tapforge::Uuid>::operator()(const tapforge::Uuid& u) const noexcept {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : u.bytes) h = (h ^ b) * 1099511628211ull;
    return static_cast<size_t>(h);
}
