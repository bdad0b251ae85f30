#include "filter/sfilt.hpp"

#include <algorithm>
#include <cassert>
#include <new>

#include "filter/grid.hpp"
#include "filter/morfilt.hpp"

namespace krel::filter {

FilterWork::FilterWork(std::size_t cells) { reserve_cells(cells); }

void FilterWork::reserve_cells(std::size_t cells) {
    if (block_ && cells <= cells_) return;
    if (block_) cells = std::max(cells, std::min(static_cast<std::size_t>(kDenseMaxCells), 2 * cells_));
    // Each raster on its own cache lines. Nothing is kept from a smaller
    // block: every call sets every cell it reads.
    const std::size_t one = io::whole_lines((cells + 1) * sizeof(float));
    static_assert(sizeof(float) == sizeof(std::int32_t));
    io::HugeArray<std::byte> block = io::allocate_huge_array<std::byte>(3 * one);
    if (!block) throw std::bad_alloc();
    ipt = reinterpret_cast<std::int32_t*>(block.get());
    z0 = reinterpret_cast<float*>(block.get() + one);
    z1 = reinterpret_cast<float*>(block.get() + 2 * one);
    block_ = std::move(block);
    cells_ = cells;
}

int sfilt(const float* x, const float* y, const float* z, std::span<std::int32_t> idx, float dx,
          FilterWork& work) {
    if (idx.empty()) return 0;

    // 1. Bounding box and raster size.
    const Grid grid = tile_grid(x, y, idx, dx);
    // A sparsely filled raster (a tile at the edge of the data, scattered
    // returns) costs the cell-by-cell sweeps far more than the occupied cells
    // cost the sparse filter, which gives the same nodes.
    if (static_cast<std::int64_t>(idx.size()) * kSparseRatio < grid.cells())
        return sfilt_sparse(x, y, z, idx, grid, work.sparse);
    return sfilt_cells(x, y, z, idx, grid, work);
}

int sfilt_cells(const float* x, const float* y, const float* z, std::span<std::int32_t> idx, const Grid& grid,
                FilterWork& work) {
    if (idx.empty()) return 0;
    if (grid.cells() > kDenseMaxCells) return sfilt_sparse(x, y, z, idx, grid, work.sparse);
    try {
        work.reserve_cells(static_cast<std::size_t>(grid.cells()));
    } catch (const std::bad_alloc&) {
        // Short of memory (the run may already be thinning its data): the
        // occupied cells need far less and give the same nodes.
        return sfilt_sparse(x, y, z, idx, grid, work.sparse);
    }
    const int nx = static_cast<int>(grid.nx);
    const int ny = static_cast<int>(grid.ny);
    const int ncell = nx * ny;
    std::int32_t* ipt = work.ipt;
    float* z0 = work.z0;
    float* z1 = work.z1;
    // Only cells 1 .. ncell are read below, so clearing those is enough.
    std::fill(ipt + 1, ipt + 1 + ncell, 0);

    // 2. Lowest node per cell; an equal height does not replace, so the node
    // listed first stays.
    for (const std::int32_t p : idx) {
        const auto k = static_cast<int>(grid.cell(x[p], y[p]));
        assert(k >= 1 && k <= ncell);  // x <= xmax and y <= ymax, see span_of
        if (ipt[k] == 0 || z[ipt[k]] > z[p]) ipt[k] = p;
    }

    // 3 and 4 in one sweep: the height raster, then the near-duplicates.
    // Cells are emptied as the sweep goes, so an emptied cell is no longer a
    // neighbour of the cells after it; the neighbours (k - 1, k - nx, k - nx
    // - 1) come earlier, so they are final when cell k reads them. For a
    // first-column cell, k - 1 and k - nx - 1 wrap to the last cells of the
    // rows below; the distance decides for them as for any other neighbour.
    const float d2 = near_d2(grid.dx);
    for (int k = 1; k <= ncell; ++k) {
        if (ipt[k] == 0) {
            z0[k] = kEmpty;
            continue;
        }
        z0[k] = z[ipt[k]];
        if (k < nx + 2) continue;
        for (const int kn : {k - 1, k - nx, k - nx - 1}) {
            if (ipt[kn] == 0) continue;
            if (d2 > dist2(x, y, ipt[k], ipt[kn])) {
                ipt[k] = 0;
                z0[k] = kEmpty;
                break;
            }
        }
    }

    // 5. Opening: erosion into z1, dilation back into z0. A single row keeps the
    // raw lowest heights, so its height test drops nothing.
    if (ny >= 2) {
        morfilt(nx, ny, z0 + 1, z1 + 1, 1, 0);
        morfilt(nx, ny, z1 + 1, z0 + 1, 1, 1);
    }

    // 6 and 7 in one sweep: the height test (exactly 0.02 above the opening
    // stays), then compaction in cell order. At most one node per listed
    // node survives, so idx has room.
    int kept = 0;
    for (int k = 1; k <= ncell; ++k)
        if (ipt[k] > 0 && !(z[ipt[k]] - z0[k] > kMaxRise)) idx[static_cast<std::size_t>(kept++)] = ipt[k];
    return kept;
}

}  // namespace krel::filter
