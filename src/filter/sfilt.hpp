#pragma once
// Morphological raster filter of one tile: lowest node per raster cell, no
// near-duplicates, nothing more than 0.02 above the 3 x 3 opening of the cell
// heights.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "filter/sparse.hpp"
#include "io/huge_pages.hpp"

namespace krel::filter {


// Largest raster held cell by cell (the rasters grow up to it, about 50 MB for
// the three). A tile whose raster is larger only arises from extreme
// coordinates or a tiny raster width; it is filtered on its occupied cells.
inline constexpr std::int64_t kDenseMaxCells = std::int64_t{1} << 22;

// The filter's rasters, owned by the run and reused tile after tile. Every call
// sets every cell it reads, so no tile depends on an earlier one. Entry 0 of
// each raster is unused: cell k is entry k.
struct FilterWork {
    // The three rasters, cells() + 1 entries each, in one block: a full tile's
    // (160,001 cells) fills a single 2 MiB page.
    std::int32_t* ipt = nullptr;  // node kept; 0 none, -1 dropped by the height test
    float* z0 = nullptr;          // lowest height (kEmpty: none), then the opened height
    float* z1 = nullptr;          // eroded heights between the two window passes
    SparseWork sparse;            // rasters beyond kDenseMaxCells

    explicit FilterWork(std::size_t cells = 0);

    [[nodiscard]] std::size_t cells() const { return cells_; }
    // Grows the rasters to at least `cells` (at least doubling, up to
    // kDenseMaxCells); never shrinks them. On
    // std::bad_alloc the rasters are left as they were.
    void reserve_cells(std::size_t cells);

private:
    std::size_t cells_ = 0;
    io::HugeArray<std::byte> block_{nullptr, io::HugeDeleter{0}};
};

// Filters one tile. x, y, z: the run's node arrays, 1-based (node i is x[i],
// y[i], z[i]; x[0] is unused). idx: the tile's node numbers in list order.
// dx: the raster width, > 0.
//
// The raster spans the tile's own bounding box (origin at its lowest x and y);
// each node lies in column trunc((x - xmin) / dx) + 1 and row
// trunc((y - ymin) / dx) + 1. Per cell the lowest node is kept, the first listed
// among equal heights. Sweeping the cells from nx + 2 upwards, a node nearer
// than the threshold (0.05 * dx, at least 0.005) to the node still held by cell
// k - 1, k - nx or k - nx - 1 is dropped (for a first-column cell these are the
// last cells of the rows below). With two rows or more, a node more than 0.02
// above the 3 x 3 opening (erosion, then dilation, over positive heights) is
// dropped; heights of 0 or below are never dropped by this test.
//
// Rewrites idx[0 .. kept) with the kept nodes in cell order and returns kept
// (1 .. idx.size(); 0 only for an empty list). Prints nothing, fails never: a
// raster beyond work.cells() grows the rasters; one beyond kDenseMaxCells, or
// one the rasters cannot grow to, is filtered on its occupied cells with the
// same result.
int sfilt(const float* x, const float* y, const float* z, std::span<std::int32_t> idx, float dx,
          FilterWork& work);

// Rasters with more than this many cells per listed node go to the sparse
// filter: below about one node in 64 cells the sparse filter is the faster.
inline constexpr std::int64_t kSparseRatio = 64;

// sfilt cell by cell on `grid` (tile_grid of the same nodes), whatever the
// raster's filling; the reference for the sparse filter that sfilt picks for
// sparse rasters. A raster beyond kDenseMaxCells, or one the work cannot grow
// to, still goes sparse.
int sfilt_cells(const float* x, const float* y, const float* z, std::span<std::int32_t> idx, const Grid& grid,
                FilterWork& work);

}  // namespace krel::filter
