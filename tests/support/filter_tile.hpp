#pragma once
// One tile for the raster filter tests: node arrays 1-based as the run holds
// them, nodes listed in the order given.

#include <cstdint>
#include <numeric>
#include <vector>

#include "filter/grid.hpp"
#include "filter/sfilt.hpp"
#include "filter/sparse.hpp"

namespace krel::test {

struct FilterTile {
    std::vector<float> x{0.0F}, y{0.0F}, z{0.0F};  // entry 0 unused

    void add(float px, float py, float pz) {
        x.push_back(px);
        y.push_back(py);
        z.push_back(pz);
    }
    [[nodiscard]] int size() const { return static_cast<int>(x.size()) - 1; }

    // Node numbers 1 .. size() in list order.
    [[nodiscard]] std::vector<std::int32_t> all() const {
        std::vector<std::int32_t> idx(static_cast<std::size_t>(size()));
        std::iota(idx.begin(), idx.end(), 1);
        return idx;
    }

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
