#pragma once
// The tile partition: a square grid of tiles 400 raster cells wide, numbered
// in the order in which their first node occurs in the node arrays.

#include <cstdint>
#include <vector>

#include "io/textout.hpp"

namespace krel::tiles {

// Gives every node 1..n its tile number in itile[1..n] (1-based arrays) and
// returns the tile count. ts is the tile width (400 * dx), dx the raster width
// (for the half-cell shift of the grid origin). Shows the sweep's progress and
// the ">Tiles" line on console. Linear in n for any number of tiles.
std::int32_t gettiles(std::int32_t n, const float* x, const float* y, float ts, float dx,
                      std::int32_t* itile, io::TextOut& console);

// Lays the nodes out tile by tile: idx[1..n] receives the node numbers of tile
// 1 in increasing order, then those of tile 2, and so on; start[t] (t = 1..ntiles)
// is the position in idx before tile t's first node, start[ntiles + 1] = n.
void collect_tiles(std::int32_t n, const std::int32_t* itile, std::int32_t ntiles, std::int32_t* idx,
                   std::vector<std::int64_t>& start);

}  // namespace krel::tiles
