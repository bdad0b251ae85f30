#include "tin/ctrmesh.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "support/check_near.hpp"
#include "support/check_tin.hpp"
#include "support/point_sets.hpp"
#include "tin/cupdate.hpp"

namespace {

using krel::io::StringOut;
using krel::test::check_near_sets;
using krel::test::check_tin;
using krel::test::neighbours;
using krel::test::PointSet;
using namespace krel::tin;

constexpr float kSwtol = 20.0f * 0x1p-24f;  // 1.1920929E-06

// Working arrays of one ctrmesh call, sized for the points (1-based).
struct Mesh {
    PointSet p;
    Store store;
    std::vector<std::int32_t> near, next;
    std::vector<float> ds;
    KernelState kernel;
    StringOut console;

    explicit Mesh(PointSet pts)
        : p(std::move(pts)),
          store(p.size()),
          near(p.x.size(), -7),
          next(p.x.size(), -7),
          ds(p.x.size(), -7.0f) {}

    std::int32_t run(std::int32_t n, std::int32_t nt) {
        return ctrmesh(n, p.x.data(), p.y.data(), nt, store, near.data(), next.data(), ds.data(), kernel, console);
    }
};

TEST(Ctrmesh, SmallAndDegenerateStarts) {
    struct Case {
        std::vector<float> x, y;
        std::int32_t n, nt, want, lnew;
        float swtol;
        std::vector<std::int32_t> list1;  // node 1's list when built
        const char* what;
    };
    const Case cases[] = {
        {{0, 0, 1, 0}, {0, 0, 0, 1}, 3, 3, 0, 7, kSwtol, {2, -3}, "three nodes counterclockwise"},
        {{0, 0, 0, 1}, {0, 0, 1, 0}, 3, 3, 0, 7, kSwtol, {3, -2}, "three nodes clockwise: triangle (1, 3, 2)"},
        {{0, 0, 1, 2}, {0, 0, 1, 2}, 3, 3, -2, 1, kSwtol, {}, "collinear: swtol set, nothing built"},
        {{0, 0, 1}, {0, 0, 0}, 2, 2, -1, 1, 0.0f, {}, "n = 2: not even swtol"},
        {{0, 0, 1, 0, 1}, {0, 0, 0, 1, 1}, 4, 3, -1, 1, 0.0f, {}, "nt below n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PointSet p;
        p.x = c.x;
        p.y = c.y;
        Mesh m(p);
        EXPECT_EQ(m.run(c.n, c.nt), c.want);
        EXPECT_EQ(m.store.lnew, c.lnew);
        EXPECT_EQ(m.kernel.swtol, c.swtol);
        if (!c.list1.empty()) {
            EXPECT_EQ(neighbours(m.store, 1), c.list1);
        }
        // The sets are not touched before four nodes.
        for (std::size_t k = 0; k < m.near.size(); ++k) EXPECT_EQ(m.near[k], -7);
    }
}

TEST(Ctrmesh, ProgressAndDuplicateLines) {
    struct Case {
        std::int32_t n;
        std::vector<std::pair<std::int32_t, std::int32_t>> copies;  // (node, node it copies)
        std::int32_t want;
        std::string console;
    };
    const Case cases[] = {
        {999, {}, 0, ""},
        {2000, {}, 0, " ctrmesh nodes=        1000\n ctrmesh nodes=        2000\n"},
        {1200, {{500, 7}, {1100, 300}}, 0, " ctrmesh nodes=        1000\n >found           2  coincidental point(s)\n"},
        // The multiple of 1000 prints though it is a duplicate; the last
        // node's duplicate is the answer.
        {1000, {{1000, 10}}, 10, " ctrmesh nodes=        1000\n >found           1  coincidental point(s)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        PointSet p = krel::test::uniform_points(7, c.n + 50);
        for (const auto& [k, of] : c.copies) {
            p.x[k] = p.x[of];
            p.y[k] = p.y[of];
        }
        Mesh m(p);
        EXPECT_EQ(m.run(c.n, c.n + 50), c.want);
        EXPECT_EQ(m.console.str(), c.console);

        // The skipped nodes are in no list and no set; the rest is a valid
        // triangulation with valid sets.
        std::vector<std::int32_t> nodes{0};
        std::vector<char> is_node(p.x.size(), 0);
        std::vector<std::int32_t> skipped;
        for (std::int32_t k = 1; k <= c.n; ++k) {
            bool copy = false;
            for (const auto& cp : c.copies) copy = copy || cp.first == k;
            if (copy) {
                skipped.push_back(k);
                EXPECT_EQ(m.store.lend[k], 0);
                continue;
            }
            nodes.push_back(k);
            is_node[k] = 1;
        }
        EXPECT_TRUE(check_tin(m.store, p.x.data(), p.y.data(), nodes.data(), static_cast<std::int32_t>(nodes.size()) - 1,
                              kSwtol));
        EXPECT_TRUE(check_near_sets(p.x.data(), p.y.data(), is_node, m.near.data(), m.next.data(), m.ds.data(),
                                    c.n + 50, skipped, kSwtol));
    }
}

}  // namespace
