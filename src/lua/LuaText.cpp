#include "lua/LuaText.h"

#include <cstdint>
#include <locale>

namespace tapforge {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at `pos`; `length` is how many bytes it (or the ill-formed
// subpart replaced by U+FFFD) occupies.
char32_t decode(std::string_view s, size_t pos, size_t& length) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
    const uint8_t lead = byte(pos);
    length = 1;
    if (lead < 0x80) return lead;
    size_t needed = 0;
    uint8_t low = 0x80, high = 0xBF;   // allowed range of the second byte
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) { needed = 1; cp = lead & 0x1F; }
    else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2; cp = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;   // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3; cp = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;   // nothing above U+10FFFF
    } else {
        return kReplacement;
    }
    for (size_t k = 1; k <= needed; ++k) {
        if (pos + k >= s.size()) return kReplacement;
        const uint8_t b = byte(pos + k);
        const uint8_t lo = k == 1 ? low : 0x80, hi = k == 1 ? high : 0xBF;
        if (b < lo || b > hi) return kReplacement;
        cp = (cp << 6) | (b & 0x3F);
        length = k + 1;
    }
    return cp;
}

}  // namespace

void appendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

namespace {

template <class F>
std::string mapCodePoints(std::string_view s, F map) {
    std::string out;
    out.reserve(s.size());
    size_t length = 0;
    for (size_t pos = 0; pos < s.size(); pos += length) appendUtf8(map(decode(s, pos, length)), out);
    return out;
}

const std::ctype<wchar_t>& unicodeCtype() {
    static const std::locale locale = [] {
        try {
            return std::locale("C.UTF-8");
        } catch (const std::exception&) {
            return std::locale::classic();
        }
    }();
    return std::use_facet<std::ctype<wchar_t>>(locale);
}

bool isSpace(char32_t cp) {
    switch (cp) {
        case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20: case 0x85: case 0xA0:
        case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return cp >= 0x2000 && cp <= 0x200A;
    }
}

}  // namespace

std::string sanitizeUtf8(std::string_view bytes) {
    return mapCodePoints(bytes, [](char32_t cp) { return cp; });
}

std::string lowercased(std::string_view text) {
    const auto& ctype = unicodeCtype();
    return mapCodePoints(text, [&](char32_t cp) -> char32_t {
        if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
        return static_cast<char32_t>(ctype.tolower(static_cast<wchar_t>(cp)));
    });
}

std::string trimmedWhitespace(std::string_view text) {
    const std::string repaired = sanitizeUtf8(text);
    std::string_view s = repaired;
    size_t begin = 0, end = s.size(), length = 0;
    while (begin < end) {
        if (!isSpace(decode(s, begin, length))) break;
        begin += length;
    }
    // Scan forward, remembering where the last non-space code point ended.
    size_t lastEnd = begin;
    for (size_t pos = begin; pos < end; pos += length)
        if (!isSpace(decode(s, pos, length))) lastEnd = pos + length;
    return std::string(s.substr(begin, lastEnd - begin));
}

}  // namespace tapforge
