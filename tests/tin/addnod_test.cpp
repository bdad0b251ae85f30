#include "tin/addnod.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

#include "support/check_tin.hpp"
#include "support/hand_store.hpp"
#include "tin/caddnod.hpp"
#include "tin/trfind.hpp"

namespace {

using krel::test::check_tin;
using krel::test::hand_store;
using namespace krel::tin;

constexpr float kSwtol = 20.0f * 0x1p-24f;

// The state after a first ctrmesh: swtol set, fresh seeds.
KernelState kernel_after_ctrmesh() {
    KernelState k;
    k.swtol = kSwtol;
    return k;
}

bool same_store(const Store& a, const Store& b) {
    return a.list == b.list && a.lptr == b.lptr && a.lend == b.lend && a.lnew == b.lnew;
}

// Triangle (1, 2, 3) = (0, 0), (4, 0), (0, 4); room for more nodes.
struct Triangle {
    std::vector<float> x{0, 0, 4, 0, 0, 0, 0};
    std::vector<float> y{0, 0, 0, 4, 0, 0, 0};
    Store store = hand_store({{2, -3}, {3, -1}, {1, -2}});
    KernelState kernel = kernel_after_ctrmesh();
    std::int32_t n = 3;
};

TEST(Addnod, RefusesAndChangesNothing) {
    struct Case { std::int32_t k; float px, py; std::int32_t ist, n, want; const char* what; };
    const Case cases[] = {
        {4, 0, 0, 3, 3, 1, "exactly node 1"},
        {4, 4, 0, 1, 3, 2, "exactly node 2"},
        {3, 1, 1, 1, 3, -1, "k <= n: no renumbering"},
        {5, 1, 1, 1, 3, -1, "k beyond n + 1"},
        {4, 1, 1, 0, 3, -1, "ist < 1"},
        {4, 1, 1, 4, 3, -1, "ist > n"},
        {3, 1, 1, 1, 2, -1, "n < 3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Triangle t;
        t.n = c.n;
        const Store before = t.store;
        const std::vector<float> x_before = t.x;
        EXPECT_EQ(addnod(c.k, c.px, c.py, c.ist, t.n, t.x.data(), t.y.data(), t.store, t.kernel), c.want);
        EXPECT_EQ(t.n, c.n);
        EXPECT_TRUE(same_store(t.store, before));
        EXPECT_EQ(t.x, x_before);
    }
}

// The tile frame (-10, -10) .. (10, 10), diagonal 1-3, with V = (0, 0) as
// node 5; slot 6 (and 7) for the points to add.
struct Frame {
    std::vector<float> x{0, -10, 10, 10, -10, 0, 0, 0};
    std::vector<float> y{0, -10, -10, 10, 10, 0, 0, 0};
    std::vector<std::int32_t> inx{0, 1, 2, 3, 4, 0, 0, 0};
    Store store = hand_store({{2, 3, -4}, {3, -1}, {4, 1, -2}, {1, -3}}, 8);
    KernelState kernel = kernel_after_ctrmesh();
    std::int32_t n = 4;

    Frame() { EXPECT_EQ(caddnod(5, 1, n, x.data(), y.data(), store, inx.data(), kernel), 0); }
};

TEST(Caddnod, DuplicateToleranceAroundAVertex) {
    struct Case { float dx, dy; std::int32_t want; const char* what; };
    const Case cases[] = {
        {0.004f, 0.004f, 5, "within 0.005 in x and y: V"},
        {-0.004f, -0.0049f, 5, "within, on the other side"},
        {0.004f, 0.006f, 0, "0.006 in y: inserted"},
        {0.006f, 0.004f, 0, "0.006 in x: inserted"},
        {0.005f, 0.0f, 0, "exactly 0.005 in x: the test is strict"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Frame f;
        f.x[6] = c.dx;
        f.y[6] = c.dy;
        const Store before = f.store;
        EXPECT_EQ(caddnod(6, 5, f.n, f.x.data(), f.y.data(), f.store, f.inx.data(), f.kernel), c.want);
        if (c.want != 0) {
            EXPECT_EQ(f.n, 5);
            EXPECT_EQ(f.inx[6], 0);
            EXPECT_TRUE(same_store(f.store, before));
        } else {
            EXPECT_EQ(f.n, 6);
            EXPECT_EQ(f.inx[6], 6);
            EXPECT_TRUE(check_tin(f.store, f.x.data(), f.y.data(), f.inx.data(), 6, kSwtol));
        }
    }
}

TEST(Caddnod, ReportsTheFirstCloseVertex) {
    // V = node 5 at (0, 0) and W = node 6 at (0.006, 0); a point between them
    // is within the tolerance of both, which share the triangle it is in.
    // The walk's start decides the order of the vertices, and the first of
    // V, W in that order is reported.
    struct Case { float py; std::int32_t ist; Triple located; std::int32_t want; };
    const Case cases[] = {
        {0.001f, 5, {6, 3, 5}, 6},   // above the arc V-W, from V
        {0.001f, 6, {3, 5, 6}, 5},   // above, from W
        {-0.001f, 5, {2, 6, 5}, 6},  // below, from V
        {-0.001f, 6, {5, 2, 6}, 5},  // below, from W
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "py " << c.py << ", ist " << c.ist);
        Frame f;
        f.x[6] = 0.006f;
        ASSERT_EQ(caddnod(6, 5, f.n, f.x.data(), f.y.data(), f.store, f.inx.data(), f.kernel), 0);
        f.x[7] = 0.003f;
        f.y[7] = c.py;
        KernelState probe = f.kernel;
        const Triple t = ctrfind(c.ist, f.x[7], f.y[7], f.n, f.x.data(), f.y.data(), f.store, f.inx.data(), probe);
        EXPECT_EQ(t.i1, c.located.i1);
        EXPECT_EQ(t.i2, c.located.i2);
        EXPECT_EQ(t.i3, c.located.i3);
        EXPECT_EQ(caddnod(7, c.ist, f.n, f.x.data(), f.y.data(), f.store, f.inx.data(), f.kernel), c.want);
        EXPECT_EQ(f.n, 6);
    }
}

TEST(Caddnod, RefusesInvalidInput) {
    struct Case { std::int32_t kk, ist, n; const char* what; };
    const Case cases[] = {{0, 1, 5, "kk < 1"}, {6, 0, 5, "ist < 1"}, {6, 1, 2, "n < 3"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Frame f;
        f.n = c.n;
        f.x[6] = 3.0f;
        const Store before = f.store;
        EXPECT_EQ(caddnod(c.kk, c.ist, f.n, f.x.data(), f.y.data(), f.store, f.inx.data(), f.kernel), -1);
        EXPECT_EQ(f.n, c.n);
        EXPECT_TRUE(same_store(f.store, before));
    }
}

}  // namespace
