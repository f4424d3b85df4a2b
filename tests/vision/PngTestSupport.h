// Building well-formed and hostile PNG files byte by byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tapforge::vision::test {

inline void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

inline std::vector<uint8_t> chunk(const std::string& type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out, body(type.begin(), type.end());
    put32(out, uint32_t(data.size()));
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    uint32_t crc = ~0u;
    for (uint8_t c : body) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    put32(out, ~crc);
    return out;
}

// A stored (uncompressed) zlib stream of `raw`, so tests need no compressor.
inline std::vector<uint8_t> zlibStored(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> z = {0x78, 0x01};
    size_t pos = 0;
    do {
        const size_t n = std::min<size_t>(65535, raw.size() - pos);
        z.insert(z.end(), {uint8_t(pos + n == raw.size()), uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
        z.insert(z.end(), raw.begin() + long(pos), raw.begin() + long(pos + n));
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
    put32(z, (b << 16) | a);
    return z;
}

// Signature, IHDR, the `extra` chunks, one IDAT holding the filtered rows `raw`, IEND.
inline std::vector<uint8_t> pngFile(uint32_t w, uint32_t h, const std::vector<uint8_t>& raw, uint8_t depth = 8,
                                    uint8_t colourType = 6, const std::vector<uint8_t>& extra = {}) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, header;
    put32(header, w);
    put32(header, h);
    header.insert(header.end(), {depth, colourType, 0, 0, 0});
    for (const auto& part : {chunk("IHDR", header), extra, chunk("IDAT", zlibStored(raw)), chunk("IEND", {})})
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

}  // namespace tapforge::vision::test
