#include "io/nodes.hpp"


namespace krel::io {

bool NodeArrays::allocate(std::int32_t cap) {
    release();
    // One entry more than the capacity keeps the arrays 1-based; a capacity of
    // 0 still gets real arrays, so no stage meets a null pointer.
    const std::size_t entries = static_cast<std::size_t>(cap < 0 ? 0 : cap) + 1;
    x = allocate_huge_array<float>(entries);
    y = allocate_huge_array<float>(entries);
    z = allocate_huge_array<float>(entries);
    itile = allocate_huge_array<std::int32_t>(entries);
    idx = allocate_huge_array<std::int32_t>(entries);
    if (!x || !y || !z || !itile || !idx) {
        release();
        return false;
    }
    capacity = cap;
    n = 0;
    return true;
}

void NodeArrays::release() {
    x.reset();
    y.reset();
    z.reset();
    itile.reset();
    idx.reset();
    capacity = 0;
    n = 0;
}

}  // namespace krel::io
