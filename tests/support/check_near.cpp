#include "support/check_near.hpp"

#include <algorithm>

#include "tin/cupdate.hpp"

namespace krel::test {

using testing::AssertionFailure;
using testing::AssertionResult;
using testing::AssertionSuccess;

std::vector<std::int32_t> near_set(const std::int32_t* near, const std::int32_t* next, std::int32_t j) {
    std::vector<std::int32_t> out;
    for (std::int32_t i = near[j]; i != 0 && out.size() < 10'000'000; i = next[i]) out.push_back(i);
    return out;
}

AssertionResult check_near_sets(const float* x, const float* y, const std::vector<char>& is_node,
                                const std::int32_t* near, const std::int32_t* next, const float* ds, std::int32_t nt,
                                const std::vector<std::int32_t>& skipped, float swtol) {
    // Same scale as check_tin's: swtol against a length to the fourth power.
    constexpr double kMaxAngleTolerance = 1e-3;
    std::vector<std::int32_t> owner(static_cast<std::size_t>(nt) + 1, 0);
    std::vector<std::int32_t> nodes;
    for (std::int32_t j = 1; j <= nt; ++j) {
        if (!is_node[j]) continue;
        nodes.push_back(j);
        for (const std::int32_t i : near_set(near, next, j)) {
            if (i < 1 || i > nt || is_node[i]) return AssertionFailure() << "set of " << j << " holds " << i;
            if (owner[i] != 0) return AssertionFailure() << i << " in the sets of " << owner[i] << " and " << j;
            owner[i] = j;
        }
    }
    for (std::int32_t i = 1; i <= nt; ++i) {
        if (is_node[i]) continue;
        const bool skip = std::find(skipped.begin(), skipped.end(), i) != skipped.end();
        if (skip) {
            if (owner[i] != 0 || near[i] != 0) return AssertionFailure() << "skipped " << i << " still attached";
            continue;
        }
        if (owner[i] == 0) return AssertionFailure() << "point " << i << " in no set";
        if (near[i] != owner[i]) return AssertionFailure() << "point " << i << ": near " << near[i] << ", set of " << owner[i];
        if (ds[i] != tin::squared_distance(x, y, owner[i], i))
            return AssertionFailure() << "point " << i << ": ds " << ds[i] << " is not its squared distance";
        std::int32_t best = 0;
        float dmin = 0.0f;
        for (const std::int32_t j : nodes) {
            const float d = tin::squared_distance(x, y, j, i);
            if (best == 0 || d < dmin) {
                best = j;
                dmin = d;
            }
        }
        const bool small_scale = static_cast<double>(ds[i]) * ds[i] * kMaxAngleTolerance < swtol;
        if (small_scale) continue;
        if (ds[i] != dmin) return AssertionFailure() << "point " << i << ": node " << best << " is nearer than " << owner[i] << " (" << dmin << " < " << ds[i] << ")";
    }
    return AssertionSuccess();
}

}  // namespace krel::test
