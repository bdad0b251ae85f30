#include "tin/cupdate.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

#include "io/textout.hpp"
#include "support/check_near.hpp"
#include "tin/caddnod.hpp"
#include "tin/ctrmesh.hpp"

namespace {

using krel::test::near_set;
using namespace krel::tin;

TEST(Cupdate, MovesOnlyStrictlyCloserPoints) {
    // Frame (0, 0) .. (10, 10); node 5 = (4, 4) is inserted.
    std::vector<float> x{0, 0, 10, 10, 0, 4, 2, 3, 9, 3.5f, 8};
    std::vector<float> y{0, 0, 0, 10, 10, 4, 2, 3, 1, 2, 9};
    const std::int32_t nt = 10;
    Store store(nt);
    std::vector<std::int32_t> near(nt + 1), next(nt + 1), inx{0, 1, 2, 3, 4, 0, 0};
    std::vector<float> ds(nt + 1);
    KernelState kernel;
    krel::io::StringOut console;
    ASSERT_EQ(ctrmesh(4, x.data(), y.data(), nt, store, near.data(), next.data(), ds.data(), kernel, console), 0);
    ASSERT_EQ(near_set(near.data(), next.data(), 1), (std::vector<std::int32_t>{5, 6, 7, 9}));

    std::int32_t n = 4;
    ASSERT_EQ(caddnod(5, near[5], n, x.data(), y.data(), store, inx.data(), kernel), 0);
    cupdate(5, x.data(), y.data(), store, near.data(), next.data(), ds.data());

    EXPECT_EQ(near[6], 1);   // (2, 2): 8 from node 1 and 8 from node 5, stays
    EXPECT_EQ(ds[6], 8.0f);
    EXPECT_EQ(near[7], 5);   // (3, 3): 2 from node 5, moved
    EXPECT_EQ(ds[7], 2.0f);
    EXPECT_EQ(near[9], 5);   // (3.5, 2): moved after 7, so it leads the set
    EXPECT_EQ(near[8], 2);   // (9, 1): stays with node 2
    EXPECT_EQ(near[10], 3);  // (8, 9): stays with node 3
    EXPECT_EQ(near_set(near.data(), next.data(), 5), (std::vector<std::int32_t>{9, 7}));
    EXPECT_EQ(near_set(near.data(), next.data(), 1), (std::vector<std::int32_t>{6}));
}

TEST(LeaveNearSet, UnlinksAnywhereInTheSet) {
    struct Case {
        std::int32_t kk;
        std::vector<std::int32_t> rest;  // set of node 1 afterwards
    };
    // Set of node 1: 5, 6, 7; point 8 is attached to no node.
    const Case cases[] = {{5, {6, 7}}, {6, {5, 7}}, {7, {5, 6}}, {8, {5, 6, 7}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kk);
        std::vector<std::int32_t> near{0, 5, 0, 0, 0, 1, 1, 1, 0};
        std::vector<std::int32_t> next{0, 0, 0, 0, 0, 6, 7, 0, 0};
        leave_near_set(c.kk, near.data(), next.data());
        EXPECT_EQ(near[c.kk], 0);  // heads an empty set of its own
        EXPECT_EQ(near_set(near.data(), next.data(), 1), c.rest);
    }
}

}  // namespace
