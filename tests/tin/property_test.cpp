// Fixed-seed property tests: point sets of every awkward kind inserted one by
// one through both insertion routines, with the invariant checker after each
// insertion on the small sets and at the end on the large ones, and point
// location compared with a brute-force search.

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <vector>

#include "io/textout.hpp"
#include "support/check_near.hpp"
#include "support/check_tin.hpp"
#include "support/point_sets.hpp"
#include "tin/addnod.hpp"
#include "tin/caddnod.hpp"
#include "tin/ctrmesh.hpp"
#include "tin/cupdate.hpp"
#include "tin/trfind.hpp"

namespace {

using krel::test::check_location;
using krel::test::check_near_sets;
using krel::test::check_tin;
using krel::test::PointSet;
using namespace krel::tin;

std::vector<PointSet> point_sets(unsigned seed, std::int32_t count) {
    const auto side = static_cast<std::int32_t>(std::sqrt(static_cast<double>(count)));
    return {
        krel::test::uniform_points(seed, count),
        krel::test::clustered_points(seed, count),
        krel::test::grid_points(seed, side, side, 2.0f),
        krel::test::nearly_collinear_points(seed, count),
        krel::test::large_points(seed, count),
    };
}

// Query points over the points' box widened by half its size on each side,
// so that about half of them fall outside the hull.
std::vector<std::pair<float, float>> queries(const PointSet& p, unsigned seed, int count) {
    float xmin = p.x[1], xmax = p.x[1], ymin = p.y[1], ymax = p.y[1];
    for (std::int32_t k = 2; k <= p.size(); ++k) {
        xmin = std::min(xmin, p.x[k]);
        xmax = std::max(xmax, p.x[k]);
        ymin = std::min(ymin, p.y[k]);
        ymax = std::max(ymax, p.y[k]);
    }
    const float wx = std::max(xmax - xmin, 1.0f);
    const float wy = std::max(ymax - ymin, 1.0f);
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> u(-0.5f, 1.5f);
    std::vector<std::pair<float, float>> out;
    for (int i = 0; i < count; ++i) {
        const float qx = xmin + u(gen) * wx;
        out.emplace_back(qx, ymin + u(gen) * wy);
    }
    // Some queries exactly at nodes.
    for (std::int32_t k = 1; k <= p.size() && k <= count / 10; ++k) out.emplace_back(p.x[k], p.y[k]);
    return out;
}

// Nodes 1..n in arrival order through addnod; exact duplicates are dropped.
void insert_with_addnod(const PointSet& src, bool check_each, unsigned seed) {
    PointSet t;
    t.x.assign(src.x.size(), 0.0f);
    t.y.assign(src.y.size(), 0.0f);
    Store store(src.size());
    KernelState kernel;
    krel::io::StringOut console;

    // First triangle: nodes 1 and 2, then the first later point not
    // collinear with them.
    std::int32_t next_src = 3;
    t.x[1] = src.x[1];
    t.y[1] = src.y[1];
    t.x[2] = src.x[2];
    t.y[2] = src.y[2];
    std::int32_t ier = -2;
    for (; ier == -2 && next_src <= src.size(); ++next_src) {
        t.x[3] = src.x[next_src];
        t.y[3] = src.y[next_src];
        ier = ctrmesh(3, t.x.data(), t.y.data(), 3, store, nullptr, nullptr, nullptr, kernel, console);
    }
    ASSERT_EQ(ier, 0);

    std::int32_t n = 3;
    std::int32_t duplicates = 0;
    for (std::int32_t s = 3; s <= src.size(); ++s) {
        if (s == next_src - 1) continue;  // already node 3
        const float px = src.x[s];
        const float py = src.y[s];
        ier = addnod(n + 1, px, py, n, n, t.x.data(), t.y.data(), store, kernel);
        if (ier > 0) {
            ASSERT_TRUE(t.x[ier] == px && t.y[ier] == py) << "point " << s << " is no copy of node " << ier;
            ++duplicates;
            continue;
        }
        ASSERT_EQ(ier, 0) << "point " << s;
        if (check_each) {
            ASSERT_TRUE(check_tin(store, t.x.data(), t.y.data(), nullptr, n, kernel.swtol)) << "after point " << s;
        }
    }
    ASSERT_TRUE(check_tin(store, t.x.data(), t.y.data(), nullptr, n, kernel.swtol));
    EXPECT_EQ(n + duplicates, src.size() - (next_src - 4));

    std::vector<std::int32_t> nodes(static_cast<std::size_t>(n) + 1);
    for (std::int32_t k = 1; k <= n; ++k) nodes[k] = k;
    std::mt19937 gen(seed);
    std::uniform_int_distribution<std::int32_t> start(0, n);
    for (const auto& [qx, qy] : queries(src, seed, 200)) {
        const Triple r = trfind(start(gen), qx, qy, n, t.x.data(), t.y.data(), store, kernel);
        ASSERT_TRUE(check_location(store, t.x.data(), t.y.data(), nodes.data(), n, qx, qy, r.i1, r.i2, r.i3))
            << "query (" << qx << ", " << qy << ")";
    }
}

// The tile layout: frame corners, ctrmesh, then every point through caddnod
// from its nearest node, with the nearest-node sets kept by cupdate.
void insert_with_caddnod(const PointSet& src, bool check_each, unsigned seed) {
    PointSet t = krel::test::framed(src);
    const std::int32_t nt = t.size();
    Store store(nt);
    std::vector<std::int32_t> near(nt + 1), next(nt + 1), inx(nt + 1);
    std::vector<float> ds(nt + 1);
    std::vector<char> is_node(nt + 1, 0);
    KernelState kernel;
    krel::io::StringOut console;
    ASSERT_EQ(ctrmesh(4, t.x.data(), t.y.data(), nt, store, near.data(), next.data(), ds.data(), kernel, console), 0);
    // The same sets kept through the overload over coordinate pairs.
    std::vector<XY> xy(nt + 1);
    for (std::int32_t s = 1; s <= nt; ++s) xy[s] = {t.x[s], t.y[s]};
    std::vector<std::int32_t> near_xy = near, next_xy = next;
    std::vector<float> ds_xy = ds;
    std::int32_t n = 4;
    for (std::int32_t k = 1; k <= 4; ++k) {
        inx[k] = k;
        is_node[k] = 1;
    }

    for (std::int32_t kk = 5; kk <= nt; ++kk) {
        const std::int32_t ier = caddnod(kk, near[kk], n, t.x.data(), t.y.data(), store, inx.data(), kernel);
        if (ier > 0) {
            ASSERT_TRUE(is_node[ier] && std::fabs(t.x[kk] - t.x[ier]) < kDuplicateTolerance &&
                        std::fabs(t.y[kk] - t.y[ier]) < kDuplicateTolerance)
                << "point " << kk << " is not close to node " << ier;
            continue;
        }
        ASSERT_EQ(ier, 0) << "point " << kk;
        is_node[kk] = 1;
        cupdate(kk, t.x.data(), t.y.data(), store, near.data(), next.data(), ds.data());
        cupdate(kk, xy.data(), store, near_xy.data(), next_xy.data(), ds_xy.data());
        if (check_each) {
            ASSERT_TRUE(check_tin(store, t.x.data(), t.y.data(), inx.data(), n, kernel.swtol)) << "after point " << kk;
        }
    }
    ASSERT_TRUE(check_tin(store, t.x.data(), t.y.data(), inx.data(), n, kernel.swtol));
    EXPECT_TRUE(
        check_near_sets(t.x.data(), t.y.data(), is_node, near.data(), next.data(), ds.data(), nt, {}, kernel.swtol));
    EXPECT_TRUE(near_xy == near && next_xy == next && ds_xy == ds);

    std::mt19937 gen(seed);
    std::uniform_int_distribution<std::int32_t> start(0, n);
    for (const auto& [qx, qy] : queries(t, seed, 200)) {
        const std::int32_t m = start(gen);
        KernelState twin = kernel;
        WalkInfo info;
        Triple r_xy;
        ctrfind(m == 0 ? 0 : inx[m], qx, qy, n, xy.data(), store, inx.data(), twin, info, r_xy);
        const Triple r = ctrfind(m == 0 ? 0 : inx[m], qx, qy, n, t.x.data(), t.y.data(), store, inx.data(), kernel);
        ASSERT_TRUE(r_xy.i1 == r.i1 && r_xy.i2 == r.i2 && r_xy.i3 == r.i3 &&
                    twin.ctrfind_seeds.draws == kernel.ctrfind_seeds.draws)
            << "pairs and arrays differ at query (" << qx << ", " << qy << ")";
        ASSERT_TRUE(check_location(store, t.x.data(), t.y.data(), inx.data(), n, qx, qy, r.i1, r.i2, r.i3))
            << "query (" << qx << ", " << qy << ")";
    }
}

// Small sets checked after every insertion, large ones at the end.
TEST(KernelProperty, EveryPointSetStaysValid) {
    struct Case { unsigned seed; std::int32_t count; bool check_each; };
    for (const Case& c : {Case{1, 300, true}, Case{2, 300, true}, Case{3, 2500, false}}) {
        for (const PointSet& p : point_sets(c.seed, c.count)) {
            SCOPED_TRACE(testing::Message() << p.name << ", seed " << c.seed << ", " << p.size() << " points");
            {
                SCOPED_TRACE("addnod");
                insert_with_addnod(p, c.check_each, c.seed);
            }
            {
                SCOPED_TRACE("caddnod");
                insert_with_caddnod(p, c.check_each, c.seed);
            }
        }
    }
}

}  // namespace
