#include "tin/swap_loop.hpp"

#include <cstdlib>

#include "tin/test_seam.hpp"
#include "tin/trfind.hpp"

namespace krel::tin {

namespace {

// kKnown: k was just linked in by intadd, so k's entry in io1's list is
// store.twin[lpo1] and io2's entry in k's list is lpo2; neither is searched
// for except under the checking mode, which searches and counts a difference.
template <bool kKnown, class Coords>
std::int32_t run_swaps(std::int32_t k, std::int32_t n, Coords coords, Store& store, float swtol) {
    const auto& list = store.list;
    const auto& lptr = store.lptr;
    const auto& lend = store.lend;
    SkipCheck* const check = kKnown ? skip_check : nullptr;
    const auto known = [&](std::int32_t entry, std::int32_t lpl, std::int32_t nb) {
        if (check != nullptr && entry != lstptr(lpl, nb, store)) ++check->mismatches;
        return entry;
    };
    // (k, io2, io1) is the triangle being examined; lpo1 is io1's entry in
    // k's list, lpo2 io2's, lpf that of k's first neighbour. In io1's list k
    // is followed by io2 (the triangle read at io1), so io2's entry there is
    // the one after k's.
    const std::int32_t lpf = lptr[lend[k]];
    std::int32_t io2 = list[lpf];
    std::int32_t lpo2 = lpf;
    std::int32_t lpo1 = lptr[lpf];
    std::int32_t io1 = std::abs(list[lpo1]);

    std::int32_t swaps = 0;
    for (;;) {
        // Read before a swap moves lpo1.
        const std::int32_t k_at_io1 = kKnown ? store.twin[lpo1] : 0;
        std::int32_t lp = kKnown ? known(lptr[k_at_io1], lend[io1], io2) : lstptr(lend[io1], io2, store);
        if (list[lp] >= 0) {
            // A triangle (io1, io2, in1) lies beyond the arc.
            lp = lptr[lp];
            const std::int32_t in1 = std::abs(list[lp]);
            if (coords.swptst(in1, k, io1, io2, swtol)) {
                // k can gain at most n - 1 neighbours; it starts with at least two.
                if (++swaps > n) return -4;
                if constexpr (kKnown) {
                    // k's list is not touched before swap reads lpo2.
                    std::int32_t k_at_in1 = 0;
                    swap_known(in1, k, io1, io2, store, lpo1, known(k_at_io1, lend[io1], k),
                               known(lpo2, lend[k], io2), &k_at_in1);
                    if (lpo1 == 0) return -4;  // already adjacent: nothing changed
                    store.twin[lpo1] = k_at_in1;
                } else {
                    swap(in1, k, io1, io2, store, lpo1);
                    if (lpo1 == 0) return -4;
                }
                // New arcs opposite k: io1-in1 and in1-io2; test in1-io2 next.
                io1 = in1;
                continue;
            }
        }
        // No swap: on to the next triangle around k, or done once every
        // neighbour is passed or k's (negated) last neighbour is reached.
        if (lpo1 == lpf || list[lpo1] < 0) return 0;
        io2 = io1;
        lpo2 = lpo1;
        lpo1 = lptr[lpo1];
        io1 = std::abs(list[lpo1]);
    }
}

// The node coordinates as swptst takes them.
struct Split {
    const float* x;
    const float* y;
    bool swptst(std::int32_t in1, std::int32_t in2, std::int32_t io1, std::int32_t io2, float swtol) const {
        return tin::swptst(in1, in2, io1, io2, x, y, swtol);
    }
};
struct Pairs {
    const XY* xy;
    bool swptst(std::int32_t in1, std::int32_t in2, std::int32_t io1, std::int32_t io2, float swtol) const {
        return tin::swptst(in1, in2, io1, io2, xy, swtol);
    }
};

}  // namespace

std::int32_t swap_loop(std::int32_t k, std::int32_t n, const float* x, const float* y, Store& store, float swtol) {
    return run_swaps<false>(k, n, Split{x, y}, store, swtol);
}

std::int32_t swap_loop_interior(std::int32_t k, std::int32_t n, const float* x, const float* y, Store& store,
                                float swtol) {
    return run_swaps<true>(k, n, Split{x, y}, store, swtol);
}

std::int32_t swap_loop(std::int32_t k, std::int32_t n, const XY* xy, Store& store, float swtol) {
    return run_swaps<false>(k, n, Pairs{xy}, store, swtol);
}

std::int32_t swap_loop_interior(std::int32_t k, std::int32_t n, const XY* xy, Store& store, float swtol) {
    return run_swaps<true>(k, n, Pairs{xy}, store, swtol);
}

}  // namespace krel::tin
