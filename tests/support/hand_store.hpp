#pragma once
// Hand-built stores for primitive tests: lists[k-1] is node k's neighbour
// list, first to last (last negated for a boundary node), laid out in
// consecutive entries from entry 1. An empty list leaves the node without
// one (lend 0), as for an index that is not a node.

#include <cstdint>
#include <vector>

#include "tin/store.hpp"

namespace krel::test {

inline tin::Store hand_store(const std::vector<std::vector<std::int32_t>>& lists, std::int32_t capacity = 16) {
    tin::Store s(capacity);
    std::int32_t lp = 1;
    for (std::size_t k = 1; k <= lists.size(); ++k) {
        const auto& l = lists[k - 1];
        const std::int32_t start = lp;
        for (std::size_t i = 0; i < l.size(); ++i, ++lp) {
            s.list[lp] = l[i];
            s.lptr[lp] = i + 1 < l.size() ? lp + 1 : start;
        }
        s.lend[k] = l.empty() ? 0 : lp - 1;
    }
    s.lnew = lp;
    return s;
}

}  // namespace krel::test
