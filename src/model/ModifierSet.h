// Modifier keys held during a click or key press: an option set over a signed 64-bit raw
// value (command 1, shift 2, option 4, control 8, function 16). Bits outside these are
// carried through files unchanged but have no effect. Header-only: the key map uses it too.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tapforge {

struct ModifierSet {
    int64_t rawValue = 0;

    static constexpr ModifierSet command() { return {1}; }
    static constexpr ModifierSet shift() { return {2}; }
    static constexpr ModifierSet option() { return {4}; }
    static constexpr ModifierSet control() { return {8}; }
    static constexpr ModifierSet function() { return {16}; }

    constexpr bool empty() const { return rawValue == 0; }
    constexpr bool contains(ModifierSet other) const { return (rawValue & other.rawValue) == other.rawValue; }
    constexpr void insert(ModifierSet other) { rawValue |= other.rawValue; }
    constexpr void remove(ModifierSet other) { rawValue &= ~other.rawValue; }
    friend constexpr ModifierSet operator|(ModifierSet a, ModifierSet b) { return {a.rawValue | b.rawValue}; }
    friend constexpr bool operator==(ModifierSet, ModifierSet) = default;

    // Symbols of the members present, in the order control, option, shift, command, function.
    std::string symbols() const;
    // Bitwise OR of the Quartz event flags of the members present.
    constexpr uint64_t cgFlags() const;
    // (virtual key code, single-member set) for the members present, in press order;
    // the player releases them in reverse.
    std::vector<std::pair<uint16_t, ModifierSet>> pressOrder() const;
};

struct ModifierMember {
    ModifierSet flag;
    const char* symbol;
    uint64_t cgFlag;     // Quartz event flag
    uint16_t keyCode;    // virtual key code pressed for it
};

// Members in display and press order: control, option, shift, command, function.
inline constexpr ModifierMember kModifierMembers[5] = {
    {ModifierSet::control(), "\u2303", 0x40000, 59},
    {ModifierSet::option(), "\u2325", 0x80000, 58},
    {ModifierSet::shift(), "\u21E7", 0x20000, 56},
    {ModifierSet::command(), "\u2318", 0x100000, 55},
    {ModifierSet::function(), "fn+", 0x800000, 63},
};

inline std::string ModifierSet::symbols() const {
    std::string out;
    for (const ModifierMember& m : kModifierMembers)
        if (contains(m.flag)) out += m.symbol;
    return out;
}

constexpr uint64_t ModifierSet::cgFlags() const {
    uint64_t flags = 0;
    for (const ModifierMember& m : kModifierMembers)
        if (contains(m.flag)) flags |= m.cgFlag;
    return flags;
}

inline std::vector<std::pair<uint16_t, ModifierSet>> ModifierSet::pressOrder() const {
    std::vector<std::pair<uint16_t, ModifierSet>> out;
    for (const ModifierMember& m : kModifierMembers)
        if (contains(m.flag)) out.emplace_back(m.keyCode, m.flag);
    return out;
}

}  // namespace tapforge
