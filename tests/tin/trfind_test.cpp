#include "tin/trfind.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

#include "support/check_tin.hpp"
#include "support/hand_store.hpp"

namespace {

using krel::test::check_location;
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

TEST(Trfind, AnswersOfTheSquare) {
    struct Case {
        float px, py;
        std::int32_t nst;
        Triple want;  // i1 = -1: only checked against brute force
        const char* what;
    };
    const Case cases[] = {
        {2, 2, 1, {-1, 0, 0}, "P equal to the centre node"},
        {0, 0, 5, {-1, 0, 0}, "P equal to a corner node"},
        {1, 1, 3, {-1, 0, 0}, "P on the interior arc 1-5"},
        {2, 0.5f, 4, {1, 2, 5}, "inside (1, 2, 5), walked to from the hull node 4"},
        {2, 0.5f, 5, {1, 2, 5}, "inside (1, 2, 5), from the interior node 5"},
        {2, 0.5f, 2, {5, 1, 2}, "inside (1, 2, 5), from its vertex 2: apex last"},
        {2, 0.5f, 0, {2, 5, 1}, "inside (1, 2, 5), from the drawn node jrand(5) = 1"},
        {2, -1, 5, {2, 1, 0}, "outside, facing the single arc 1->2"},
        {5, -1, 4, {3, 1, 0}, "outside the corner 2, facing arcs 1->2 and 2->3"},
        {6, 0, 1, {-1, 0, 0}, "outside, collinear with the arc 1->2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Square sq;
        KernelState kernel;
        const Triple t = trfind(c.nst, c.px, c.py, 5, sq.x.data(), sq.y.data(), sq.store, kernel);
        EXPECT_TRUE(check_location(sq.store, sq.x.data(), sq.y.data(), sq.nodes.data(), 5, c.px, c.py, t.i1, t.i2,
                                   t.i3));
        if (c.want.i1 >= 0) {
            EXPECT_EQ(t.i1, c.want.i1);
            EXPECT_EQ(t.i2, c.want.i2);
            EXPECT_EQ(t.i3, c.want.i3);
        }
        // A point equal to a node lies in a triangle of that node.
        for (const std::int32_t k : {1, 5}) {
            if (c.px == sq.x[k] && c.py == sq.y[k]) {
                EXPECT_TRUE(t.i1 == k || t.i2 == k || t.i3 == k);
            }
        }
        EXPECT_EQ(kernel.trfind_seeds.draws, c.nst == 0 ? 1 : 0);  // no restart
    }
}

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
