#pragma once
// Pseudo-random node draws of point location: three combined multiplicative
// streams, in single precision, so that the same run draws the same nodes.

#include <cstdint>

namespace krel::tin {

// One generator state. Each point-location routine owns one; it is never
// reset, so its stream continues across tiles for the whole run.
struct SeedTriple {
    std::int32_t ix = 1;     // stream 1, 1..30268
    std::int32_t iy = 2;     // stream 2, 1..30306
    std::int32_t iz = 3;     // stream 3, 1..30322
    std::int64_t draws = 0;  // jrand calls made on this triple
};

// A pseudo-random integer in 1..n (n >= 1); advances the seeds by one step
// and counts the draw. In single precision n*u + 1 can round up to n + 1
// (n a power of two, u just below 1); that result is given as n.
std::int32_t jrand(std::int32_t n, SeedTriple& seeds);

}  // namespace krel::tin
