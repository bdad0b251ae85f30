#pragma once
// Node insertion for a triangulation of an arbitrary subset of node indices,
// as the greedy insertion grows it.

#include <cstdint>

#include "tin/kernel_state.hpp"
#include "tin/store.hpp"
#include "tin/trfind.hpp"

namespace krel::tin {

// Tolerance of the duplicate test, in x and in y separately (metres).
inline constexpr float kDuplicateTolerance = 0.005f;

// Adds node kk, whose coordinates are already in x[kk], y[kk], to the
// triangulation of the n nodes inx[1..n]: locates it with ctrfind from node
// ist (a node of the triangulation), links it in and swaps until the
// triangulation is Delaunay again (within kernel.swtol). On success n grows by
// one and inx[n] = kk. Returns ier:
//    0  added;
//   -1  kk < 1, ist < 1 or n < 3;
//   -2  point location found no triangle (all nodes on one line with the
//       point, up to rounding);
//   -4  a swap met two adjacent nodes (the store was invalid): kk is linked
//       in, n raised and inx[n] = kk, the swaps made remain;
//    L  the point differs from node L by less than 0.005 in x and in y, L
//       being the first of the located triangle's vertices (in their
//       counterclockwise order from point location) that does; nodes outside
//       the hull are not compared.
// On -1, -2 and L nothing changes. Expects kk not yet in the triangulation,
// room for kk in store and for entry n + 1 of inx (1-based).
std::int32_t caddnod(std::int32_t kk, std::int32_t ist, std::int32_t& n, const float* x, const float* y, Store& store,
                     std::int32_t* inx, KernelState& kernel);

// caddnod for a caller that knows what its point location would give: t is
// the answer ctrfind from ist gives now, and it would draw nothing. The
// same codes, the same changes.
std::int32_t caddnod_located(std::int32_t kk, const Triple& t, std::int32_t& n, const float* x, const float* y,
                             Store& store, std::int32_t* inx, KernelState& kernel);
// The same over coordinates kept as pairs (xy[i] = x[i], y[i]).
std::int32_t caddnod_located(std::int32_t kk, const Triple& t, std::int32_t& n, const XY* xy, Store& store,
                             std::int32_t* inx, KernelState& kernel);

}  // namespace krel::tin
