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

namespace {

// at(i) gives node i's x and y; swaps(loop) runs the swap loop `interior`
// or not over the same coordinates.
template <class At, class Swaps>
std::int32_t add_located(std::int32_t kk, const Triple& t, std::int32_t& n, At at, Swaps swaps, Store& store,
                         std::int32_t* inx) {
    if (kk < 1 || n < 3) return -1;
    assert(kk <= store.capacity() && "node index beyond the store's capacity");
    const XY k = at(kk);
    if (t.i1 == 0) return -2;

    // Both differences strictly below the tolerance, in float.
    if (t.i3 != 0) {
        for (const std::int32_t l : {t.i1, t.i2, t.i3}) {
            const XY v = at(l);
            if (kDuplicateTolerance > std::fabs(k.x - v.x) && kDuplicateTolerance > std::fabs(k.y - v.y)) return l;
        }
    }

    ++n;
    inx[n] = kk;
    if (t.i3 != 0) {
        intadd(kk, t.i1, t.i2, t.i3, store);
        return swaps(true);
    }
    bdyadd(kk, t.i1, t.i2, store);
    return swaps(false);
}

}  // namespace

std::int32_t caddnod_located(std::int32_t kk, const Triple& t, std::int32_t& n, const float* x, const float* y,
                             Store& store, std::int32_t* inx, KernelState& kernel) {
    return add_located(
        kk, t, n, [&](std::int32_t i) { return XY{x[i], y[i]}; },
        [&](bool interior) {
            return interior ? swap_loop_interior(kk, n, x, y, store, kernel.swtol)
                            : swap_loop(kk, n, x, y, store, kernel.swtol);
        },
        store, inx);
}

std::int32_t caddnod_located(std::int32_t kk, const Triple& t, std::int32_t& n, const XY* xy, Store& store,
                             std::int32_t* inx, KernelState& kernel) {
    return add_located(
        kk, t, n, [&](std::int32_t i) { return xy[i]; },
        [&](bool interior) {
            return interior ? swap_loop_interior(kk, n, xy, store, kernel.swtol)
                            : swap_loop(kk, n, xy, store, kernel.swtol);
        },
        store, inx);
}

}  // namespace krel::tin
