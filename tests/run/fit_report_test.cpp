#include "run/fit_report.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "support/run_krel.hpp"

namespace {

using krel::FitReport;
using krel::FitStats;

// Nodes on the plane z = 0.1 x + 0.2 y + 5 over a 10 m grid; filtered points
// on the same plane at the cell centres, a bump of known height on a few,
// and a few beyond the grid.
struct PlaneWithBump {
    krel::mesh::Nodes nodes;
    PlaneWithBump() {
        for (int j = 0; j <= 10; ++j)
            for (int i = 0; i <= 10; ++i)
                nodes.push(static_cast<float>(i), static_cast<float>(j), plane(static_cast<float>(i), static_cast<float>(j)));
    }
    static float plane(float x, float y) { return 0.125F * x + 0.25F * y + 5.0F; }
    // Cell centres of row j, with `bumps` of them raised by `bump`, and
    // `outside` points beyond the grid.
    static std::vector<float> row(int j, int bumps, float bump, int outside) {
        std::vector<float> xyz;
        for (int i = 0; i < 10; ++i) {
            const float x = static_cast<float>(i) + 0.5F, y = static_cast<float>(j) + 0.5F;
            xyz.insert(xyz.end(), {x, y, plane(x, y) + (i < bumps ? bump : 0.0F)});
        }
        for (int k = 0; k < outside; ++k) xyz.insert(xyz.end(), {20.0F + static_cast<float>(k), 5.0F, 0.0F});
        return xyz;
    }
};

TEST(FitReport, PlaneWithBumpOfKnownHeight) {
    krel::test::TempDir dir;
    PlaneWithBump p;
    krel::mesh::Mesh mesh(p.nodes, krel::mesh::Clip{});
    FitReport fit(dir.path().string());
    // Tile 1: no bump. Tile 2: one point in 10 raised 0.5 m (of 20 or fewer
    // points the p95 is the largest).
    // Tile 3: 6 of 10 raised 0.25 m, 2 off the mesh. Tile 4: no point.
    fit.add_tile(1, 40, PlaneWithBump::row(0, 0, 0.0F, 0));
    fit.add_tile(2, 30, PlaneWithBump::row(1, 1, 0.5F, 0));
    fit.add_tile(3, 20, PlaneWithBump::row(2, 6, 0.25F, 2));
    fit.add_tile(4, 0, {});
    std::string csv;
    const FitStats run = fit.finish(mesh, [&](std::string_view b) { csv += b; });
    EXPECT_EQ(csv,
              "tile,filtered points,nodes,rms,max,p95,uncovered\n"
              "1,10,40,0.0000,0.0000,0.0000,0\n"
              "2,10,30,0.1581,0.5000,0.5000,0\n"   // sqrt(0.25 / 10); rank 10 of 10
              "3,12,20,0.1936,0.2500,0.2500,2\n"   // sqrt(6 * 0.0625 / 10)
              "4,0,0,,,,0\n");
    EXPECT_EQ(run.points, 32);
    EXPECT_EQ(run.uncovered, 2);
    EXPECT_EQ(run.max, 0.5F);
    EXPECT_EQ(run.p95, 0.25F);  // 29th of 30: the 0.5 and the six 0.25
    EXPECT_NEAR(run.rms, std::sqrt((0.25 + 6 * 0.0625) / 30.0), 1e-6);
    EXPECT_EQ(krel::fit_line(200, run),
              " >mesh 200 triangles; fit of 32 filtered points: rms 0.1443 m, max 0.5000 m, p95 0.2500 m; 2 off the mesh\n");
}

// The run's p95 comes from a two-pass selection over float bits: it must
// agree with sorting all errors, on errors spread over many buckets.
TEST(FitReport, RunPercentileMatchesSorting) {
    krel::test::TempDir dir;
    PlaneWithBump p;
    krel::mesh::Mesh mesh(p.nodes, krel::mesh::Clip{});
    for (int count : {1, 2, 19, 20, 21, 997}) {
        SCOPED_TRACE(count);
        FitReport fit(dir.path().string());
        std::vector<float> xyz, want;
        for (int k = 0; k < count; ++k) {
            const float x = 0.5F + static_cast<float>(k % 9), y = 0.5F + static_cast<float>(k % 7);
            const float e = static_cast<float>((k * 7919) % 1000) * 0.001F;  // 0 to 0.999
            xyz.insert(xyz.end(), {x, y, PlaneWithBump::plane(x, y) - e});
            want.push_back(static_cast<float>(std::fabs(static_cast<double>(PlaneWithBump::plane(x, y) - e) -
                                                         static_cast<double>(PlaneWithBump::plane(x, y)))));
        }
        fit.add_tile(1, 9, std::span(xyz).first(xyz.size() / 2 / 3 * 3));
        fit.add_tile(2, 9, std::span(xyz).subspan(xyz.size() / 2 / 3 * 3));
        const FitStats run = fit.finish(mesh, [](std::string_view) {});
        std::sort(want.begin(), want.end());
        EXPECT_EQ(run.p95, want[(95 * want.size() + 99) / 100 - 1]);
        EXPECT_EQ(run.max, want.back());
    }
}

}  // namespace
