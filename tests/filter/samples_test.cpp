// The raster filter on the real point clouds, each file taken as one tile.

#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "filter/grid.hpp"
#include "support/filter_tile.hpp"

namespace {

using krel::test::FilterTile;

// Blank-separated x y z lines; x and y relative to the first point, formed in
// double and rounded to float as the reader stores them, z read as float.
bool read_xyz(const std::filesystem::path& path, FilterTile& tile) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    double x0 = 0.0, y0 = 0.0;
    bool first = true;
    while (std::getline(in, line)) {
        const char* p = line.data();
        const char* end = p + line.size();
        double xy[2];
        float z = 0.0F;
        bool ok = true;
        for (int f = 0; f < 3 && ok; ++f) {
            while (p < end && (*p == ' ' || *p == '\t')) ++p;
            const auto r = f < 2 ? std::from_chars(p, end, xy[f]) : std::from_chars(p, end, z);
            ok = r.ec == std::errc();
            p = r.ptr;
        }
        if (!ok) return false;
        if (first) {
            x0 = xy[0];
            y0 = xy[1];
            first = false;
        }
        tile.add(static_cast<float>(xy[0] - x0), static_cast<float>(xy[1] - y0), z);
    }
    return tile.size() > 0;
}

TEST(SfiltSamples, KeptNodesAreLowestAndApart) {
    const std::filesystem::path data = KREL_SHARED_DATA;
    if (!std::filesystem::is_directory(data)) GTEST_SKIP() << "../shared/data not found";
    struct Case {
        const char* file;
        float dx;  // keeps the raster within 401 x 401 cells
    };
    const Case cases[] = {
        {"warsaw_small.xyz", 0.5F},   // vegetation above the ground
        {"warsaw_small.xyz", 0.09F},  // threshold raised to 0.005
        {"sample_c.xyz", 0.5F},       // duplicates and near-coincident points
        {"4_6_crop.xyz", 0.5F},       // 200 ft square: 400 x 400 cells
        {"autzen_trim.xyz", 3.0F},    // 110,000 points, large map coordinates
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.file << " at " << c.dx);
        FilterTile t;
        ASSERT_TRUE(read_xyz(data / c.file, t));
        const std::vector<std::int32_t> all = t.all();
        const krel::filter::Grid g = krel::filter::tile_grid(t.x.data(), t.y.data(), all, c.dx);
        ASSERT_LE(g.nx, 401);
        ASSERT_LE(g.ny, 401);

        // The lowest node of every cell, the first listed among equal heights.
        const auto cell = [&](std::int32_t p) {
            const auto col = static_cast<std::int64_t>((t.x[p] - g.xmin) / c.dx) + 1;
            const auto row = static_cast<std::int64_t>((t.y[p] - g.ymin) / c.dx) + 1;
            return (row - 1) * g.nx + col;
        };
        std::map<std::int64_t, std::int32_t> lowest;
        for (const std::int32_t p : all) {
            const auto [it, fresh] = lowest.try_emplace(cell(p), p);
            if (!fresh && t.z[it->second] > t.z[p]) it->second = p;
        }

        const std::vector<std::int32_t> kept = t.sfilt(c.dx);
        ASSERT_FALSE(kept.empty());
        std::map<std::int64_t, std::int32_t> kept_at;
        std::int64_t last = 0;
        for (const std::int32_t p : kept) {
            const std::int64_t k = cell(p);
            ASSERT_GT(k, last) << "node " << p << " out of cell order";
            last = k;
            ASSERT_EQ(lowest[k], p) << "node " << p << " is not the lowest of cell " << k;
            kept_at[k] = p;
        }

        // No kept node is near the kept node of an earlier neighbouring cell.
        const float d2 = krel::filter::near_d2(c.dx);
        for (const auto& [k, p] : kept_at) {
            if (k < g.nx + 2) continue;
            for (const std::int64_t kn : {k - 1, k - g.nx, k - g.nx - 1}) {
                const auto q = kept_at.find(kn);
                if (q == kept_at.end()) continue;
                EXPECT_FALSE(d2 > krel::filter::dist2(t.x.data(), t.y.data(), p, q->second))
                    << "nodes " << p << " and " << q->second;
            }
        }

        EXPECT_EQ(t.sfilt_sparse(c.dx), kept) << "occupied cells differ";
        EXPECT_EQ(t.sfilt_cells(c.dx), kept) << "cell-by-cell differs";
    }
}

}  // namespace
