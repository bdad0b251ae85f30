#pragma once
// A tile for the raster filter tests, filtered through each path.

#include <cstdint>
#include <vector>

#include "filter/grid.hpp"
#include "filter/sfilt.hpp"
#include "filter/sparse.hpp"
#include "support/tile.hpp"

namespace krel::test {

struct FilterTile : Tile {
    // Kept node numbers, in the order sfilt gives them.
    [[nodiscard]] std::vector<std::int32_t> sfilt(float dx, filter::FilterWork& work,
                                                  std::vector<std::int32_t> idx) const {
        const int kept = filter::sfilt(x.data(), y.data(), z.data(), idx, dx, work);
        idx.resize(static_cast<std::size_t>(kept));
        return idx;
    }
    [[nodiscard]] std::vector<std::int32_t> sfilt(float dx) const {
        filter::FilterWork work;
        return sfilt(dx, work, all());
    }

    // The same through the occupied-cells path, whatever the raster size.
    [[nodiscard]] std::vector<std::int32_t> sfilt_sparse(float dx,
                                                         std::vector<std::int32_t> idx) const {
        filter::SparseWork work;
        const filter::Grid grid = filter::tile_grid(x.data(), y.data(), idx, dx);
        const int kept = filter::sfilt_sparse(x.data(), y.data(), z.data(), idx, grid, work);
        idx.resize(static_cast<std::size_t>(kept));
        return idx;
    }
    [[nodiscard]] std::vector<std::int32_t> sfilt_sparse(float dx) const {
        return sfilt_sparse(dx, all());
    }

    // The same cell by cell, however sparse the raster.
    [[nodiscard]] std::vector<std::int32_t> sfilt_cells(float dx, std::vector<std::int32_t> idx) const {
        filter::FilterWork work;
        const filter::Grid grid = filter::tile_grid(x.data(), y.data(), idx, dx);
        const int kept = filter::sfilt_cells(x.data(), y.data(), z.data(), idx, grid, work);
        idx.resize(static_cast<std::size_t>(kept));
        return idx;
    }
    [[nodiscard]] std::vector<std::int32_t> sfilt_cells(float dx) const { return sfilt_cells(dx, all()); }
};

}  // namespace krel::test
