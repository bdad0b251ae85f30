#pragma once
// Node insertion for a triangulation of nodes 1..n, as the initial
// triangulation builds it.

#include <cstdint>

#include "tin/kernel_state.hpp"
#include "tin/store.hpp"

namespace krel::tin {

// Adds node k = n + 1 at (xk, yk): locates it with trfind from node ist,
// links it in and swaps until the triangulation is Delaunay again (within
// kernel.swtol). Stores x[k] = xk, y[k] = yk and raises n on success.
// Returns ier:
//    0  added;
//   -1  k != n + 1 (later nodes are never renumbered), ist outside 1..n or n < 3;
//   -2  point location found no triangle: all nodes on one line with the
//       point, up to rounding;
//   -4  a swap met two adjacent nodes (the store was invalid): k is linked
//       in, n raised, the swaps made remain;
//    L  the point has exactly the coordinates of node L, a vertex of the
//       triangle it lies in (nodes outside the hull are not compared).
// On -1, -2 and L nothing changes. Expects room for node k in store and x, y.
std::int32_t addnod(std::int32_t k, float xk, float yk, std::int32_t ist, std::int32_t& n, float* x, float* y,
                    Store& store, KernelState& kernel);

}  // namespace krel::tin
