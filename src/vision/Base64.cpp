#include "vision/Base64.h"

#include <array>

namespace tapforge::vision {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> decodeTable() {
    std::array<int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (int i = 0; i < 64; ++i) t[static_cast<uint8_t>(alphabet[i])] = static_cast<int8_t>(i);
    return t;
}

constexpr auto table = decodeTable();

}  // namespace

std::optional<std::vector<uint8_t>> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int pad = 0;
        if (last) {
            if (text[i + 3] == '=') pad = text[i + 2] == '=' ? 2 : 1;
        }
        int v[4];
        for (int k = 0; k < 4; ++k) {
            if (k >= 4 - pad) {
                v[k] = 0;
                continue;
            }
            v[k] = table[static_cast<uint8_t>(text[i + k])];
            if (v[k] < 0) return std::nullopt;   // includes '=' anywhere but the final padding
        }
        const uint32_t word = (uint32_t(v[0]) << 18) | (uint32_t(v[1]) << 12) | (uint32_t(v[2]) << 6) | uint32_t(v[3]);
        out.push_back(static_cast<uint8_t>(word >> 16));
        if (pad < 2) out.push_back(static_cast<uint8_t>(word >> 8));
        if (pad < 1) out.push_back(static_cast<uint8_t>(word));
    }
    return out;
}

std::string encodeBase64(std::span<const uint8_t> bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t w = (uint32_t(bytes[i]) << 16) | (uint32_t(bytes[i + 1]) << 8) | bytes[i + 2];
        out += alphabet[(w >> 18) & 63];
        out += alphabet[(w >> 12) & 63];
        out += alphabet[(w >> 6) & 63];
        out += alphabet[w & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest == 1) {
        const uint32_t w = uint32_t(bytes[i]) << 16;
        out += alphabet[(w >> 18) & 63];
        out += alphabet[(w >> 12) & 63];
        out += "==";
    } else if (rest == 2) {
        const uint32_t w = (uint32_t(bytes[i]) << 16) | (uint32_t(bytes[i + 1]) << 8);
        out += alphabet[(w >> 18) & 63];
        out += alphabet[(w >> 12) & 63];
        out += alphabet[(w >> 6) & 63];
        out += '=';
    }
    return out;
}

}  // namespace tapforge::vision
