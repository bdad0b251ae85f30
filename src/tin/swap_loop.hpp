#pragma once
// The swap loop that both insertion routines run after linking in a node.

#include <cstdint>

#include "tin/store.hpp"

namespace krel::tin {

// Tests every arc opposite the new node k, counterclockwise from the arc
// between k's first two neighbours, and swaps it when swptst asks; after a
// swap the two new arcs opposite k are tested in turn. On return 0 none of
// them passes swptst. Returns -4 when a swap meets two nodes that are already
// adjacent, or when there are more swaps than the n nodes allow (k gains one
// neighbour per swap): the store was invalid on input, and the swaps made so
// far remain. n is the node count including k.
std::int32_t swap_loop(std::int32_t k, std::int32_t n, const float* x, const float* y, Store& store, float swtol);

// The same loop right after intadd linked k in: the same tests, the same
// swaps, the same store, but the entries it can know are not searched for
// (k's entry in each neighbour's list, kept in store.twin, and the entry of
// the arc's first node in k's list). Under the checking mode
// (tin::skip_check) every one of them is searched for anyway and a
// different entry counted.
std::int32_t swap_loop_interior(std::int32_t k, std::int32_t n, const float* x, const float* y, Store& store,
                                float swtol);

// Both over coordinates kept as pairs: the same tests on the same values.
std::int32_t swap_loop(std::int32_t k, std::int32_t n, const XY* xy, Store& store, float swtol);
std::int32_t swap_loop_interior(std::int32_t k, std::int32_t n, const XY* xy, Store& store, float swtol);

}  // namespace krel::tin
