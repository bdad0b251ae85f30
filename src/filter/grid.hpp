#pragma once
// The raster laid over one tile, shared by the dense filter and its sparse
// fallback so that both place every node in the same cell.
//
// Cells are 1-based, k = (row - 1) * nx + column, rows from ymin upwards and
// columns by increasing x. A node's column is trunc((x - xmin) / dx) + 1 and its
// row trunc((y - ymin) / dx) + 1, each operation rounded to float.

#include <cstdint>
#include <span>

namespace krel::filter {

// Value of an empty cell in the height rasters.
inline constexpr float kEmpty = -99999.0F;

// Largest cell offset a column or row can take (2^30, exact as a float). Keeps
// nx * ny within 64 bits; offsets beyond it, and infinite ones, share the last
// column or row.
inline constexpr std::int64_t kMaxSpan = std::int64_t{1} << 30;

// trunc(q) for a cell offset q = (x - xmin) / dx, defined for every float:
// NaN (x and xmin the same infinity) and negative values give 0, values at or
// above kMaxSpan give kMaxSpan. The mapping never decreases, so a node is never
// placed beyond the column of xmax: x <= xmax gives fl(x - xmin) <= fl(xmax -
// xmin), and division by a positive dx keeps the order.
constexpr std::int64_t span_of(float q) {
    if (q >= static_cast<float>(kMaxSpan)) return kMaxSpan;
    if (q >= 1.0F) return static_cast<std::int64_t>(q);
    return 0;  // [0, 1), negative or NaN
}

struct Grid {
    float xmin = 0.0F, ymin = 0.0F;  // raster origin: the tile's lowest x and y
    float dx = 0.0F;                 // cell width, same unit as x and y
    std::int64_t nx = 1, ny = 1;     // columns and rows, each 1 .. kMaxSpan + 1

    [[nodiscard]] std::int64_t cells() const { return nx * ny; }

    // Cell of point (px, py), 1 .. cells().
    [[nodiscard]] std::int64_t cell(float px, float py) const {
        const std::int64_t col = span_of((px - xmin) / dx) + 1;
        const std::int64_t row = span_of((py - ymin) / dx) + 1;
        return (row - 1) * nx + col;
    }
};

// Bounding box of the listed nodes (1-based node numbers into x, y; at least
// one), starting from the first one, and the raster it spans. A NaN coordinate
// never widens the box unless it is the first one; then every offset from it is
// NaN and lands in the first column or row.
[[nodiscard]] Grid tile_grid(const float* x, const float* y, std::span<const std::int32_t> idx,
                             float dx);

// Squared threshold of the near-duplicate sweep for raster width dx:
// t = 0.05 * dx, and (0.005)^2 when t < 0.005 or t is NaN, else t * t.
[[nodiscard]] float near_d2(float dx);

// Squared distance in x and y of nodes p and q, in float, the x term first.
inline float dist2(const float* x, const float* y, std::int32_t p, std::int32_t q) {
    const float ex = x[p] - x[q];
    const float ey = y[p] - y[q];
    return ex * ex + ey * ey;
}

// Height above the opening at which a node is dropped (strictly more than this).
inline constexpr float kMaxRise = 0.02F;

}  // namespace krel::filter
