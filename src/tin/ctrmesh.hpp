#pragma once
// The starting triangulation of a tile and its nearest-node sets.

#include <cstdint>

#include "io/textout.hpp"
#include "tin/kernel_state.hpp"
#include "tin/store.hpp"

namespace krel::tin {

// Sets kernel.swtol, triangulates nodes 1..n from entry 1 of the store by
// inserting them one by one with addnod (each located from its nearest node),
// and attaches every node n+1..nt to the set of its nearest triangulation
// node (near/next/ds as in cupdate.hpp; nodes 4..nt are attached, ties going
// to the lowest node). A node that duplicates an earlier one exactly is
// skipped: it gets near = 0, belongs to no set and keeps lend = 0 so that
// point location never starts from it.
//
// Console: " ctrmesh nodes=" with k after each node k that is a multiple of
// 1000 (whatever its insertion gave), and at the end, when nodes were
// skipped, " >found" with their count and " coincidental point(s)".
//
// Returns ier:
//   0 or L > 0  success; L when the last node duplicated node L;
//   -1          n < 3, or n > 3 with nt < n (nothing is built, swtol unset);
//   -2          nodes 1, 2 and 3 are collinear (swtol set, nothing built);
//   other < 0   the code of the failing addnod, the store as far as built.
// For n = 3 the sets are not touched. x and y are 1-based; addnod rewrites
// x[k], y[k] with their own values. Expects store capacity >= n and near,
// next, ds with entries up to nt.
std::int32_t ctrmesh(std::int32_t n, float* x, float* y, std::int32_t nt, Store& store, std::int32_t* near,
                     std::int32_t* next, float* ds, KernelState& kernel, io::TextOut& console);

}  // namespace krel::tin
