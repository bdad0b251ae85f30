#pragma once
// The size every tile stage is first allocated for. A tile is 400 raster
// cells wide and, through rounding at its edges, spans at most 401 x 401
// cells; 404 x 404 entries hold that raster, and as greedy-insertion slots
// those points and the four frame corners.

#include <cstdint>

namespace krel::tiles {

inline constexpr std::int32_t kTileSlots = 404 * 404;  // 163,216

}  // namespace krel::tiles
