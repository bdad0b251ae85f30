#pragma once
// The raster filter on the occupied cells alone, for a tile whose raster is too
// large to hold cell by cell (extreme coordinates or a tiny raster width). It
// gives the same kept nodes as the cell-by-cell filter on the same grid: an
// empty cell only ever contributes "nothing here" to the near-duplicate sweep
// and the window passes, so only occupied cells need storage.

#include <cstdint>
#include <span>
#include <vector>

#include "filter/grid.hpp"

namespace krel::filter {

// Buffers of the sparse filter, grown to the largest tile it has seen.
struct SparseWork {
    struct Member {
        std::int64_t k;    // the node's cell
        std::int32_t pos;  // its position in the tile's list, 0-based
    };
    std::vector<Member> order;       // the tile's nodes by cell, list order within a cell
    std::vector<std::int64_t> cell;  // occupied cells, increasing
    std::vector<std::int32_t> ipt;   // node of cell[m]; 0 emptied as near-duplicate, -1 too high
    std::vector<float> z0, z1;       // heights of cell[m], as the cell-by-cell rasters
};

// sfilt on `grid` (from tile_grid of the same nodes) without a full raster:
// same arguments, same result, O(n log n) time and O(n) memory.
int sfilt_sparse(const float* x, const float* y, const float* z, std::span<std::int32_t> idx,
                 const Grid& grid, SparseWork& work);

}  // namespace krel::filter
