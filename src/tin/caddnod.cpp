#include "tin/caddnod.hpp"

#include <cassert>
#include <cmath>

#include "tin/intadd.hpp"
#include "tin/swap_loop.hpp"
#include "tin/trfind.hpp"

namespace krel::tin {

std::int32_t caddnod(std::int32_t kk, std::int32_t ist, std::int32_t& n, const float* x, const float* y, Store& store,
                     std::int32_t* inx, KernelState& kernel) {
    if (kk < 1 || ist < 1 || n < 3) return -1;
    assert(kk <= store.capacity() && "node index beyond the store's capacity");
    const Triple t = ctrfind(ist, x[kk], y[kk], n, x, y, store, inx, kernel);
    return caddnod_located(kk, t, n, x, y, store, inx, kernel);
}

std::int32_t caddnod_located(std::int32_t kk, const Triple& t, std::int32_t& n, const float* x, const float* y,
                             Store& store, std::int32_t* inx, KernelState& kernel) {
    if (kk < 1 || n < 3) return -1;
    assert(kk <= store.capacity() && "node index beyond the store's capacity");
    const float xk = x[kk];
    const float yk = y[kk];
    if (t.i1 == 0) return -2;

    // Both differences strictly below the tolerance, in float.
    if (t.i3 != 0) {
        for (const std::int32_t l : {t.i1, t.i2, t.i3}) {
            if (kDuplicateTolerance > std::fabs(xk - x[l]) && kDuplicateTolerance > std::fabs(yk - y[l])) return l;
        }
    }

    ++n;
    inx[n] = kk;
    if (t.i3 != 0) {
        intadd(kk, t.i1, t.i2, t.i3, store);
        return swap_loop_interior(kk, n, x, y, store, kernel.swtol);
    }
    bdyadd(kk, t.i1, t.i2, store);
    return swap_loop(kk, n, x, y, store, kernel.swtol);
}

}  // namespace krel::tin
