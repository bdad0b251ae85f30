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

}  // namespace krel::tin
