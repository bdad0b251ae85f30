#include "tin/cupdate.hpp"

#include <cstdlib>

namespace krel::tin {

void leave_near_set(std::int32_t kk, std::int32_t* near, std::int32_t* next) {
    const std::int32_t o = near[kk];
    if (o != 0) {
        if (near[o] == kk) {
            near[o] = next[kk];
        } else {
            std::int32_t q = near[o];
            while (q != 0 && next[q] != kk) q = next[q];
            if (q != 0) next[q] = next[kk];
        }
    }
    near[kk] = 0;
}

namespace {

// dist(a, b): squared_distance of nodes a and b; prefetch(i): asks for i's
// coordinates ahead of their use.
template <class Dist, class Prefetch>
void take_nearer(std::int32_t kk, Dist dist, Prefetch prefetch, const Store& store, std::int32_t* near,
                 std::int32_t* next, float* ds) {
    // A point closer to kk than to its node belongs to a set of one of kk's
    // neighbours (kk's new region is carved out of theirs), so only those
    // sets are visited, walking kk's list by entry position from the first
    // neighbour back to the entry at lend.
    const std::int32_t lpl = store.lend[kk];
    std::int32_t lp = lpl;
    do {
        lp = store.lptr[lp];
        const std::int32_t j = std::abs(store.list[lp]);
        std::int32_t stayed = 0;  // last member of j's set that stayed
        std::int32_t i = near[j];
        while (i != 0) {
            // The members are linked in no useful order: the next member's
            // records are fetched while this one is tested.
            const std::int32_t i2 = next[i];
            __builtin_prefetch(&next[i2]);
            prefetch(i2);
            __builtin_prefetch(&ds[i2]);
            const float d = dist(kk, i);
            if (d < ds[i]) {
                near[i] = kk;
                ds[i] = d;
                if (stayed == 0) {
                    near[j] = i2;
                } else {
                    next[stayed] = i2;
                }
                next[i] = near[kk];
                near[kk] = i;
            } else {
                stayed = i;
            }
            i = i2;
        }
    } while (lp != lpl);
}

}  // namespace

void take_nearer_points(std::int32_t kk, const float* x, const float* y, const Store& store, std::int32_t* near,
                        std::int32_t* next, float* ds) {
    const auto dist = [&](std::int32_t a, std::int32_t b) { return squared_distance(x, y, a, b); };
    const auto prefetch = [&](std::int32_t i) {
        __builtin_prefetch(&x[i]);
        __builtin_prefetch(&y[i]);
    };
    take_nearer(kk, dist, prefetch, store, near, next, ds);
}

void cupdate(std::int32_t kk, const float* x, const float* y, const Store& store, std::int32_t* near,
             std::int32_t* next, float* ds) {
    leave_near_set(kk, near, next);
    take_nearer_points(kk, x, y, store, near, next, ds);
}

void cupdate(std::int32_t kk, const XY* xy, const Store& store, std::int32_t* near, std::int32_t* next, float* ds) {
    leave_near_set(kk, near, next);
    const auto dist = [&](std::int32_t a, std::int32_t b) { return squared_distance(xy, a, b); };
    const auto prefetch = [&](std::int32_t i) { __builtin_prefetch(&xy[i]); };
    take_nearer(kk, dist, prefetch, store, near, next, ds);
}

}  // namespace krel::tin
