#include "filter/grid.hpp"

#include <cmath>

namespace krel::filter {

Grid tile_grid(const float* x, const float* y, std::span<const std::int32_t> idx, float dx) {
    float xmin = x[idx[0]];
    float xmax = xmin;
    float ymin = y[idx[0]];
    float ymax = ymin;
    for (const std::int32_t p : idx) {
        if (x[p] < xmin) xmin = x[p];
        if (x[p] > xmax) xmax = x[p];
        if (y[p] < ymin) ymin = y[p];
        if (y[p] > ymax) ymax = y[p];
    }
    Grid g;
    g.xmin = xmin;
    g.ymin = ymin;
    g.dx = dx;
    // Same expression as a node's column and row, so the node at xmax (ymax)
    // lands exactly in the last column (row).
    g.nx = span_of((xmax - xmin) / dx) + 1;
    g.ny = span_of((ymax - ymin) / dx) + 1;
    return g;
}

float near_d2(float dx) {
    const float t = 0.05F * dx;
    if (t < 0.005F || std::isnan(t)) return 2.5E-5F;
    return t * t;
}

}  // namespace krel::filter
