#pragma once
// Linking a new node into the store; the swap loop restores the Delaunay
// property afterwards.

#include <cstdint>

#include "tin/store.hpp"

namespace krel::tin {

// Links kk, which lies in triangle (i1, i2, i3) (counterclockwise), to the
// three vertices. kk's list becomes i1, i2, i3 (i1 first, i3 last); lnew
// grows by 6. Expects kk without a list and six free entries.
void intadd(std::int32_t kk, std::int32_t i1, std::int32_t i2, std::int32_t i3, Store& store);

// Links kk, outside the hull, to the visible hull nodes from i1 (rightmost,
// becomes kk's first neighbour and counterclockwise successor on the hull) to
// i2 (leftmost, kk's negated last neighbour). The hull nodes strictly between
// them become interior. lnew grows by 2 per visible hull arc plus 2. Expects
// i1 != i2 as point location answers them, and enough free entries.
void bdyadd(std::int32_t kk, std::int32_t i1, std::int32_t i2, Store& store);

}  // namespace krel::tin
