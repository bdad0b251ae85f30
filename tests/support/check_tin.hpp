#pragma once
// Invariant checker for the triangulation store. Each check names the first
// node or arc that breaks it, so a failing property test points at the fault.

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "tin/store.hpp"

namespace krel::test {

// Checks the triangulation of the n nodes nodes[1..n] (1-based list; nullptr:
// nodes 1..n):
//  - every list is circular within entries 1..lnew-1, without repeats, and
//    holds only nodes of the triangulation; only a last entry is negative;
//  - every arc is stored at both ends, and every triangle (k, a, b) is also
//    seen from a and b;
//  - every triangle is counterclockwise (up to float rounding of nearly
//    collinear nodes), interior nodes are surrounded exactly once;
//  - the negated last entries mark exactly the convex hull: the boundary
//    nodes form one counterclockwise convex cycle (a node on a hull arc
//    between two hull nodes may be interior, linked in by a flat triangle);
//  - lnew - 1 == 6n - 2nb - 6;
//  - swptst asks no swap for any interior arc, in either orientation, except
//    where swtol stands for more than a milliradian (sides of centimetres).
testing::AssertionResult check_tin(const tin::Store& store, const float* x, const float* y,
                                   const std::int32_t* nodes, std::int32_t n, float swtol);

// Neighbours of node k in list order, first to last, the last one negated
// for a boundary node.
std::vector<std::int32_t> neighbours(const tin::Store& store, std::int32_t k);

// Checks a point-location answer for (px, py) against a brute-force search
// over every triangle of the store: inside answers name a triangle of the
// store that contains the point (up to rounding), outside answers only come
// when no triangle clearly contains it, and name the visible hull chain.
testing::AssertionResult check_location(const tin::Store& store, const float* x, const float* y,
                                        const std::int32_t* nodes, std::int32_t n, float px, float py,
                                        std::int32_t i1, std::int32_t i2, std::int32_t i3);

}  // namespace krel::test
