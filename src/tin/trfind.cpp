#include "tin/trfind.hpp"

#include <cstdlib>

#include "tin/jrand.hpp"
#include "tin/test_seam.hpp"

namespace krel::tin {
namespace {

// Apex moves without a restart (P at or within rounding of the apex) allowed
// before the walk counts as lost and restarts. Only a broken store or a
// pathological rounding cycle gets near it.
constexpr int kMaxApexMoves = 1000;

// Where the search for a wedge at the apex leads.
enum class Next {
    walk,        // P in the wedge n0->n1, n0->n2: walk across arcs
    hull,        // P right of hull arc nl->nf: traverse the hull from there
    hull_entry,  // P right of hull arc nl->n0 with n0 = nf: traverse, first test without left
    move_apex,   // try again with n1 as the apex
    collinear,   // all nodes on one line with P
};

// Node coordinates as the walk reads them: two arrays, or pairs side by side.
struct SplitCoords {
    const float* xs;
    const float* ys;
    [[nodiscard]] float x(std::int32_t i) const { return xs[i]; }
    [[nodiscard]] float y(std::int32_t i) const { return ys[i]; }
};
struct PairCoords {
    const XY* xy;
    [[nodiscard]] float x(std::int32_t i) const { return xy[i].x; }
    [[nodiscard]] float y(std::int32_t i) const { return xy[i].y; }
};

// The walk shared by trfind and ctrfind. n0 is the starting apex, already
// chosen; draw_apex() gives a random apex for a restart. n is the node count,
// which bounds the walks that a broken store could keep going.
// co gives the node coordinates; info, when given, receives how the walk
// ended (see WalkInfo).
template <class Coords, class DrawApex>
[[gnu::always_inline]] inline
Triple locate(std::int32_t n0, float px, float py, std::int32_t n, Coords co, const Store& store, KernelState& kernel,
              DrawApex draw_apex, WalkInfo* info = nullptr) {
    const auto& list = store.list;
    const auto& lptr = store.lptr;
    const auto& lend = store.lend;
    const float xp = px;
    const float yp = py;

    // P on or left of the directed line a->b.
    const auto left_of = [&](std::int32_t a, std::int32_t b) { return left(co.x(a), co.y(a), co.x(b), co.y(b), xp, yp); };
    // (qx, qy) on the forward side of a, looking from a towards b.
    const auto forward = [&](std::int32_t a, std::int32_t b, float qx, float qy) {
        return (co.x(b) - co.x(a)) * (qx - co.x(a)) + (co.y(b) - co.y(a)) * (qy - co.y(a)) >= 0.0f;
    };

    // A straight walk crosses each of the 2n triangles at most once; more
    // crossings than arc entries means the walk is going round in circles.
    const std::int64_t max_crossings = 6 * static_cast<std::int64_t>(n) + 6;

    int restarts = 0;
    int apex_moves = 0;
    const auto restart = [&]() {
        if (restarts == kMaxRestarts) return false;
        ++restarts;
        apex_moves = 0;
        n0 = draw_apex();
        return true;
    };

    for (;;) {
        // A node without a list has no place to start from.
        if (lend[n0] == 0) {
            if (!restart()) return {};
            continue;
        }

        // Step 1: first and last neighbours of the apex.
        std::int32_t lp = lend[n0];
        std::int32_t nl = list[lp];
        lp = lptr[lp];
        std::int32_t nf = list[lp];
        std::int32_t n1 = nf;
        std::int32_t n2 = 0;
        std::int32_t nb = 0;
        std::int32_t np = 0;
        std::int32_t npp = 0;
        Next next = Next::walk;
        bool on_left = false;  // P on or left of n0->n1: search the wedge's other side (step 4)

        // A walk from the first apex that returns its first wedge is direct
        // (WalkInfo): it reports the value at lend as it stands and where its
        // search went on from: the first neighbour with P on or left at an
        // interior apex (0 if none), the first neighbour itself at a hull one.
        const bool direct_start = restarts == 0 && apex_moves == 0;
        const std::int32_t nl_stored = nl;
        std::int32_t first_left = nl > 0 ? 0 : nf;
        if (nl > 0) {
            // Step 2: interior apex, first neighbour n1 with P on or left of n0->n1.
            for (;;) {
                if (left_of(n0, n1)) {
                    on_left = true;
                    break;
                }
                lp = lptr[lp];
                n1 = list[lp];
                if (n1 == nl) break;
            }
            if (on_left) first_left = n1;
            if (!on_left) n2 = nf;  // step 7
        } else {
            // Step 3: hull apex.
            nl = -nl;
            if (!left_of(n0, nf)) {
                nl = n0;
                next = Next::hull;
            } else if (!left_of(nl, n0)) {
                nb = nf;
                nf = n0;
                np = nl;
                npp = n0;
                next = Next::hull_entry;
            } else {
                on_left = true;
            }
        }

        if (on_left) {
            // Step 4: the next neighbour n2 with P strictly right of n0->n2.
            bool all_left = true;
            do {
                lp = lptr[lp];
                n2 = std::abs(list[lp]);
                if (!left_of(n0, n2)) {
                    all_left = false;
                    break;
                }
                n1 = n2;
            } while (n1 != nl);

            if (all_left) {
                // Step 5: P on or left of every line n0->neighbour.
                if (!left_of(n0, nf)) {
                    n2 = nf;  // step 7
                } else if (xp == co.x(n0) && yp == co.y(n0)) {
                    next = Next::move_apex;
                } else {
                    next = Next::collinear;
                    for (;;) {
                        if (!left(co.x(n1), co.y(n1), co.x(n0), co.y(n0), xp, yp)) {
                            next = Next::move_apex;
                            break;
                        }
                        lp = lptr[lp];
                        n1 = std::abs(list[lp]);
                        if (n1 == nl) break;
                    }
                }
            }
        }

        if (next == Next::collinear) return {};
        if (next == Next::move_apex) {
            // Step 6.
            if (apex_moves == kMaxApexMoves) {
                if (!restart()) return {};
                continue;
            }
            ++apex_moves;
            n0 = n1;
            continue;
        }

        if (next == Next::walk) {
            // Step 8: P in the wedge between n0->n1 and n0->n2.
            std::int32_t n3 = n0;
            std::int32_t n1s = n1;
            std::int32_t n2s = n2;
            bool lost = true;
            // Step 9: cross arcs n1-n2 until P is on or left of one.
            for (std::int64_t crossings = 0; crossings <= max_crossings; ++crossings) {
                if (left_of(n1, n2)) {
                    // P in triangle (n1, n2, n3) unless rounding misled the walk.
                    const float b1 = (co.x(n3) - co.x(n2)) * (yp - co.y(n2)) - (xp - co.x(n2)) * (co.y(n3) - co.y(n2));
                    const float b2 = (co.x(n1) - co.x(n3)) * (yp - co.y(n3)) - (xp - co.x(n3)) * (co.y(n1) - co.y(n3));
                    if (tin::store(1.0f + b1, kernel) >= 1.0f && tin::store(1.0f + b2, kernel) >= 1.0f) {
                        if (info != nullptr && direct_start && crossings == 0) *info = {nl_stored, first_left};
                        return {n1, n2, n3};
                    }
                    break;
                }
                lp = lstptr(lend[n2], n1, store);
                if (list[lp] < 0) {
                    // n1->n2 is a hull arc and P lies beyond it.
                    nf = n2;
                    nl = n1;
                    next = Next::hull;
                    lost = false;
                    break;
                }
                lp = lptr[lp];
                const std::int32_t n4 = std::abs(list[lp]);
                if (left_of(n0, n4)) {
                    n3 = n1;
                    n1 = n4;
                    n2s = n2;
                    if (n1 != n1s && n1 != n0) continue;
                } else {
                    n3 = n2;
                    n2 = n4;
                    n1s = n1;
                    if (n2 != n2s && n2 != n0) continue;
                }
                break;  // back at an arc or apex already seen: a rounding cycle
            }
            if (lost) {
                if (!restart()) return {};
                continue;
            }
        }

        // Steps 10-12: P outside; walk counterclockwise along the hull to the
        // rightmost visible node. The forward tests keep the walk going where
        // near-collinearity of np, nf, nb and P makes left() unreliable.
        if (next == Next::hull) {
            np = nl;
            npp = nf;
        }
        bool first_test_done = next == Next::hull_entry;
        bool lost = false;
        for (std::int32_t steps = 0;; ++steps) {
            if (first_test_done) {
                first_test_done = false;
                if (forward(nf, np, xp, yp) || forward(nf, np, co.x(nb), co.y(nb))) break;
            } else {
                nb = list[lptr[lend[nf]]];
                if (left_of(nf, nb) && (forward(nf, np, xp, yp) || forward(nf, np, co.x(nb), co.y(nb)))) break;
            }
            if (steps == n) {
                lost = true;
                break;
            }
            np = nf;
            nf = nb;
        }
        const std::int32_t i1 = nf;

        // Step 13: clockwise to the leftmost visible node.
        for (std::int32_t steps = 0; !lost; ++steps) {
            nb = -list[lend[nl]];
            if (left_of(nb, nl) && (forward(nl, npp, xp, yp) || forward(nl, npp, co.x(nb), co.y(nb)))) break;
            if (steps == n) {
                lost = true;
                break;
            }
            npp = nl;
            nl = nb;
        }
        if (lost) {
            if (!restart()) return {};
            continue;
        }
        // Step 14.
        return {i1, nl, 0};
    }
}

}  // namespace

Triple trfind(std::int32_t nst, float px, float py, std::int32_t n, const float* x, const float* y, const Store& store,
              KernelState& kernel) {
    const auto draw_apex = [&]() { return jrand(n, kernel.trfind_seeds); };
    const std::int32_t n0 = (nst < 1 || nst > n) ? draw_apex() : nst;
    return locate(n0, px, py, n, SplitCoords{x, y}, store, kernel, draw_apex);
}

Triple ctrfind(std::int32_t nst, float px, float py, std::int32_t n, const float* x, const float* y, const Store& store,
               const std::int32_t* inx, KernelState& kernel) {
    const auto draw_apex = [&]() { return inx[jrand(n, kernel.ctrfind_seeds)]; };
    if (force_draw != nullptr && force_draw(n, px, py)) nst = 0;
    const std::int32_t n0 = nst < 1 ? draw_apex() : nst;
    return locate(n0, px, py, n, SplitCoords{x, y}, store, kernel, draw_apex);
}

Triple ctrfind(std::int32_t nst, float px, float py, std::int32_t n, const float* x, const float* y, const Store& store,
               const std::int32_t* inx, KernelState& kernel, WalkInfo& info) {
    info = {};
    const auto draw_apex = [&]() { return inx[jrand(n, kernel.ctrfind_seeds)]; };
    if (force_draw != nullptr && force_draw(n, px, py)) nst = 0;
    if (nst < 1) return locate(draw_apex(), px, py, n, SplitCoords{x, y}, store, kernel, draw_apex);
    return locate(nst, px, py, n, SplitCoords{x, y}, store, kernel, draw_apex, &info);
}

void ctrfind(std::int32_t nst, float px, float py, std::int32_t n, const XY* xy, const Store& store,
             const std::int32_t* inx, KernelState& kernel, WalkInfo& info, Triple& t) {
    info = {};
    const auto draw_apex = [&]() { return inx[jrand(n, kernel.ctrfind_seeds)]; };
    if (force_draw != nullptr && force_draw(n, px, py)) nst = 0;
    if (nst < 1) {
        t = locate(draw_apex(), px, py, n, PairCoords{xy}, store, kernel, draw_apex);
        return;
    }
    t = locate(nst, px, py, n, PairCoords{xy}, store, kernel, draw_apex, &info);
}

}  // namespace krel::tin
