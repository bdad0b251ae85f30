#pragma once
// Window pass of the raster filter: a running minimum or maximum over a square
// window, clipped at the raster's edges, that ignores empty and non-positive
// cells.

namespace krel::filter {

// zin and zout hold nx * ny cells row by row: cell (i, j), column i = 1..nx,
// row j = 1..ny, is element (j - 1) * nx + (i - 1). They must not overlap.
//
// For every cell: a value below 0 (an empty cell) is copied unchanged.
// Otherwise the window covers columns i - il .. i + ih and rows j - jl .. j + jh
// with il = min(i - 1, nw), ih = min(nx - i, nw), jl = min(j - 1, nw),
// jh = min(ny - j, nw); starting from zin(i, j), every window value v > 0
// replaces the running value when v is smaller (imax == 0) or larger (imax != 0),
// and the result goes to zout(i, j). Values of 0 or below never count.
//
// nw is the half-width (1 gives a 3 x 3 window, at most nine reads per cell); a
// negative nw leaves every cell its own value, as 0 does. nx or ny below 1 is
// an empty raster: nothing is read or written.
void morfilt(int nx, int ny, const float* zin, float* zout, int nw, int imax);

}  // namespace krel::filter
