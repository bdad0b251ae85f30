#pragma once
// Pieces shared by the LAZ item coders: little-endian fields, wrapping
// addition, models made on first use, the median-of-five predictor and the
// context step of the coordinate coders. Internal to the LAZ reader.

#include <algorithm>
#include <array>
#include <cstdint>

#include "io/laz_arith.hpp"

namespace krel::io::laz {

inline std::int32_t get32(const unsigned char* p) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                     static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t get64(const unsigned char* p) {
    return static_cast<std::uint32_t>(get32(p)) | std::uint64_t{static_cast<std::uint32_t>(get32(p + 4))} << 32;
}
inline std::uint16_t get16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline void put32(unsigned char* p, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    p[0] = static_cast<unsigned char>(u);
    p[1] = static_cast<unsigned char>(u >> 8);
    p[2] = static_cast<unsigned char>(u >> 16);
    p[3] = static_cast<unsigned char>(u >> 24);
}
inline void put64(unsigned char* p, std::uint64_t v) {
    put32(p, static_cast<std::int32_t>(static_cast<std::uint32_t>(v)));
    put32(p + 4, static_cast<std::int32_t>(static_cast<std::uint32_t>(v >> 32)));
}
inline void put16(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline std::int32_t wrap_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline SymbolModel& lazy(SymbolModel& m, std::uint32_t symbols) {
    if (!m.ready()) m.init(symbols);
    return m;
}

// Median of the last five values, kept sorted; `high` says on which side the
// next value replaces the oldest. Starts at five zeros.
//
// A new value drops the largest (high) or the smallest value and is merged
// into the other four. The merge is a min/max network rather than the chain
// of comparisons it replaces: the values come in no order a branch predictor
// could learn, and both give the same sorted five (equal values are equal
// integers, so ties cannot be told apart).
struct Median5 {
    std::array<std::int32_t, 5> v{};
    bool high = true;

    [[nodiscard]] std::int32_t get() const { return v[2]; }
    void add(std::int32_t x) {
        // The four kept start at v[0] or v[1]: an index, not a branch on
        // high, which the values make as unpredictable as a coin.
        const std::int32_t* a = v.data() + (high ? 0 : 1);
        const std::int32_t a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
        // high: stays so while x falls below the median; low: turns high
        // unless x lies above it.
        high = (x < v[2]) | (!high & (x == v[2]));
        // The pair (a0, x) ordered by a mask: as min and max of one pair
        // the compiler makes it a branch.
        const std::uint32_t swap =
            (static_cast<std::uint32_t>(a0) ^ static_cast<std::uint32_t>(x)) & (0U - (x < a0 ? 1U : 0U));
        const auto lo0 = static_cast<std::int32_t>(static_cast<std::uint32_t>(a0) ^ swap);
        const auto hi0 = static_cast<std::int32_t>(static_cast<std::uint32_t>(x) ^ swap);
        v[0] = lo0;
        v[1] = std::min(a1, hi0);
        v[2] = std::min(a2, std::max(a1, x));
        v[3] = std::min(a3, std::max(a2, x));
        v[4] = std::max(a3, x);
    }
};

// Context step of the Y and Z coders: an even bit length, capped.
inline std::uint32_t k_context(std::uint32_t k, std::uint32_t cap) { return k < cap ? (k & ~1U) : cap; }

}  // namespace krel::io::laz
