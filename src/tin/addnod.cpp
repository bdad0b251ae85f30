#include "tin/addnod.hpp"

#include <cassert>

#include "tin/intadd.hpp"
#include "tin/swap_loop.hpp"
#include "tin/trfind.hpp"

namespace krel::tin {

std::int32_t addnod(std::int32_t k, float xk, float yk, std::int32_t ist, std::int32_t& n, float* x, float* y,
                    Store& store, KernelState& kernel) {
    // Only appending is supported: k <= n would need the later nodes renumbered.
    if (k < 1 || ist < 1 || ist > n || n < 3 || k != n + 1) return -1;
    assert(k <= store.capacity() && "node index beyond the store's capacity");

    const Triple t = trfind(ist, xk, yk, n, x, y, store, kernel);
    if (t.i1 == 0) return -2;

    // Duplicates are exact coordinate matches with a vertex of the triangle;
    // no constraint region can contain the node (there are no constraints).
    if (t.i3 != 0) {
        for (const std::int32_t l : {t.i1, t.i2, t.i3}) {
            if (xk == x[l] && yk == y[l]) return l;
        }
    }

    ++n;
    x[k] = xk;
    y[k] = yk;
    if (t.i3 != 0) {
        intadd(k, t.i1, t.i2, t.i3, store);
        return swap_loop_interior(k, n, x, y, store, kernel.swtol);
    }
    bdyadd(k, t.i1, t.i2, store);
    return swap_loop(k, n, x, y, store, kernel.swtol);
}

}  // namespace krel::tin
