#include "tin/trfind.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

#include "support/hand_store.hpp"

namespace {

using krel::test::hand_store;
using namespace krel::tin;

// A 4 x 4 square split at its centre:
//
//   4 ------- 3
//   |  \   /  |
//   |    5    |        triangles (1, 2, 5), (2, 3, 5), (3, 4, 5), (4, 1, 5)
//   |  /   \  |
//   1 ------- 2
//
// In the second layout the centre has index 9 and indices 5..8 are no nodes.
struct Square {
    std::vector<float> x{0, 0, 4, 4, 0, 2};
    std::vector<float> y{0, 0, 0, 4, 4, 2};
    std::vector<std::int32_t> nodes{0, 1, 2, 3, 4, 5};
    Store store = hand_store({{2, 5, -4}, {3, 5, -1}, {4, 5, -2}, {1, 5, -3}, {1, 2, 3, 4}});
};

struct SparseSquare {
    std::vector<float> x{0, 0, 4, 4, 0, 0, 0, 0, 0, 2};
    std::vector<float> y{0, 0, 0, 4, 4, 0, 0, 0, 0, 2};
    std::vector<std::int32_t> inx{0, 1, 2, 3, 4, 9};
    Store store = hand_store({{2, 9, -4}, {3, 9, -1}, {4, 9, -2}, {1, 9, -3}, {}, {}, {}, {}, {1, 2, 3, 4}});
};

TEST(Trfind, RandomStartOnlyOutsideTheNodeRange) {
    struct Case { std::int32_t nst; std::int64_t draws; };
    const Case cases[] = {{0, 1}, {-3, 1}, {6, 1}, {1, 0}, {5, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nst);
        Square sq;
        KernelState kernel;
        const Triple t = trfind(c.nst, 2.0f, 0.5f, 5, sq.x.data(), sq.y.data(), sq.store, kernel);
        EXPECT_EQ(t.i1 + t.i2 + t.i3, 1 + 2 + 5);
        EXPECT_EQ(kernel.trfind_seeds.draws, c.draws);
        EXPECT_EQ(kernel.ctrfind_seeds.draws, 0);
    }
}

TEST(Ctrfind, StartsAtAnyNodeIndexAndDrawsFromInx) {
    struct Case { std::int32_t nst; Triple want; std::int64_t draws; };
    const Case cases[] = {
        {9, {1, 2, 9}, 0},   // above n, yet a node: the walk starts there
        {2, {9, 1, 2}, 0},   // a hull node
        {0, {2, 9, 1}, 1},   // drawn: inx(jrand(5)) = inx(1) = 1
        {-1, {2, 9, 1}, 1},  // the same draw
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nst);
        SparseSquare sq;
        KernelState kernel;
        const Triple t = ctrfind(c.nst, 2.0f, 0.5f, 5, sq.x.data(), sq.y.data(), sq.store, sq.inx.data(), kernel);
        EXPECT_EQ(t.i1, c.want.i1);
        EXPECT_EQ(t.i2, c.want.i2);
        EXPECT_EQ(t.i3, c.want.i3);
        EXPECT_EQ(kernel.ctrfind_seeds.draws, c.draws);
        EXPECT_EQ(kernel.trfind_seeds.draws, 0);
    }
}

TEST(Trfind, StartWithoutListIsReplaced) {
    // Index 5 of the sparse layout is no node (lend 0): the walk must not
    // start there.
    SparseSquare sq;
    KernelState kernel;
    const Triple t = trfind(5, 2.0f, 0.5f, 9, sq.x.data(), sq.y.data(), sq.store, kernel);
    EXPECT_EQ(t.i1 + t.i2 + t.i3, 1 + 2 + 9);
    EXPECT_GE(kernel.trfind_seeds.draws, 1);
}

TEST(PointLocation, GivesUpAfterTheRestartBound) {
    // A point that is not a number is left of no line: every walk fails and
    // the hull walk would go round for ever. 1000 restarts, then (0, 0, 0).
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const float py : {1.0f, nan}) {
        SCOPED_TRACE(py);
        Square sq;
        KernelState kernel;
        const Triple t = trfind(5, nan, py, 5, sq.x.data(), sq.y.data(), sq.store, kernel);
        EXPECT_EQ(t.i1, 0);
        EXPECT_EQ(t.i2, 0);
        EXPECT_EQ(t.i3, 0);
        EXPECT_EQ(kernel.trfind_seeds.draws, kMaxRestarts);

        const Triple c = ctrfind(5, nan, py, 5, sq.x.data(), sq.y.data(), sq.store, sq.nodes.data(), kernel);
        EXPECT_EQ(c.i1, 0);
        EXPECT_EQ(kernel.ctrfind_seeds.draws, kMaxRestarts);
    }
}

}  // namespace
