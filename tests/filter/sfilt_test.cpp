#include "filter/sfilt.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <set>
#include <vector>

#include "filter/grid.hpp"
#include "filter/sparse.hpp"
#include "support/tile.hpp"

namespace {

using krel::filter::FilterWork;
using Nodes = std::vector<std::int32_t>;

// A tile filtered through each path: the kept nodes, in the order given.
struct FilterTile : krel::test::Tile {
    Nodes sfilt(float dx, FilterWork& work, Nodes idx) const {
        idx.resize(static_cast<std::size_t>(krel::filter::sfilt(x.data(), y.data(), z.data(), idx, dx, work)));
        return idx;
    }
    Nodes sfilt(float dx) const {
        FilterWork work;
        return sfilt(dx, work, all());
    }
    // The occupied cells alone, whatever the raster size.
    Nodes sfilt_sparse(float dx) const {
        Nodes idx = all();
        krel::filter::SparseWork work;
        const krel::filter::Grid grid = krel::filter::tile_grid(x.data(), y.data(), idx, dx);
        idx.resize(static_cast<std::size_t>(krel::filter::sfilt_sparse(x.data(), y.data(), z.data(), idx, grid, work)));
        return idx;
    }
    // Cell by cell, however sparse the raster.
    Nodes sfilt_cells(float dx, FilterWork& work) const {
        Nodes idx = all();
        const krel::filter::Grid grid = krel::filter::tile_grid(x.data(), y.data(), idx, dx);
        idx.resize(static_cast<std::size_t>(krel::filter::sfilt_cells(x.data(), y.data(), z.data(), idx, grid, work)));
        return idx;
    }
    Nodes sfilt_cells(float dx) const {
        FilterWork work;
        return sfilt_cells(dx, work);
    }
};

// Every path must keep exactly `want`, in that order.
void expect_kept(const FilterTile& tile, float dx, const Nodes& want) {
    EXPECT_EQ(tile.sfilt(dx), want) << "as sfilt picks";
    EXPECT_EQ(tile.sfilt_cells(dx), want) << "cell-by-cell";
    EXPECT_EQ(tile.sfilt_sparse(dx), want) << "occupied cells";
}

// n x n nodes at the cell centres of width 1, listed row by row from the bottom,
// so node (j - 1) * n + i sits in cell (i, j) of the same number.
FilterTile square(int n, const std::function<float(int, int)>& height) {
    FilterTile t;
    for (int j = 1; j <= n; ++j)
        for (int i = 1; i <= n; ++i)
            t.add(static_cast<float>(i) - 0.5F, static_cast<float>(j) - 0.5F, height(i, j));
    return t;
}

// Every node of an n x n square except those in `dropped`, in cell order.
Nodes all_but(int n, const std::set<int>& dropped) {
    Nodes want;
    for (int k = 1; k <= n * n; ++k)
        if (dropped.count(k) == 0) want.push_back(k);
    return want;
}

TEST(Sfilt, ThresholdRule) {
    struct Case {
        float dx, d2;
        const char* what;
    };
    const float inf = std::numeric_limits<float>::infinity();
    const float t01 = 0.05F * 0.1F;  // 0.005000000353, just at or above 0.005
    const Case cases[] = {
        {0.5F, 0.025F * 0.025F, "default width"},
        {0.05F, 2.5E-5F, "below 0.005: fixed"},
        {0.1F, t01 < 0.005F ? 2.5E-5F : t01 * t01, "at the boundary"},
        {std::nanf(""), 2.5E-5F, "NaN: fixed"},
        {inf, inf, "infinite width: everything is near"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(krel::filter::near_d2(c.dx), c.d2);
    }
}

TEST(Sfilt, RaisedCentreOfABlock) {
    struct Case {
        float around, centre;
        std::set<int> dropped;
        const char* what;
    };
    const std::set<int> centre = {5};
    const std::set<int> none;
    const Case cases[] = {
        {10.0F, 10.5F, centre, "opening is 10 at the centre"},
        {10.0F, 10.0F, none, "flat block"},
        // Every window of the block holds the pit, so the opening is 9 throughout.
        {10.0F, 9.0F, {1, 2, 3, 4, 6, 7, 8, 9}, "a pit pulls the block down"},
        {0.02F, 0.04F, none, "exactly 0.02 above stays"},
        {0.02F, std::nextafter(0.04F, 1.0F), centre, "just above 0.02 goes"},
        {0.0F, 0.5F, none, "zero heights do not count in the window"},
        {-10.0F, 0.5F, none, "negative heights do not count in the window"},
        {-10.0F, -9.5F, none, "a negative node is never dropped"},
        {-10.0F, 0.0F, none, "a zero node is never dropped"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const FilterTile t =
            square(3, [&](int i, int j) { return i == 2 && j == 2 ? c.centre : c.around; });
        expect_kept(t, 1.0F, all_but(3, c.dropped));
    }
}

TEST(Sfilt, FeaturesNarrowerThanThreeCellsGo) {
    // 9 x 9 nodes at 10.0 with a feature at 11.0.
    struct Case {
        std::function<bool(int, int)> raised;
        bool dropped;
        const char* what;
    };
    const auto band = [](int a, int lo, int hi) { return a >= lo && a <= hi; };
    const Case cases[] = {
        {[](int i, int) { return i == 5; }, true, "ridge one column wide"},
        {[](int, int j) { return j == 5; }, true, "ridge one row wide"},
        {[&](int i, int) { return band(i, 5, 6); }, true, "ridge two columns wide"},
        {[&](int, int j) { return band(j, 4, 5); }, true, "ridge two rows wide"},
        {[](int i, int j) { return i == j; }, true, "diagonal ridge"},
        {[&](int i, int j) { return band(i, 4, 5) && band(j, 4, 6); }, true, "plateau 2 x 3"},
        {[&](int i, int j) { return band(i, 4, 6) && band(j, 4, 6); }, false, "plateau 3 x 3"},
        {[&](int i, int j) { return band(i, 1, 3) && band(j, 7, 9); }, false,
         "plateau 3 x 3 in a corner"},
        {[&](int i, int) { return band(i, 1, 3); }, false, "terrace three columns wide"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const FilterTile t =
            square(9, [&](int i, int j) { return c.raised(i, j) ? 11.0F : 10.0F; });
        std::set<int> dropped;
        if (c.dropped)
            for (int j = 1; j <= 9; ++j)
                for (int i = 1; i <= 9; ++i)
                    if (c.raised(i, j)) dropped.insert((j - 1) * 9 + i);
        expect_kept(t, 1.0F, all_but(9, dropped));
    }
}

// A raised-centre block in the far corner of a raster of side cells, and a
// node at the origin: 9 nodes stay, the centre goes.
FilterTile far_block(float side) {
    FilterTile t;
    t.add(0.5F, 0.5F, 10.0F);
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i)
            t.add(side - 2.5F + static_cast<float>(i), side - 2.5F + static_cast<float>(j),
                  i == 1 && j == 1 ? 10.5F : 10.0F);
    return t;
}
const Nodes kFarBlockKept = {1, 2, 3, 4, 5, 7, 8, 9, 10};

// 600 x 600 cells are held cell by cell; 10^6 x 10^6 only through the
// occupied cells, with no raster at all.
TEST(Sfilt, FarBlocksGrowTheRasterOrGoSparse) {
    const FilterTile t = far_block(600.0F);
    FilterWork work;
    EXPECT_EQ(t.sfilt_cells(1.0F, work), kFarBlockKept);
    EXPECT_GE(work.cells(), 360000U);
    expect_kept(t, 1.0F, kFarBlockKept);
    const FilterTile huge = far_block(1.0E6F);
    FilterWork huge_work;
    EXPECT_EQ(huge.sfilt(1.0F, huge_work, huge.all()), kFarBlockKept);
    EXPECT_EQ(huge_work.cells(), 0U);
}

// Hand-placed nodes, each row with the nodes the filter must keep, in order.
TEST(Sfilt, HandPlacedLayouts) {
    const float inf = std::numeric_limits<float>::infinity();
    using Node = std::array<float, 3>;
    const Node a{0.0F, 0.0F, 1.0F}, b{1.0F, 1.0F, 2.0F}, c3{2.0F, 3.0F, 1.0F};
    struct Case {
        std::vector<Node> nodes;
        float dx;
        Nodes want;
        const char* what;
    };
    // A pair B, C across the column boundary of row 2, with two anchors
    // fixing a 2 x 2 raster: C goes when within 0.05 dx of B, never less
    // than 0.005.
    const auto pair = [](float dx, float gap) {
        return std::vector<Node>{{0.0F, 0.0F, 5.0F}, {1.4F * dx, 0.0F, 5.0F},
                                 {dx - gap / 2, 1.5F * dx, 5.0F}, {dx - gap / 2 + gap, 1.5F * dx, 5.0F}};
    };
    // Nodes 1 and 2 anchor a 2 x 1 raster, the others share cell 1 with node 1.
    const auto cell = [](std::vector<float> z) {
        std::vector<Node> n{{0.1F, 0.1F, z[0]}, {0.75F, 0.2F, 5.0F}};
        for (std::size_t m = 1; m < z.size(); ++m) n.push_back({0.1F + 0.1F * static_cast<float>(m), 0.2F, z[m]});
        return n;
    };
    const Case cases[] = {
        {pair(0.5F, 0.02F), 0.5F, {1, 2, 3}, "0.02 below 0.025"},
        {pair(0.5F, 0.03F), 0.5F, {1, 2, 3, 4}, "0.03 above 0.025"},
        {pair(0.05F, 0.004F), 0.05F, {1, 2, 3}, "t = 0.0025 raised to 0.005"},
        {pair(0.05F, 0.006F), 0.05F, {1, 2, 3, 4}, "beyond the raised threshold"},
        {pair(2.0F, 0.09F), 2.0F, {1, 2, 3}, "t = 0.1 scales with dx"},
        // Within a single row the sweep checks nothing: only the cell rule acts.
        {cell({5.0F, 4.0F}), 0.5F, {3, 2}, "the lower one, listed second"},
        {cell({4.0F, 5.0F}), 0.5F, {1, 2}, "the lower one, listed first"},
        {cell({5.0F, 5.0F}), 0.5F, {1, 2}, "a tie: the first listed"},
        {cell({5.0F, 4.0F, 4.0F}), 0.5F, {3, 2}, "a tie after a higher one: the first of the tie"},
        {cell({6.0F, 5.0F, 4.0F, 5.0F}), 0.5F, {4, 2}, "the lowest of four"},
        // 2 x 2 raster: A in cell 1, B in cell 3, C in cell 4, 0.02 from B.
        {{{0.0F, 0.0F, 5.0F}, {0.49F, 0.6F, 5.0F}, {0.51F, 0.6F, 5.0F}}, 0.5F, {1, 2},
         "near-duplicate of the earlier neighbour goes"},
        // Row 2 at dx 0.001 (threshold 0.005, nx = 4): B is near A and goes;
        // C is near both, but its left neighbour is B's cell, now empty, and
        // A's cell is no neighbour of C's.
        {{{0.0F, 0.0F, 5.0F}, {0.0035F, 0.0F, 5.0F}, {0.00099F, 0.0015F, 5.0F}, {0.00101F, 0.0015F, 5.0F},
          {0.00201F, 0.0015F, 5.0F}},
         0.001F, {1, 2, 3, 5}, "an emptied cell is no longer a neighbour"},
        {{{12.5F, -3.0F, 7.0F}}, 0.5F, {1}, "a single node"},
        // nx = 2, ny = 3, anchors in cells 1 and 6. For cell 5 (column 1, row
        // 3), k - 1 is cell 4 and k - nx - 1 cell 2: no neighbours on the
        // ground, but the distance alone decides.
        {{{0.0F, 0.0F, 5.0F}, {1.5F, 2.5F, 5.0F}, {1.001F, 1.999F, 5.0F}, {0.999F, 2.001F, 5.0F}}, 1.0F, {1, 3, 2},
         "k - 1 wraps to the row below"},
        {{{0.0F, 0.0F, 5.0F}, {0.0015F, 0.0025F, 5.0F}, {0.0015F, 0.0005F, 5.0F}, {0.0005F, 0.0025F, 5.0F}}, 0.001F,
         {1, 3, 2}, "k - nx - 1 wraps two rows down"},
        // ny = 1: a spike and a near-duplicate across a cell boundary stay;
        // only the higher of two nodes in one cell goes.
        {{{0.0F, 0.0F, 10.0F}, {0.6F, 0.1F, 50.0F}, {0.99F, 0.1F, 10.0F}, {1.01F, 0.1F, 10.0F}, {1.2F, 0.2F, 10.5F},
          {2.2F, 0.3F, 30.0F}},
         0.5F, {1, 3, 4, 6}, "a single row has no sweep and no opening"},
        // The infinite offset lands in the last column; the two there share it.
        {{a, {inf, 0.0F, 2.0F}, {inf, 0.0F, 1.5F}}, 0.5F, {1, 3}, "x at infinity"},
        {{{-inf, 0.0F, 3.0F}, {-inf, 0.0F, 1.0F}, b}, 0.5F, {2, 3}, "xmin at -infinity"},
        {{{inf, inf, 3.0F}, {inf, inf, 1.0F}}, 0.5F, {2}, "all at the same infinity"},
        // 10^8 cells per unit: a raster of 10^17 cells, filtered on its occupied ones.
        {{a, b, c3}, 1.0E-8F, {1, 2, 3}, "tiny width"},
        // Every offset overflows to infinity and saturates: b and c3 share the
        // last cell.
        {{a, b, c3}, 1.0E-45F, {1, 3}, "denormal width"},
        {{a, b}, 1.0E38F, {1}, "huge width: one cell"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FilterTile t;
        for (const auto& p : c.nodes) t.add(p[0], p[1], p[2]);
        expect_kept(t, c.dx, c.want);
    }
}

// Random tiles with clusters (near-duplicates, shared cells), exact ties,
// heights around 0 and spikes.
FilterTile random_tile(unsigned seed, int n, float extent) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> pos(0.0F, extent);
    std::uniform_real_distribution<float> jitter(-0.01F, 0.01F);
    std::uniform_real_distribution<float> h(-0.5F, 3.0F);
    FilterTile t;
    for (int m = 0; m < n; ++m) {
        if (m > 0 && gen() % 4 == 0) {  // close to an earlier node
            const auto q = static_cast<std::size_t>(gen() % static_cast<unsigned>(m)) + 1;
            t.add(t.x[q] + jitter(gen), t.y[q] + jitter(gen), gen() % 2 == 0 ? t.z[q] : h(gen));
        } else {
            t.add(pos(gen), pos(gen), gen() % 20 == 0 ? 8.0F : h(gen));
        }
    }
    return t;
}

TEST(Sfilt, OccupiedCellsMatchCellByCell) {
    struct Case {
        float dx, extent;
        int n;
    };
    const Case cases[] = {
        {0.5F, 10.0F, 600}, {0.05F, 2.0F, 800}, {1.0F, 5.0F, 200}, {0.2F, 40.0F, 2000},
        {0.5F, 200.0F, 1200},  // one node in 130 cells: sfilt goes sparse
        {0.5F, 200.0F, 3000},  // one node in 53 cells: cell by cell
    };
    for (const Case& c : cases) {
        for (unsigned seed : {1U, 2U, 3U}) {
            SCOPED_TRACE(testing::Message() << "dx " << c.dx << ", seed " << seed);
            const FilterTile t = random_tile(seed, c.n, c.extent);
            const Nodes dense = t.sfilt_cells(c.dx);
            EXPECT_EQ(t.sfilt_sparse(c.dx), dense);
            EXPECT_EQ(t.sfilt(c.dx), dense);
            EXPECT_LT(dense.size(), static_cast<std::size_t>(c.n));
        }
    }
}

TEST(Sfilt, ReusedWorkGivesFreshResults) {
    // A large tile, then smaller and differently shaped ones through the same
    // rasters, then a subset listed out of order.
    const FilterTile big = random_tile(7, 20000, 180.0F);
    const FilterTile small = random_tile(8, 300, 6.0F);
    const FilterTile block = far_block(5.0F);
    const FilterTile wide = far_block(450.0F);
    FilterWork shared;
    Nodes subset = big.all();
    subset.resize(5000);
    std::reverse(subset.begin(), subset.end());
    const struct {
        const FilterTile* tile;
        Nodes idx;
    } runs[] = {{&big, big.all()},   {&small, small.all()}, {&block, block.all()},
                {&wide, wide.all()}, {&big, subset},        {&small, small.all()}};
    int r = 0;
    for (const auto& run : runs) {
        SCOPED_TRACE(testing::Message() << "run " << ++r);
        FilterWork fresh;
        EXPECT_EQ(run.tile->sfilt(0.5F, shared, run.idx), run.tile->sfilt(0.5F, fresh, run.idx));
    }
}

}  // namespace
