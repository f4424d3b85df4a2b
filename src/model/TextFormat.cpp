#include "model/TextFormat.h"

#include <cstdint>

namespace tapforge::detail {

namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes one code point at `pos`; an invalid or truncated sequence yields kInvalid, length 1.
char32_t decode(std::string_view s, size_t pos, size_t& length) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b0 = byte(pos);
    length = 1;
    if (b0 < 0x80) return b0;
    size_t n;
    char32_t cp, min;
    if ((b0 & 0xE0) == 0xC0) n = 2, cp = b0 & 0x1F, min = 0x80;
    else if ((b0 & 0xF0) == 0xE0) n = 3, cp = b0 & 0x0F, min = 0x800;
    else if ((b0 & 0xF8) == 0xF0) n = 4, cp = b0 & 0x07, min = 0x10000;
    else return kInvalid;
    if (pos + n > s.size()) return kInvalid;
    for (size_t i = 1; i < n; ++i) {
        const unsigned char b = byte(pos + i);
        if ((b & 0xC0) != 0x80) return kInvalid;
        cp = cp << 6 | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kInvalid;
    length = n;
    return cp;
}

struct Range {
    char32_t first, last;
};

// Code points that attach to the preceding character: combining marks of the common scripts,
// variation selectors, emoji skin-tone modifiers, tag characters, Hangul medial/final jamo.
constexpr Range kExtending[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x05BF, 0x05BF}, {0x05C1, 0x05C2},
    {0x05C4, 0x05C5}, {0x05C7, 0x05C7}, {0x0610, 0x061A}, {0x064B, 0x065F}, {0x0670, 0x0670},
    {0x06D6, 0x06DC}, {0x06DF, 0x06E4}, {0x06E7, 0x06E8}, {0x06EA, 0x06ED}, {0x0900, 0x0903},
    {0x093A, 0x094F}, {0x0951, 0x0957}, {0x0962, 0x0963}, {0x0E31, 0x0E31}, {0x0E34, 0x0E3A},
    {0x0E47, 0x0E4E}, {0x1160, 0x11FF}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200C, 0x200D},
    {0x20D0, 0x20FF}, {0x302A, 0x302F}, {0x3099, 0x309A}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
    {0x1F3FB, 0x1F3FF}, {0xE0020, 0xE007F}, {0xE0100, 0xE01EF},
};

bool extends(char32_t cp) {
    for (const Range& r : kExtending)
        if (cp >= r.first && cp <= r.last) return true;
    return false;
}

bool isRegionalIndicator(char32_t cp) { return cp >= 0x1F1E6 && cp <= 0x1F1FF; }

}  // namespace

std::string_view leadingCharacters(std::string_view text, size_t count) {
    size_t pos = 0;
    for (size_t taken = 0; taken < count && pos < text.size(); ++taken) {
        size_t length;
        const char32_t first = decode(text, pos, length);
        pos += length;
        if (first == kInvalid) continue;
        if (first == '\r' && pos < text.size() && text[pos] == '\n') {
            ++pos;
            continue;
        }
        bool pendingRegional = isRegionalIndicator(first);
        char32_t previous = first;
        while (pos < text.size()) {
            const char32_t next = decode(text, pos, length);
            if (next == kInvalid) break;
            const bool joins = extends(next) || previous == 0x200D ||
                               (pendingRegional && isRegionalIndicator(next));
            if (!joins) break;
            if (pendingRegional && isRegionalIndicator(next)) pendingRegional = false;
            previous = next;
            pos += length;
        }
    }
    return text.substr(0, pos);
}

}  // namespace tapforge::detail
