#include "filter/morfilt.hpp"

#include <algorithm>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace krel::filter {

namespace {

// One window value: only values above 0 count.
template <bool kMax>
inline void take(float v, float& cur) {
    if constexpr (kMax) {
        if (v > 0.0F && v > cur) cur = v;
    } else {
        if (v > 0.0F && v < cur) cur = v;
    }
}

// Any half-width, the comparison fixed so the inner loop has no test of imax.
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
                for (int ii = i - il; ii <= i + ih; ++ii) take<kMax>(w[ii - 1], cur);
            }
            out_row[i - 1] = cur;
        }
    }
}

#if defined(__SSE2__)
// take() for four cells side by side: the same comparisons lane by lane, so
// the same values.
template <bool kMax>
inline __m128 take4(__m128 v, __m128 cur) {
    const __m128 counts = _mm_and_ps(_mm_cmpgt_ps(v, _mm_setzero_ps()), kMax ? _mm_cmpgt_ps(v, cur) : _mm_cmplt_ps(v, cur));
    return _mm_or_ps(_mm_and_ps(counts, v), _mm_andnot_ps(counts, cur));
}
#endif

// nw = 1, the filter's own case, unrolled (twice as fast as the loops above).
// At a raster edge the missing row or column is replaced by the centre's own:
// reading a window cell twice cannot change a minimum or a maximum, and the
// loop needs no per-cell bounds. Columns with both neighbours go four at a
// time where the target has the instructions for it: each lane takes the
// same values in the same order as one cell does.
template <bool kMax>
void window_pass3(int nx, int ny, const float* zin, float* zout) {
    const auto unx = static_cast<std::size_t>(nx);
    for (int j = 1; j <= ny; ++j) {
        const float* mid = zin + static_cast<std::size_t>(j - 1) * unx;
        const float* lo = j > 1 ? mid - unx : mid;
        const float* hi = j < ny ? mid + unx : mid;
        float* out = zout + static_cast<std::size_t>(j - 1) * unx;
        const auto cell = [&](std::size_t c0) {
            const float c = mid[c0];
            if (c < 0.0F) {
                out[c0] = c;
                return;
            }
            const std::size_t l = c0 > 0 ? c0 - 1 : c0;
            const std::size_t h = c0 + 1 < unx ? c0 + 1 : c0;
            float cur = c;
            take<kMax>(lo[l], cur);
            take<kMax>(lo[c0], cur);
            take<kMax>(lo[h], cur);
            take<kMax>(mid[l], cur);
            take<kMax>(mid[h], cur);
            take<kMax>(hi[l], cur);
            take<kMax>(hi[c0], cur);
            take<kMax>(hi[h], cur);
            out[c0] = cur;
        };
        std::size_t c0 = 0;
        if (unx > 0) cell(c0++);
#if defined(__SSE2__)
        // Cells 1 .. nx - 2 have both neighbours.
        for (; c0 + 4 < unx; c0 += 4) {
            const __m128 c = _mm_loadu_ps(mid + c0);
            const __m128 empty = _mm_cmplt_ps(c, _mm_setzero_ps());  // copied unchanged
            if (_mm_movemask_ps(empty) == 0xF) {  // most cells of a sparse raster
                _mm_storeu_ps(out + c0, c);
                continue;
            }
            __m128 cur = c;
            cur = take4<kMax>(_mm_loadu_ps(lo + c0 - 1), cur);
            cur = take4<kMax>(_mm_loadu_ps(lo + c0), cur);
            cur = take4<kMax>(_mm_loadu_ps(lo + c0 + 1), cur);
            cur = take4<kMax>(_mm_loadu_ps(mid + c0 - 1), cur);
            cur = take4<kMax>(_mm_loadu_ps(mid + c0 + 1), cur);
            cur = take4<kMax>(_mm_loadu_ps(hi + c0 - 1), cur);
            cur = take4<kMax>(_mm_loadu_ps(hi + c0), cur);
            cur = take4<kMax>(_mm_loadu_ps(hi + c0 + 1), cur);
            _mm_storeu_ps(out + c0, _mm_or_ps(_mm_and_ps(empty, c), _mm_andnot_ps(empty, cur)));
        }
#endif
        for (; c0 < unx; ++c0) cell(c0);
    }
}

}  // namespace

void morfilt(int nx, int ny, const float* zin, float* zout, int nw, int imax) {
    // A negative half-width gives the cell's own value, as 0 does, and clamping
    // it keeps j - jl from overflowing for very negative values.
    nw = std::max(nw, 0);
    if (nw == 1) {
        if (imax == 0)
            window_pass3<false>(nx, ny, zin, zout);
        else
            window_pass3<true>(nx, ny, zin, zout);
    } else if (imax == 0) {
        window_pass<false>(nx, ny, zin, zout, nw);
    } else {
        window_pass<true>(nx, ny, zin, zout, nw);
    }
}

}  // namespace krel::filter
