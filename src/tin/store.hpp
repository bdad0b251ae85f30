#pragma once
// The adjacency-list store of a planar triangulation and the primitives that
// every kernel routine is built from.
//
// Node k's neighbours form one circular list, counterclockwise around k: the
// last neighbour sits at entry lend[k], the first at lptr[lend[k]]. A node on
// the convex hull stores its last neighbour negated; its first neighbour is
// the next hull node counterclockwise, its last the previous one, so the hull
// arcs k->first and last->k have the interior on their left. (k, a, b) is a
// triangle exactly when b follows a in k's list, except last->first of a hull
// node. Every arc is stored at both ends; n nodes with nb on the hull use
// 6n - 2nb - 6 entries, never more than 6n - 12.
//
// All indices are 1-based, 0 means none. Coordinates are 1-based arrays
// x[1..], y[1..] (x[0] unused). Entries are never freed: insertions take
// entries at lnew and relink existing ones.

#include <cfloat>
#include <cstdint>
#include <vector>

#include "io/huge_pages.hpp"
#include "tin/kernel_state.hpp"

namespace krel::tin {

struct Store {
    // Large and read at random: on 2 MiB pages where the system allows.
    using Array = std::vector<std::int32_t, io::HugeAllocator<std::int32_t>>;
    Array list;  // entry -> neighbour node, negated for a hull node's last; 1..6*capacity
    Array lptr;  // entry -> next entry of the same node's list; 1..6*capacity
    Array lend;  // node -> entry of its last neighbour; 1..capacity
    std::int32_t lnew = 1;           // first free entry; 1..lnew-1 are in use
    // Scratch of an interior insertion's swap loop (swap_loop_interior): for
    // an entry of the new node's list, the entry of the new node in that
    // neighbour's list. Written as those entries are made, read only for them.
    Array twin;

    Store() = default;
    explicit Store(std::int32_t capacity) { reserve_nodes(capacity); }

    // Sizes the arrays for node indices 1..capacity (six entries per node).
    // Never shrinks, so it can be called before every tile; a growth leaves
    // every entry 0 (the contents are not kept). The routines themselves
    // never allocate.
    void reserve_nodes(std::int32_t capacity);
    [[nodiscard]] std::int32_t capacity() const { return lend.empty() ? 0 : static_cast<std::int32_t>(lend.size()) - 1; }
};

// Entry of nb in the list that ends at entry lpl, or lpl when nb is not found.
// The compare is signed: a hull node's negated last neighbour is not matched
// by its index, and the search then ends at lpl, which is where it sits.
inline std::int32_t lstptr(std::int32_t lpl, std::int32_t nb, const Store& store) {
    std::int32_t lp = store.lptr[lpl];
    while (store.list[lp] != nb) {
        lp = store.lptr[lp];
        if (lp == lpl) break;
    }
    return lp;
}

// Puts k into a list directly after entry lp, in entry lnew; lnew grows by 1.
inline void insert(std::int32_t k, std::int32_t lp, Store& store) {
    const std::int32_t s = store.lptr[lp];
    store.lptr[lp] = store.lnew;
    store.list[store.lnew] = k;
    store.lptr[store.lnew] = s;
    ++store.lnew;
}

// True when (x0, y0) lies on or to the left of the directed line (x1, y1) to
// (x2, y2); collinear points are left of both directions. False when either
// side of the float comparison is not a number.
inline bool left(float x1, float y1, float x2, float y2, float x0, float y0) {
    const float dx1 = x2 - x1;
    const float dy1 = y2 - y1;
    const float dx2 = x0 - x1;
    const float dy2 = y0 - y1;
    return dx1 * dy2 >= dx2 * dy1;
}

// v rounded to float. The location test compares sums such as 1 + b that
// must be rounded exactly as written, neither held wider nor (1 + b) >= 1
// folded into b >= 0. Where float arithmetic is evaluated in float (SSE),
// v already is the rounded sum, and an empty asm that takes and gives it in
// a vector register hides it from folding, at no cost; elsewhere it passes
// through the memory cell kernel.stcom by volatile access. Inline: the
// location test calls it twice for every triangle it finds.
inline float store(float v, KernelState& kernel) {
#if FLT_EVAL_METHOD == 0 && defined(__GNUC__) && defined(__SSE2__) && !defined(KREL_PORTABLE)
    (void)kernel;
    asm("" : "+x"(v));
    return v;
#else
    volatile float& cell = kernel.stcom;
    cell = v;
    return cell;
#endif
}

// Whether diagonal io1-io2 of the quadrilateral of triangles (io1, io2, in1)
// and (io2, io1, in2) is to be replaced by in1-in2: true when the angles at
// in1 and in2 add up to more than 180 degrees by more than swtol in the sine
// of the sum. Cocircular quadrilaterals keep their diagonal.
bool swptst(std::int32_t in1, std::int32_t in2, std::int32_t io1, std::int32_t io2, const float* x, const float* y,
            float swtol);
struct XY;
// The same over coordinates kept as pairs: the same differences and tests.
bool swptst(std::int32_t in1, std::int32_t in2, std::int32_t io1, std::int32_t io2, const XY* xy, float swtol);

// Replaces diagonal io1-io2 of triangles (io1, io2, in1) and (io2, io1, in2)
// by in1-in2, reusing the two entries of the old arc:
//
//        in1              in1
//       /   \            / | \        (io1, io2, in1), (io2, io1, in2)
//    io1 --- io2   ->  io1  |  io2     become
//       \   /            \ | /        (in1, in2, io2), (in2, in1, io1)
//        in2              in2
//
// lp21 receives the entry of in1 in in2's list. When in1 and in2 are already
// adjacent nothing changes and lp21 = 0.
void swap(std::int32_t in1, std::int32_t in2, std::int32_t io1, std::int32_t io2, Store& store, std::int32_t& lp21);

// swap for a caller that knows two of the entries it searches for:
// in2_at_io1, the entry of in2 in io1's list, and io2_at_in2, that of io2 in
// in2's list (0: searched for). in2_at_in1, unless null, receives the entry
// that holds in2 in in1's list afterwards. The same changes as swap.
void swap_known(std::int32_t in1, std::int32_t in2, std::int32_t io1, std::int32_t io2, Store& store,
                std::int32_t& lp21, std::int32_t in2_at_io1, std::int32_t io2_at_in2, std::int32_t* in2_at_in1);

}  // namespace krel::tin
