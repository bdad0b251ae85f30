#pragma once
// Point location: a straight-line walk from a starting node across the
// triangulation to the triangle that contains P = (px, py), or to the hull
// nodes P can see when it lies outside.
//
// Answers (Triple):
//   P inside or on a triangle:  i1, i2, i3 its vertices, counterclockwise.
//   P outside the convex hull:  i1 the rightmost and i2 the leftmost visible
//                               hull node as seen from P, i3 = 0; the visible
//                               chain runs counterclockwise from i2 to i1 and P
//                               is strictly right of each of its arcs.
//   not locatable:              i1 = i2 = i3 = 0. All nodes lie on one line
//                               with P (up to rounding), or the walk needed a
//                               1001st random restart (a store that breaks the
//                               invariants must not hang the run).
//
// A failed final check or a cycle of the walk restarts it from a random node
// drawn from the routine's own seed triple; so does a start or apex node
// without a list (lend = 0, a node ctrmesh skipped as a duplicate). Neither
// routine changes the store, the coordinates or the point. Expects a store of
// at least one triangle (three non-collinear nodes).

#include <cstdint>

#include "tin/kernel_state.hpp"
#include "tin/store.hpp"

namespace krel::tin {

struct Triple {
    std::int32_t i1 = 0;
    std::int32_t i2 = 0;
    std::int32_t i3 = 0;
};

// Random restarts allowed in one call of trfind or ctrfind.
inline constexpr int kMaxRestarts = 1000;

// The triangulation holds nodes 1..n. The walk starts at nst; an nst outside
// 1..n is replaced by jrand(n) from kernel.trfind_seeds, as is every restart.
Triple trfind(std::int32_t nst, float px, float py, std::int32_t n, const float* x, const float* y, const Store& store,
              KernelState& kernel);

// The triangulation holds the n nodes inx[1..n] (any indices). The walk starts
// at nst, any node of the triangulation (it may exceed n); only nst < 1 is
// replaced by a random node inx[jrand(n)] from kernel.ctrfind_seeds, as is
// every restart.
Triple ctrfind(std::int32_t nst, float px, float py, std::int32_t n, const float* x, const float* y, const Store& store,
               const std::int32_t* inx, KernelState& kernel);

// How a ctrfind walk ended, for callers that keep its answer. A walk is
// direct when it drew nothing, never moved its apex and returned the first
// wedge it found at its start node: the answer is (i1, i2, nst) and it read
// nothing but nst's list from its first neighbour up to i2, and nl, the
// value at lend. Its answer then follows from the tests "P on or left of
// nst->v" of those neighbours v alone (at a hull node, also P on or left of
// nl->nst). At an interior node na is the first of them, before nl, that
// passed (the wedge search went on from there); i1 the last one to pass
// after na, i2 the next; with none passing (na = 0), or all from na on, (nl,
// first). At a hull node (nl negative) na is the first neighbour, where the
// search always goes on from.
struct WalkInfo {
    std::int32_t nl = 0;  // direct walk: the value at lend[nst] then (negated at a hull node); otherwise 0
    std::int32_t na = 0;  // direct walk: where the wedge search went on from (see above); 0 if nowhere
};

// ctrfind, also reporting how the walk ended.
Triple ctrfind(std::int32_t nst, float px, float py, std::int32_t n, const float* x, const float* y, const Store& store,
               const std::int32_t* inx, KernelState& kernel, WalkInfo& info);

// A node's plan coordinates side by side: every step of a walk reads both for
// each node it meets, from one cache line rather than two arrays apart.
struct XY {
    float x;
    float y;
};

// The same walk over coordinates kept as pairs xy[1..]: the same reads of the
// same values in the same order, so the same answer (in t) and the same
// draws. The answer goes out through t: returned by value, the compiler
// packs it through memory in a way that stalls every call.
void ctrfind(std::int32_t nst, float px, float py, std::int32_t n, const XY* xy, const Store& store,
             const std::int32_t* inx, KernelState& kernel, WalkInfo& info, Triple& t);

}  // namespace krel::tin
