#include "mesh/tin_mesh.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <random>
#include <utility>

#include "support/point_sets.hpp"

namespace {

using krel::mesh::Clip;
using krel::mesh::Mesh;
using krel::mesh::Nodes;
using krel::mesh::Triangle;

Nodes nodes_of(const krel::test::PointSet& p, float (*z)(float, float)) {
    Nodes n;
    for (std::int32_t i = 1; i <= p.size(); ++i) n.push(p.x[i], p.y[i], z(p.x[i], p.y[i]));
    return n;
}

float flat(float, float) { return 0.0F; }
float plane(float x, float y) { return 0.25F * x - 0.5F * y + 100.0F; }

// Exact for float coordinates: differences are exact in long double, and so
// are their products.
long double orient(const Nodes& n, std::int32_t a, std::int32_t b, std::int32_t c) {
    const long double ax = n.x[a], ay = n.y[a];
    return (n.x[b] - ax) * (n.y[c] - ay) - (n.y[b] - ay) * (n.x[c] - ax);
}

// Positive when node d lies strictly inside the circle through a, b, c (ccw).
long double incircle(const Nodes& n, std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
    const long double dx = n.x[d], dy = n.y[d];
    const long double ax = n.x[a] - dx, ay = n.y[a] - dy, bx = n.x[b] - dx, by = n.y[b] - dy;
    const long double cx = n.x[c] - dx, cy = n.y[c] - dy;
    return (ax * ax + ay * ay) * (bx * cy - cx * by) - (bx * bx + by * by) * (ax * cy - cx * ay) +
           (cx * cx + cy * cy) * (ax * by - bx * ay);
}

// Every triangle counterclockwise and in canonical order, every edge in at
// most two triangles and then in opposite directions, and (unclipped) the
// Euler characteristic of a triangulated disc over all nodes.
testing::AssertionResult valid_mesh(const Nodes& n, const std::vector<Triangle>& tris, bool whole) {
    std::map<std::pair<int, int>, int> directed;
    for (std::size_t t = 0; t < tris.size(); ++t) {
        const Triangle& tr = tris[t];
        if (!(tr[0] < tr[1] && tr[0] < tr[2])) return testing::AssertionFailure() << "triangle " << t << " not rotated";
        if (t > 0 && !(tris[t - 1] < tr)) return testing::AssertionFailure() << "triangle " << t << " out of order";
        if (orient(n, tr[0], tr[1], tr[2]) <= 0) return testing::AssertionFailure() << "triangle " << t << " not ccw";
        for (int k = 0; k < 3; ++k)
            if (++directed[{tr[k], tr[(k + 1) % 3]}] > 1)
                return testing::AssertionFailure() << "edge " << tr[k] << "-" << tr[(k + 1) % 3] << " used twice one way";
    }
    std::size_t edges = 0;
    for (const auto& [e, count] : directed)
        if (e.first < e.second || directed.count({e.second, e.first}) == 0) ++edges;
    if (whole) {
        const long long euler = static_cast<long long>(n.size()) - static_cast<long long>(edges) +
                                static_cast<long long>(tris.size());
        if (euler != 1) return testing::AssertionFailure() << "V - E + F = " << euler;
    }
    return testing::AssertionSuccess();
}

TEST(Mesh, DelaunayIsValid) {
    using krel::test::PointSet;
    const PointSet sets[] = {
        krel::test::uniform_points(1, 2000),
        krel::test::grid_points(2, 30, 30),  // cocircular squares, collinear rows
        krel::test::clustered_points(3, 2000),
        krel::test::nearly_collinear_points(4, 500),
    };
    for (const PointSet& p : sets) {
        SCOPED_TRACE(p.name);
        const Nodes n = nodes_of(p, flat);
        Mesh mesh(n, Clip{});
        const auto& tris = mesh.triangles();
        ASSERT_FALSE(tris.empty());
        EXPECT_EQ(static_cast<std::int64_t>(tris.size()), mesh.delaunay_triangles());
        EXPECT_TRUE(valid_mesh(n, tris, true));
        // Empty circles, spot-checked against every node.
        for (std::size_t t = 0; t < tris.size(); t += 97)
            for (std::int32_t d = 0; d < n.size(); ++d)
                ASSERT_LE(incircle(n, tris[t][0], tris[t][1], tris[t][2], d), 0.0L) << "node " << d << " in triangle " << t;
        // The same nodes give the same triangles.
        Mesh again(n, Clip{});
        EXPECT_EQ(again.triangles(), tris);
    }
}

// Too few nodes, all on one line or in one place: no triangle. A coordinate
// read as infinity (5e44 overflows a float) once crashed the library's
// insertion; such nodes keep their number but join no triangle.
TEST(Mesh, DegenerateAndNonFiniteNodes) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    using Points = std::vector<std::pair<float, float>>;
    const Points off = {{inf, 77}, {5, -inf}, {nan, 5}, {-inf, inf}};
    const auto after_off = [&](const Points& p) {
        Points all = off;
        all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const std::pair<Points, bool> cases[] = {
        {{}, false},
        {{{1, 1}}, false},
        {{{0, 0}, {1, 1}}, false},
        {{{0, 0}, {1, 1}, {2, 2}, {5, 5}}, false},  // on one line
        {{{3, 3}, {3, 3}, {3, 3}}, false},          // one place
        {off, false},
        {after_off({{0, 0}, {10, 0}, {10, 10}, {0, 10}}), true},                 // a square: two triangles
        {after_off({{0, 0}, {2, 0}, {4, 0}, {3e38F, 78}, {3e38F, 79}}), true},  // a line and two nodes far off
    };
    for (const auto& [points, triangles] : cases) {
        SCOPED_TRACE(testing::Message() << points.size() << " nodes" << (triangles ? ", 4 off the plane" : ""));
        Nodes n;
        for (auto [x, y] : points) n.push(x, y, 1.0F);
        Mesh mesh(n, Clip{});
        EXPECT_EQ(mesh.triangles().empty(), !triangles);
        for (const Triangle& t : mesh.triangles())
            for (const std::int32_t k : t) EXPECT_GE(k, static_cast<std::int32_t>(off.size()));
        if (!triangles) {
            EXPECT_FALSE(mesh.height(0.5, 0.5).has_value());
        }
        EXPECT_FALSE(mesh.height(inf, 5.0).has_value());
        EXPECT_FALSE(mesh.height(5.0, nan).has_value());
    }
}

TEST(Mesh, ClipByHullAndLongestEdge) {
    // A 20 x 20 grid of 1 m; the hull is the lower-left triangle of the
    // square, given in absolute coordinates around an origin far away.
    const Nodes n = nodes_of(krel::test::grid_points(5, 20, 20), flat);
    Clip clip;
    clip.xorig = 500000.0;
    clip.yorig = 5200000.0;
    krel::io::Hull hull;
    const float hx[] = {499999.5F, 500020.0F, 499999.5F}, hy[] = {5199999.5F, 5199999.5F, 5200020.0F};
    hull.nh = 3;
    for (int k = 0; k < 3; ++k) hull.xh[k + 1] = hx[k], hull.yh[k + 1] = hy[k];
    hull.xhmin = 499999.5F, hull.xhmax = 500020.0F, hull.yhmin = 5199999.5F, hull.yhmax = 5200020.0F;
    clip.hull = &hull;
    Mesh by_hull(n, clip);
    EXPECT_TRUE(valid_mesh(n, by_hull.triangles(), false));
    std::int64_t inside = 0;
    Mesh whole(n, Clip{});
    for (const Triangle& t : whole.triangles()) {
        const double cx = (static_cast<double>(n.x[t[0]]) + n.x[t[1]] + n.x[t[2]]) / 3.0;
        const double cy = (static_cast<double>(n.y[t[0]]) + n.y[t[1]] + n.y[t[2]]) / 3.0;
        if (cx + cy < 19.5) ++inside;  // the hull's diagonal, relative
    }
    EXPECT_EQ(static_cast<std::int64_t>(by_hull.triangles().size()), inside);
    EXPECT_GT(inside, 0);
    EXPECT_LT(inside, whole.delaunay_triangles());

    // Two grids 10 m apart: the limit drops exactly the triangles between.
    Nodes two = n;
    for (std::int32_t i = 0; i < n.size(); ++i) two.push(n.x[i] + 29.0F, n.y[i], 0.0F);
    clip = Clip{};
    clip.max_edge = 1.5;  // the grid diagonal is 1.414
    Mesh split(two, clip);
    EXPECT_TRUE(valid_mesh(two, split.triangles(), false));
    EXPECT_EQ(split.triangles().size(), 2U * 2 * 19 * 19);
    EXPECT_FALSE(split.height(24.0, 5.0).has_value());  // in the gap
    EXPECT_TRUE(split.height(5.0, 5.0).has_value());
}

TEST(Mesh, HeightIsLinearInsideAndNoneOutside) {
    const Nodes n = nodes_of(krel::test::uniform_points(7, 500, 100.0F), plane);
    Mesh mesh(n, Clip{});
    std::mt19937 gen(9);
    std::uniform_real_distribution<double> u(20.0, 80.0);
    for (int k = 0; k < 1000; ++k) {
        const double x = u(gen), y = u(gen);
        const auto h = mesh.height(x, y);
        ASSERT_TRUE(h.has_value()) << x << " " << y;
        EXPECT_NEAR(*h, 0.25 * x - 0.5 * y + 100.0, 1e-4);
    }
    for (std::int32_t i = 0; i < n.size(); i += 7) EXPECT_EQ(mesh.height(n.x[i], n.y[i]), n.z[i]) << "node " << i;
    EXPECT_FALSE(mesh.height(-1.0, 50.0).has_value());
    EXPECT_FALSE(mesh.height(50.0, 1000.0).has_value());
}

}  // namespace
