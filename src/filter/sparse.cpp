#include "filter/sparse.hpp"

#include <algorithm>
#include <cstddef>

namespace krel::filter {

namespace {

using Cells = std::vector<std::int64_t>;

// Moves `at` to the first listed cell >= k. The cells are increasing and
// every caller's targets never decrease, so a whole pass costs O(cells).
std::size_t seek(const Cells& cell, std::size_t at, std::int64_t k) {
    while (at < cell.size() && cell[at] < k) ++at;
    return at;
}

// The 3 x 3 window pass over the occupied cells; a cell that is not listed is
// empty and reads as kEmpty, which the pass skips like any value <= 0, so the
// window takes the listed cells of the three row segments. A minimum or a
// maximum does not depend on the order its values come in.
template <bool kMax>
void window_pass(const Grid& g, const Cells& cell, const std::vector<float>& in,
                 std::vector<float>& out) {
    std::size_t at[3] = {0, 0, 0};  // one cursor per row: below, own, above
    for (std::size_t m = 0; m < cell.size(); ++m) {
        const float c = in[m];
        if (c < 0.0F) {
            out[m] = c;
            continue;
        }
        const std::int64_t j = (cell[m] - 1) / g.nx + 1;
        const std::int64_t i = (cell[m] - 1) % g.nx + 1;
        float cur = c;
        for (int r = 0; r < 3; ++r) {
            const std::int64_t jj = j + r - 1;
            if (jj < 1 || jj > g.ny) continue;
            const std::int64_t mid = cell[m] + (r - 1) * g.nx;
            const std::int64_t lo = i > 1 ? mid - 1 : mid;
            const std::int64_t hi = i < g.nx ? mid + 1 : mid;
            at[r] = seek(cell, at[r], lo);
            for (std::size_t q = at[r]; q < cell.size() && cell[q] <= hi; ++q) {
                const float v = in[q];
                if constexpr (kMax) {
                    if (v > 0.0F && v > cur) cur = v;
                } else {
                    if (v > 0.0F && v < cur) cur = v;
                }
            }
        }
        out[m] = cur;
    }
}

}  // namespace

int sfilt_sparse(const float* x, const float* y, const float* z, std::span<std::int32_t> idx,
                 const Grid& grid, SparseWork& work) {
    const std::size_t n = idx.size();
    auto& order = work.order;
    order.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        order[i] = {grid.cell(x[idx[i]], y[idx[i]]), static_cast<std::int32_t>(i)};
    std::sort(order.begin(), order.end(),
              [](const SparseWork::Member& a, const SparseWork::Member& b) {
                  return a.k < b.k || (a.k == b.k && a.pos < b.pos);
              });

    // Lowest node per cell: the list-order rule, applied to each cell's own
    // nodes, which the sort keeps in list order.
    auto& cell = work.cell;
    auto& ipt = work.ipt;
    cell.clear();
    ipt.clear();
    for (std::size_t a = 0; a < n;) {
        const std::int64_t k = order[a].k;
        std::int32_t best = idx[static_cast<std::size_t>(order[a].pos)];
        std::size_t b = a + 1;
        for (; b < n && order[b].k == k; ++b) {
            const std::int32_t p = idx[static_cast<std::size_t>(order[b].pos)];
            if (z[best] > z[p]) best = p;
        }
        cell.push_back(k);
        ipt.push_back(best);
        a = b;
    }
    const std::size_t cells = cell.size();

    auto& z0 = work.z0;
    z0.resize(cells);
    for (std::size_t m = 0; m < cells; ++m) z0[m] = z[ipt[m]];

    // Near-duplicates against the earlier cells k - 1, k - nx, k - nx - 1.
    const float d2 = near_d2(grid.dx);
    const std::int64_t nx = grid.nx;
    // The cells below, k - nx - 1 and k - nx, come by one cursor; k - 1 is the
    // cell listed just before, when it is occupied.
    std::size_t below = 0;
    for (std::size_t m = 0; m < cells; ++m) {
        const std::int64_t k = cell[m];
        if (k < nx + 2) continue;
        below = seek(cell, below, k - nx - 1);
        const std::int64_t kn[3] = {k - 1, k - nx, k - nx - 1};
        for (const std::int64_t want : kn) {
            std::ptrdiff_t q = -1;
            if (want == k - 1) {
                if (m > 0 && cell[m - 1] == want) q = static_cast<std::ptrdiff_t>(m - 1);
            } else {
                const std::size_t at = want == k - nx - 1 ? below : seek(cell, below, want);
                if (at < m && cell[at] == want) q = static_cast<std::ptrdiff_t>(at);
            }
            if (q < 0 || ipt[static_cast<std::size_t>(q)] == 0) continue;
            if (d2 > dist2(x, y, ipt[m], ipt[static_cast<std::size_t>(q)])) {
                ipt[m] = 0;
                z0[m] = kEmpty;
                break;
            }
        }
    }

    if (grid.ny >= 2) {
        auto& z1 = work.z1;
        z1.resize(cells);
        window_pass<false>(grid, cell, z0, z1);
        window_pass<true>(grid, cell, z1, z0);
    }

    for (std::size_t m = 0; m < cells; ++m)
        if (ipt[m] > 0 && z[ipt[m]] - z0[m] > kMaxRise) ipt[m] = -1;

    int kept = 0;
    for (std::size_t m = 0; m < cells; ++m)
        if (ipt[m] > 0) idx[static_cast<std::size_t>(kept++)] = ipt[m];
    return kept;
}

}  // namespace krel::filter
