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

// One neighbour's set in the walk of take_nearer: the member reached, the
// last one that stayed, and the points moved so far, linked through next as
// they will stand in kk's set (the last moved first).
struct SetWalk {
    std::int32_t j = 0;      // the neighbour
    std::int32_t i = 0;      // next member to test, 0 at the end
    std::int32_t stayed = 0; // last member of j's set that stayed
    std::int32_t moved = 0;  // head of the moved points, the last moved first
    std::int32_t first = 0;  // the first one moved, at their end
};

// dist(a, b): squared_distance of nodes a and b; prefetch(i): asks for i's
// coordinates ahead of their use. Tests member s.i and steps to the next.
template <class Dist, class Prefetch>
[[gnu::always_inline]] inline void step(SetWalk& s, std::int32_t kk, Dist& dist, Prefetch& prefetch,
                                        std::int32_t* near, std::int32_t* next, float* ds) {
    const std::int32_t i = s.i;
    const std::int32_t i2 = next[i];
    __builtin_prefetch(&next[i2]);
    prefetch(i2);
    __builtin_prefetch(&ds[i2]);
    const float d = dist(kk, i);
    if (d < ds[i]) {
        near[i] = kk;
        ds[i] = d;
        if (s.stayed == 0) {
            near[s.j] = i2;
        } else {
            next[s.stayed] = i2;
        }
        next[i] = s.moved;
        s.moved = i;
        if (s.first == 0) s.first = i;
    } else {
        s.stayed = i;
    }
    s.i = i2;
}

// The moved points of s go to the front of kk's set, as pushing them there
// one at a time as they moved leaves it.
void push_moved(const SetWalk& s, std::int32_t kk, std::int32_t* near, std::int32_t* next) {
    if (s.first == 0) return;
    next[s.first] = near[kk];
    near[kk] = s.moved;
}

template <class Dist, class Prefetch>
void take_nearer(std::int32_t kk, Dist dist, Prefetch prefetch, const Store& store, std::int32_t* near,
                 std::int32_t* next, float* ds) {
    // A point closer to kk than to its node belongs to a set of one of kk's
    // neighbours (kk's new region is carved out of theirs), so only those
    // sets are visited, walking kk's list by entry position from the first
    // neighbour back to the entry at lend.
    //
    // A set is a chain of links read one after the other, each a load that
    // the next waits on; two neighbours' sets, which share no member, are
    // walked side by side so that their loads overlap. Each keeps the order
    // of its own tests and moves, and the moved points of the first go to
    // kk's set before those of the second: the sets come out as walking
    // them one after the other leaves them.
    const std::int32_t lpl = store.lend[kk];
    std::int32_t lp = lpl;
    bool more = true;
    while (more) {
        lp = store.lptr[lp];
        SetWalk a{std::abs(store.list[lp]), 0, 0, 0, 0};
        a.i = near[a.j];
        more = lp != lpl;
        SetWalk b{};
        if (more) {
            const std::int32_t lpb = store.lptr[lp];
            b.j = std::abs(store.list[lpb]);
            if (b.j != a.j) {  // the same node twice: its set is walked twice, one after the other
                lp = lpb;
                b.i = near[b.j];
                more = lp != lpl;
            } else {
                b.j = 0;
            }
        }
        while (a.i != 0 && b.i != 0) {
            step(a, kk, dist, prefetch, near, next, ds);
            step(b, kk, dist, prefetch, near, next, ds);
        }
        while (a.i != 0) step(a, kk, dist, prefetch, near, next, ds);
        while (b.i != 0) step(b, kk, dist, prefetch, near, next, ds);
        push_moved(a, kk, near, next);
        push_moved(b, kk, near, next);
    }
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
