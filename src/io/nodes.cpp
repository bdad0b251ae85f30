#include "io/nodes.hpp"

#include <type_traits>

namespace krel::io {

bool NodeArrays::allocate(std::int32_t cap) {
    release();
    // One entry more than the capacity keeps the arrays 1-based; a capacity of
    // 0 still gets real arrays, so no stage meets a null pointer.
    const std::size_t entries = static_cast<std::size_t>(cap < 0 ? 0 : cap) + 1;
    static_assert(sizeof(float) == sizeof(std::int32_t));
    const std::size_t one = whole_lines(entries * sizeof(float));
    block = allocate_huge_array<std::byte>(5 * one);
    if (!block) return false;
    const auto part = [&](auto& a, int k) {
        using T = std::remove_reference_t<decltype(a[0])>;
        a = HugeArray<T>(reinterpret_cast<T*>(block.get() + k * one), HugeDeleter{0, true});
    };
    part(x, 0);
    part(y, 1);
    part(z, 2);
    part(itile, 3);
    part(idx, 4);
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
    block.reset();
    capacity = 0;
    n = 0;
}

}  // namespace krel::io
