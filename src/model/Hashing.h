// Hash combining for the model's std::hash specialisations. Equal values must hash equally,
// so doubles are hashed by value (0.0 and -0.0 alike) and optionals include their presence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace tapforge::detail {

class Hasher {
public:
    void add(uint64_t v) {
        // 64-bit mix (splitmix64 finaliser) folded into the running state.
        v += 0x9E3779B97F4A7C15ull;
        v = (v ^ (v >> 30)) * 0xBF58476D1CE4E5B9ull;
        v = (v ^ (v >> 27)) * 0x94D049BB133111EBull;
        v ^= v >> 31;
        state_ = (state_ ^ v) * 0x100000001B3ull + 0x9E3779B97F4A7C15ull;
    }
    void add(int64_t v) { add(static_cast<uint64_t>(v)); }
    void add(bool v) { add(static_cast<uint64_t>(v ? 1 : 2)); }
    void add(double v) {
        if (v == 0) v = 0;   // -0.0 == 0.0
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        add(bits);
    }
    void add(const std::string& s) {
        add(static_cast<uint64_t>(std::hash<std::string>{}(s)));
        add(static_cast<uint64_t>(s.size()));
    }
    template <class E>
        requires std::is_enum_v<E>
    void add(E e) {
        add(static_cast<uint64_t>(e));
    }
    template <class T>
    void add(const std::optional<T>& o) {
        add(o.has_value());
        if (o) addHashed(*o);
    }
    template <class T>
    void add(const std::vector<T>& list) {
        add(static_cast<uint64_t>(list.size()));
        for (const T& item : list) addHashed(item);
    }
    // Anything with its own std::hash.
    template <class T>
    void addHashed(const T& value) {
        if constexpr (std::is_same_v<T, bool> || std::is_floating_point_v<T> || std::is_enum_v<T> ||
                      std::is_same_v<T, std::string>)
            add(value);
        else if constexpr (std::is_integral_v<T>)
            add(static_cast<uint64_t>(value));
        else
            add(static_cast<uint64_t>(std::hash<T>{}(value)));
    }

    size_t value() const { return static_cast<size_t>(state_); }

private:
    uint64_t state_ = 0xCBF29CE484222325ull;
};

}  // namespace tapforge::detail
