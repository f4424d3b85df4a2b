// Standard Base64 (RFC 4648 alphabet, '=' padding). Decoding is strict: no line breaks,
// spaces or other characters, length a multiple of 4, '=' only as the final padding. Like most
// decoders it ignores the unused low bits of the last group. Callable from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tapforge::vision {

std::optional<std::vector<uint8_t>> decodeBase64(std::string_view text);
std::string encodeBase64(std::span<const uint8_t> bytes);

}  // namespace tapforge::vision
