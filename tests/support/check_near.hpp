#pragma once
// Checker for the nearest-node sets (near, next, ds; 1-based).

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace krel::test {

// is_node[k] tells whether slot k (1..nt) is a node of the triangulation;
// points listed in skipped belong to no set. Checks that every other point
// is in exactly one set, that sets belong to nodes, that ds is the float
// squared distance to the set's node and that this node is a nearest one.
// The update relies on the triangulation being Delaunay, which the kernel's
// absolute swtol does not ensure at the scale of centimetres (see check_tin):
// points attached within that scale are not held to the nearest-node rule.
testing::AssertionResult check_near_sets(const float* x, const float* y, const std::vector<char>& is_node,
                                         const std::int32_t* near, const std::int32_t* next, const float* ds,
                                         std::int32_t nt, const std::vector<std::int32_t>& skipped, float swtol);

// Members of node j's set in set order.
std::vector<std::int32_t> near_set(const std::int32_t* near, const std::int32_t* next, std::int32_t j);

}  // namespace krel::test
