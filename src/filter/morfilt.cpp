#include "filter/morfilt.hpp"

#include <algorithm>
#include <cstddef>

namespace krel::filter {

namespace {

// One pass with the comparison fixed, so the inner loop has no test of imax.
// The result goes to zout once per cell: writing the copy first and the
// result later would let the store alias the next reads of zin.
template <bool kMax>
void window_pass(int nx, int ny, const float* zin, float* zout, int nw) {
    const auto unx = static_cast<std::size_t>(nx);
    for (int j = 1; j <= ny; ++j) {
        const int jl = std::min(j - 1, nw);
        const int jh = std::min(ny - j, nw);
        const float* in_row = zin + static_cast<std::size_t>(j - 1) * unx;
        float* out_row = zout + static_cast<std::size_t>(j - 1) * unx;
        for (int i = 1; i <= nx; ++i) {
            const float c = in_row[i - 1];
            if (c < 0.0F) {
                out_row[i - 1] = c;
                continue;
            }
            const int il = std::min(i - 1, nw);
            const int ih = std::min(nx - i, nw);
            float cur = c;
            for (int jj = j - jl; jj <= j + jh; ++jj) {
                const float* w = zin + static_cast<std::size_t>(jj - 1) * unx;
                for (int ii = i - il; ii <= i + ih; ++ii) {
                    const float v = w[ii - 1];
                    if constexpr (kMax) {
                        if (v > 0.0F && v > cur) cur = v;
                    } else {
                        if (v > 0.0F && v < cur) cur = v;
                    }
                }
            }
            out_row[i - 1] = cur;
        }
    }
}

}  // namespace

void morfilt(int nx, int ny, const float* zin, float* zout, int nw, int imax) {
    // A negative half-width gives the same empty window as 0, and clamping it
    // keeps j - jl from overflowing for very negative values.
    nw = std::max(nw, 0);
    if (imax == 0)
        window_pass<false>(nx, ny, zin, zout, nw);
    else
        window_pass<true>(nx, ny, zin, zout, nw);
}

}  // namespace krel::filter
