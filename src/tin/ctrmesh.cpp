#include "tin/ctrmesh.hpp"

#include <cassert>

#include "io/fortran.hpp"
#include "tin/addnod.hpp"
#include "tin/cupdate.hpp"

namespace krel::tin {

namespace {

// Swap tolerance: 20 times the half-ulp of 1, found by halving until 1 + eps
// rounds to 1. The sum goes through store() so that it is rounded to float,
// as the loop needs.
void set_swap_tolerance(KernelState& kernel) {
    float eps = 1.0f;
    do {
        eps = eps / 2.0f;
        kernel.swtol = tin::store(eps + 1.0f, kernel);
    } while (kernel.swtol > 1.0f);
    kernel.swtol = 20.0f * eps;
}

// First triangle of nodes 1, 2, 3, counterclockwise, from entry 1. false:
// the three are collinear and nothing is written.
bool first_triangle(const float* x, const float* y, Store& store) {
    auto& list = store.list;
    auto& lptr = store.lptr;
    auto& lend = store.lend;
    if (!left(x[1], y[1], x[2], y[2], x[3], y[3])) {
        // Node 3 strictly right of 1->2: triangle (1, 3, 2).
        list[1] = 3;
        list[2] = -2;
        list[3] = 1;
        list[4] = -3;
        list[5] = 2;
        list[6] = -1;
    } else if (!left(x[2], y[2], x[1], y[1], x[3], y[3])) {
        // Triangle (1, 2, 3).
        list[1] = 2;
        list[2] = -3;
        list[3] = 3;
        list[4] = -1;
        list[5] = 1;
        list[6] = -2;
    } else {
        return false;
    }
    lptr[1] = 2;
    lptr[2] = 1;
    lptr[3] = 4;
    lptr[4] = 3;
    lptr[5] = 6;
    lptr[6] = 5;
    lend[1] = 2;
    lend[2] = 4;
    lend[3] = 6;
    store.lnew = 7;
    return true;
}

// Attach nodes nt..4 to the nearest of 1, 2, 3 (ties to the lowest).
// Pushing downwards leaves each set in increasing node order.
void attach_to_first_three(const float* x, const float* y, std::int32_t nt, std::int32_t* near, std::int32_t* next,
                           float* ds) {
    near[1] = 0;
    near[2] = 0;
    near[3] = 0;
    for (std::int32_t k = nt; k >= 4; --k) {
        const float d1 = squared_distance(x, y, k, 1);
        const float d2 = squared_distance(x, y, k, 2);
        const float d3 = squared_distance(x, y, k, 3);
        std::int32_t j = 3;
        float dj = d3;
        if (d1 <= d2 && d1 <= d3) {
            j = 1;
            dj = d1;
        } else if (d2 <= d1 && d2 <= d3) {
            j = 2;
            dj = d2;
        }
        near[k] = j;
        ds[k] = dj;
        next[k] = near[j];
        near[j] = k;
    }
}

}  // namespace

std::int32_t ctrmesh(std::int32_t n, float* x, float* y, std::int32_t nt, Store& store, std::int32_t* near,
                     std::int32_t* next, float* ds, KernelState& kernel, io::TextOut& console) {
    if (n < 3 || (n > 3 && nt < n)) return -1;
    assert(store.capacity() >= n);
    set_swap_tolerance(kernel);
    if (!first_triangle(x, y, store)) return -2;
    if (n == 3) return 0;
    attach_to_first_three(x, y, nt, near, next, ds);

    std::int32_t ier = 0;
    std::int32_t duplicates = 0;
    for (std::int32_t k = 4; k <= n; ++k) {
        std::int32_t nodes = k - 1;  // 1..k-1, skipped duplicates included
        ier = addnod(k, x[k], y[k], near[k], nodes, x, y, store, kernel);
        if (k % 1000 == 0) console.put(io::FreeLine{}.text("ctrmesh nodes=").num(k).str());
        if (ier < 0) return ier;

        leave_near_set(k, near, next);
        if (ier > 0) {
            // Not inserted: no list, so no walk may start from it.
            ++duplicates;
            store.lend[k] = 0;
            continue;
        }
        take_nearer_points(k, x, y, store, near, next, ds);
    }

    if (duplicates > 0)
        console.put(io::FreeLine{}.text(">found").num(duplicates).text(" coincidental point(s)").str());
    return ier;
}

}  // namespace krel::tin
