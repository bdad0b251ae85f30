#include "tin/swap_loop.hpp"

#include <cstdlib>

namespace krel::tin {

std::int32_t swap_loop(std::int32_t k, std::int32_t n, const float* x, const float* y, Store& store, float swtol) {
    const auto& list = store.list;
    const auto& lptr = store.lptr;

    // (k, io2, io1) is the triangle being examined; lpo1 is io1's entry in
    // k's list, lpf that of k's first neighbour.
    const std::int32_t lpf = lptr[store.lend[k]];
    std::int32_t io2 = list[lpf];
    std::int32_t lpo1 = lptr[lpf];
    std::int32_t io1 = std::abs(list[lpo1]);

    std::int32_t swaps = 0;
    for (;;) {
        std::int32_t lp = lstptr(store.lend[io1], io2, store);
        if (list[lp] >= 0) {
            // A triangle (io1, io2, in1) lies beyond the arc.
            lp = lptr[lp];
            const std::int32_t in1 = std::abs(list[lp]);
            if (swptst(in1, k, io1, io2, x, y, swtol)) {
                // k can gain at most n - 1 neighbours; it starts with at least two.
                if (++swaps > n) return -4;
                swap(in1, k, io1, io2, store, lpo1);
                if (lpo1 == 0) return -4;
                // New arcs opposite k: io1-in1 and in1-io2; test in1-io2 next.
                io1 = in1;
                continue;
            }
        }
        // No swap: on to the next triangle around k, or done once every
        // neighbour is passed or k's (negated) last neighbour is reached.
        if (lpo1 == lpf || list[lpo1] < 0) return 0;
        io2 = io1;
        lpo1 = lptr[lpo1];
        io1 = std::abs(list[lpo1]);
    }
}

}  // namespace krel::tin
