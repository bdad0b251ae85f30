#include "tin/store.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

#include "support/check_tin.hpp"
#include "support/hand_store.hpp"
#include "tin/jrand.hpp"
#include "tin/trfind.hpp"

namespace {

using krel::test::check_tin;
using krel::test::hand_store;
using namespace krel::tin;

// A flat quadrilateral, diagonal 1-2, both angles at 3 and 4 obtuse:
//
//           3 (2, 1)
//   1 (0, 0) ------- 2 (4, 0)
//           4 (2, -1)
//
// Triangles (1, 2, 3) and (2, 1, 4).
struct FlatQuad {
    std::vector<float> x{0.0f, 0.0f, 4.0f, 2.0f, 2.0f};
    std::vector<float> y{0.0f, 0.0f, 0.0f, 1.0f, -1.0f};
    Store store = hand_store({{4, 2, -3}, {3, 1, -4}, {1, -2}, {2, -1}});
};

TEST(Swptst, EmptyCircumcircleWithTolerance) {
    // Quadrilateral io1 = 1, io2 = 2, in1 = 3, in2 = 4; triangles (1, 2, 3) and (2, 1, 4).
    struct Case { float x[4], y[4]; float swtol; bool want; const char* what; };
    const float swtol = 20.0f * 0x1p-24f;
    const Case cases[] = {
        {{5, 0, -3, 4}, {0, 5, 4, 3}, swtol, false, "cocircular, one angle obtuse: sin12 exactly 0"},
        {{0, 1, 0, 1}, {0, 1, 1, 0}, swtol, false, "cocircular square: both angles right"},
        {{5, 0, -3, 3.5f}, {0, 5, 4, 2.5f}, swtol, true, "in2 inside the circle"},
        {{5, 0, -3, 3.5f}, {0, 5, 4, 2.5f}, 1e6f, false, "in2 inside, but within the tolerance"},
        {{5, 0, -3, 4.5f}, {0, 5, 4, 3.5f}, swtol, false, "in2 outside the circle"},
        {{0, 4, 2, 2}, {0, 0, 1, -1}, swtol, true, "both angles obtuse"},
        {{0, 10, 5, 5}, {0, 0, 10, -10}, swtol, false, "both angles acute"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const float x[5] = {0, c.x[0], c.x[1], c.x[2], c.x[3]};
        const float y[5] = {0, c.y[0], c.y[1], c.y[2], c.y[3]};
        EXPECT_EQ(swptst(3, 4, 1, 2, x, y, c.swtol), c.want);
        // Coordinates as pairs: each node's x and y in the same roles.
        XY xy[5];
        for (int i = 0; i < 5; ++i) xy[i] = {x[i], y[i]};
        EXPECT_EQ(swptst(3, 4, 1, 2, xy, c.swtol), c.want);
    }
}

TEST(Swap, AdjacentNodesChangeNothing) {
    FlatQuad q;
    std::int32_t lp21 = -1;
    swap(3, 4, 1, 2, q.store, lp21);
    const Store before = q.store;
    swap(3, 4, 1, 2, q.store, lp21);  // 3 and 4 now share an arc
    EXPECT_EQ(lp21, 0);
    EXPECT_EQ(q.store.list, before.list);
    EXPECT_EQ(q.store.lptr, before.lptr);
    EXPECT_EQ(q.store.lend, before.lend);
    EXPECT_EQ(q.store.lnew, before.lnew);
}

TEST(CheckTin, NamesTheBrokenInvariant) {
    // Triangle (1, 2, 3) with node 4 inside: a valid store, then broken copies.
    const std::vector<float> x{0, 0, 4, 0, 1};
    const std::vector<float> y{0, 0, 0, 4, 1};
    const std::vector<std::vector<std::int32_t>> good{{2, 4, -3}, {3, 4, -1}, {1, 4, -2}, {1, 2, 3}};
    struct Case {
        std::vector<std::vector<std::int32_t>> lists;
        const char* want;  // start of the message, empty for success
    };
    const Case cases[] = {
        {good, ""},
        {{{2, 4, -3}, {3, 4, -1}, {1, -2}, {1, 2, 3}}, "triangle (1, 4, 3) not seen"}, // arc 3-4 at one end only
        {{{2, 4, -3}, {3, 4, -1}, {1, 4, -2}, {1, 3, 2}}, "triangle (1, 2, 4) not seen"}, // 4's list clockwise
        {{{2, 4, 3}, {3, 4, -1}, {1, 4, -2}, {1, 2, 3}}, "triangle (1, 3, 2) is clockwise"}, // hull mark lost
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want);
        const Store s = hand_store(c.lists);
        const testing::AssertionResult r = check_tin(s, x.data(), y.data(), nullptr, 4, 20.0f * 0x1p-24f);
        EXPECT_EQ(static_cast<bool>(r), *c.want == '\0') << r.message();
        EXPECT_EQ(std::string(r.message()).rfind(c.want, 0), 0u) << r.message();
    }
}

TEST(Jrand, FirstDrawsFromFreshSeeds) {
    SeedTriple seeds;
    EXPECT_EQ(jrand(1000, seeds), 34);
    EXPECT_EQ(seeds.ix, 171);
    EXPECT_EQ(seeds.iy, 344);
    EXPECT_EQ(seeds.iz, 510);
    for (const std::int32_t want : {778, 53, 745, 491, 983}) EXPECT_EQ(jrand(1000, seeds), want);
    EXPECT_EQ(seeds.draws, 6);
}

TEST(Jrand, RoundingUpToNPlusOneGivesN) {
    // From these seeds the next state gives u = 1 - 2^-24 exactly, where
    // n*u + 1 rounds up to n + 1 for n a power of two.
    struct Case { std::int32_t n, want; };
    const Case cases[] = {{1, 1}, {4, 4}, {1024, 1024}, {1000, 1000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        SeedTriple seeds{15046, 1773, 26031};
        EXPECT_EQ(jrand(c.n, seeds), c.want);
    }
}

}  // namespace
