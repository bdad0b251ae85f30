#include "tin/store.hpp"

#include <cstddef>
#include <cstdlib>

#include "tin/test_seam.hpp"
#include "tin/trfind.hpp"

namespace krel::tin {

void Store::reserve_nodes(std::int32_t capacity) {
    if (capacity <= this->capacity()) return;
    const auto nodes = static_cast<std::size_t>(capacity) + 1;
    const auto entries = 6 * static_cast<std::size_t>(capacity) + 1;
    // Nothing is kept: a tile builds its triangulation anew, so the old
    // entries are dead, and copying them would write pages the tile may never
    // use. Zero without a write (HugeAllocator): the six entries a node may
    // take are room, and a tile thinned to a few nodes writes a few of them.
    list = Array();
    lptr = Array();
    lend = Array();
    twin = Array();
    list.resize(entries);
    lptr.resize(entries);
    lend.resize(nodes);
    twin.resize(entries);
}

namespace {

// at(i) gives node i's x and y.
template <class At>
bool swap_test(std::int32_t in1, std::int32_t in2, std::int32_t io1, std::int32_t io2, At at, float swtol) {
    const XY p11 = at(in1), p21 = at(in2), po1 = at(io1), po2 = at(io2);
    const float dx11 = po1.x - p11.x;
    const float dx12 = po2.x - p11.x;
    const float dx22 = po2.x - p21.x;
    const float dx21 = po1.x - p21.x;
    const float dy11 = po1.y - p11.y;
    const float dy12 = po2.y - p11.y;
    const float dy22 = po2.y - p21.y;
    const float dy21 = po1.y - p21.y;

    // Cosines of the angles at in1 and in2 (unnormalised).
    const float cos1 = dx11 * dx12 + dy11 * dy12;
    const float cos2 = dx22 * dx21 + dy22 * dy21;
    if (cos1 >= 0.0f && cos2 >= 0.0f) return false;
    if (cos1 < 0.0f && cos2 < 0.0f) return true;

    // One angle obtuse: the sign of sin(angle1 + angle2) decides.
    const float sin1 = dx11 * dy12 - dx12 * dy11;
    const float sin2 = dx22 * dy21 - dx21 * dy22;
    const float sin12 = sin1 * cos2 + cos1 * sin2;
    if (sin12 >= -swtol) return false;
    return true;
}

}  // namespace

bool swptst(std::int32_t in1, std::int32_t in2, std::int32_t io1, std::int32_t io2, const float* x, const float* y,
            float swtol) {
    return swap_test(in1, in2, io1, io2, [&](std::int32_t i) { return XY{x[i], y[i]}; }, swtol);
}

bool swptst(std::int32_t in1, std::int32_t in2, std::int32_t io1, std::int32_t io2, const XY* xy, float swtol) {
    return swap_test(in1, in2, io1, io2, [&](std::int32_t i) { return xy[i]; }, swtol);
}

void swap(std::int32_t in1, std::int32_t in2, std::int32_t io1, std::int32_t io2, Store& store, std::int32_t& lp21) {
    swap_known(in1, in2, io1, io2, store, lp21, 0, 0, nullptr);
}

void swap_known(std::int32_t in1, std::int32_t in2, std::int32_t io1, std::int32_t io2, Store& store,
                std::int32_t& lp21, std::int32_t in2_at_io1, std::int32_t io2_at_in2, std::int32_t* in2_at_in1) {
    auto& list = store.list;
    auto& lptr = store.lptr;
    auto& lend = store.lend;

    // Whether in1 and in2 are adjacent, asked of in2's list: adjacency is
    // symmetric in the store (every change links or unlinks an arc in both
    // lists, and this one changes nothing where it answers yes), and in2 is
    // for every caller the node being inserted, whose short list is in
    // cache, where in1's whole list would be read to find in2 missing.
    std::int32_t lp = lstptr(lend[in2], in1, store);
    const bool adjacent = std::abs(list[lp]) == in1;
    if (SkipCheck* const check = skip_check; check != nullptr) {
        const std::int32_t at_in1 = lstptr(lend[in1], in2, store);
        if ((std::abs(list[at_in1]) == in2) != adjacent) ++check->mismatches;
    }
    if (adjacent) {
        lp21 = 0;
        return;
    }

    // Unlink io2 from io1's list; its entry h is free now.
    lp = in2_at_io1 != 0 ? in2_at_io1 : lstptr(lend[io1], in2, store);
    std::int32_t h = lptr[lp];
    lptr[lp] = lptr[h];
    if (lend[io1] == h) lend[io1] = lp;

    // In h, put in2 into in1's list after io1.
    lp = lstptr(lend[in1], io1, store);
    std::int32_t s = lptr[lp];
    lptr[lp] = h;
    list[h] = in2;
    lptr[h] = s;
    if (in2_at_in1 != nullptr) *in2_at_in1 = h;

    // Unlink io1 from io2's list, then put in1 into in2's list after io2.
    lp = lstptr(lend[io2], in1, store);
    h = lptr[lp];
    lptr[lp] = lptr[h];
    if (lend[io2] == h) lend[io2] = lp;

    lp = io2_at_in2 != 0 ? io2_at_in2 : lstptr(lend[in2], io2, store);
    s = lptr[lp];
    lptr[lp] = h;
    list[h] = in1;
    lptr[h] = s;
    lp21 = h;
}

}  // namespace krel::tin
