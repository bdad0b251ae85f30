#include "tin/jrand.hpp"

namespace krel::tin {

std::int32_t jrand(std::int32_t n, SeedTriple& seeds) {
    // The products stay below 2^23, so 32-bit arithmetic is exact.
    seeds.ix = (171 * seeds.ix) % 30269;
    seeds.iy = (172 * seeds.iy) % 30307;
    seeds.iz = (170 * seeds.iz) % 30323;
    ++seeds.draws;

    // Each quotient and each sum rounded to float, added in this order.
    const float u0 = (static_cast<float>(seeds.ix) / 30269.0f + static_cast<float>(seeds.iy) / 30307.0f) +
                     static_cast<float>(seeds.iz) / 30323.0f;
    const float u = u0 - static_cast<float>(static_cast<std::int32_t>(u0));
    const auto r = static_cast<std::int32_t>(static_cast<float>(n) * u + 1.0f);
    return r > n ? n : r;
}

}  // namespace krel::tin
