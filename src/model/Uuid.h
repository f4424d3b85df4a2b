// 128-bit identifiers of steps and colour points: random version 4, written as
// 36 upper-case hexadecimal characters (8-4-4-4-12), read in either case.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tapforge {

struct Uuid {
    std::array<uint8_t, 16> bytes{};

    // A fresh random version-4 UUID. Thread-safe.
    static Uuid random();
    // Parses the hyphenated 36-character form, either letter case; nothing for anything else.
    static std::optional<Uuid> parse(std::string_view text);
    // The 36-character upper-case form.
    std::string string() const;

    friend bool operator==(const Uuid&, const Uuid&) = default;
    friend auto operator<=>(const Uuid&, const Uuid&) = default;
};

}  // namespace tapforge

template <>
struct std::hash<tapforge::Uuid> {
    size_t operator()(const tapforge::Uuid& u) const noexcept;
};
