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
#include <string>
#include <vector>

#include "filter/grid.hpp"
#include "support/filter_tile.hpp"

namespace {

using krel::filter::FilterWork;
using krel::test::FilterTile;
using Nodes = std::vector<std::int32_t>;

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

TEST(Sfilt, NearDuplicateOfEarlierNeighbourIsDropped) {
    // 2 x 2 raster at dx 0.5: A in cell 1, B in cell 3, C in cell 4, 0.02 from B.
    FilterTile t;
    t.add(0.0F, 0.0F, 5.0F);
    t.add(0.49F, 0.6F, 5.0F);
    t.add(0.51F, 0.6F, 5.0F);
    expect_kept(t, 0.5F, {1, 2});
}

TEST(Sfilt, NearDuplicateThreshold) {
    // A pair across the column boundary of row 2 (C against its left neighbour
    // B), with two anchors fixing a 2 x 2 raster. The threshold is 0.05 dx, but
    // never below 0.005.
    struct Case {
        float dx, gap;  // raster width, x distance of the pair
        bool dropped;
        const char* what;
    };
    const Case cases[] = {
        {0.5F, 0.02F, true, "0.02 below 0.025"},
        {0.5F, 0.03F, false, "0.03 above 0.025"},
        {0.05F, 0.004F, true, "t = 0.0025 raised to 0.005"},
        {0.05F, 0.006F, false, "beyond the raised threshold"},
        {2.0F, 0.09F, true, "t = 0.1 scales with dx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FilterTile t;
        const float mid = c.dx;                             // the column boundary
        t.add(0.0F, 0.0F, 5.0F);                            // cell 1
        t.add(mid + 0.4F * c.dx, 0.0F, 5.0F);               // cell 2
        t.add(mid - c.gap / 2, 1.5F * c.dx, 5.0F);          // B, cell 3
        t.add(mid - c.gap / 2 + c.gap, 1.5F * c.dx, 5.0F);  // C, cell 4
        expect_kept(t, c.dx, c.dropped ? Nodes{1, 2, 3} : Nodes{1, 2, 3, 4});
    }
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

TEST(Sfilt, EmptiedCellIsNoLongerANeighbour) {
    // Row 2 at dx 0.001 (fixed threshold 0.005, five cells): B is within it of A
    // and goes; C is within it of B and of A, but its left neighbour is B's cell,
    // now empty, and A is not a neighbour of C.
    FilterTile t;
    t.add(0.0F, 0.0F, 5.0F);         // 1: cell 1, fixes the origin
    t.add(0.0035F, 0.0F, 5.0F);      // 2: cell 4 of row 1, fixes nx = 4
    t.add(0.00099F, 0.0015F, 5.0F);  // 3: A, column 1 of row 2 (cell 5, never checked)
    t.add(0.00101F, 0.0015F, 5.0F);  // 4: B, column 2 of row 2, against A
    t.add(0.00201F, 0.0015F, 5.0F);  // 5: C, column 3 of row 2, against B's empty cell
    expect_kept(t, 0.001F, {1, 2, 3, 5});
}

TEST(Sfilt, FirstColumnWrapsToRowsBelow) {
    // nx = 2, ny = 3. For cell 5 (column 1, row 3), k - 1 is cell 4 (column 2,
    // row 2) and k - nx - 1 is cell 2 (column 2, row 1): not neighbours on the
    // ground, but the distance alone decides. The anchors sit where they are
    // neither near nor raised.
    struct Case {
        float dx;
        std::vector<std::array<float, 2>> extra;  // nodes after the anchors
        Nodes want;
        const char* what;
    };
    const Case cases[] = {
        // P in cell 5 at (0.999, 2.001), Q in cell 4 at (1.001, 1.999).
        {1.0F, {{1.001F, 1.999F}, {0.999F, 2.001F}}, {1, 3, 2}, "k - 1 wraps"},
        // dx 0.001, fixed threshold 0.005: P in cell 5 lies within it of Q in
        // cell 2, two rows down.
        {0.001F, {{0.0015F, 0.0005F}, {0.0005F, 0.0025F}}, {1, 3, 2}, "k - nx - 1 wraps"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FilterTile t;
        t.add(0.0F, 0.0F, 5.0F);                // 1: cell 1, origin
        t.add(1.5F * c.dx, 2.5F * c.dx, 5.0F);  // 2: cell 6, top right
        for (const auto& p : c.extra) t.add(p[0], p[1], 5.0F);
        expect_kept(t, c.dx, c.want);
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

TEST(Sfilt, LowestNodeOfACell) {
    // Nodes 1 and 2 anchor a 2 x 1 raster; the others share cell 1.
    struct Case {
        std::vector<float> heights;  // of the nodes in cell 1, in list order
        Nodes want;
        const char* what;
    };
    const Case cases[] = {
        {{5.0F, 4.0F}, {3, 2}, "the lower one, listed second"},
        {{4.0F, 5.0F}, {1, 2}, "the lower one, listed first"},
        {{5.0F, 5.0F}, {1, 2}, "a tie: the first listed"},
        {{5.0F, 4.0F, 4.0F}, {3, 2}, "a tie after a higher one: the first of the tie"},
        {{6.0F, 5.0F, 4.0F, 5.0F}, {4, 2}, "the lowest of four"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FilterTile t;
        t.add(0.1F, 0.1F, c.heights[0]);
        t.add(0.75F, 0.2F, 5.0F);  // cell 2
        for (std::size_t m = 1; m < c.heights.size(); ++m)
            t.add(0.1F + 0.1F * static_cast<float>(m), 0.2F, c.heights[m]);
        // Within a single row the sweep checks nothing, so only the cell rule acts.
        expect_kept(t, 0.5F, c.want);
    }
}

TEST(Sfilt, SingleNodeIsKept) {
    FilterTile t;
    t.add(12.5F, -3.0F, 7.0F);
    expect_kept(t, 0.5F, {1});
}

TEST(Sfilt, SingleRowHasNoSweepAndNoOpening) {
    // ny = 1: a spike and a near-duplicate across a cell boundary both stay; only
    // the higher of two nodes in one cell goes.
    FilterTile t;
    t.add(0.0F, 0.0F, 10.0F);   // 1: cell 1
    t.add(0.6F, 0.1F, 50.0F);   // 2: cell 2, higher than node 3
    t.add(0.99F, 0.1F, 10.0F);  // 3: cell 2, lower than the spike
    t.add(1.01F, 0.1F, 10.0F);  // 4: cell 3, 0.02 from node 3
    t.add(1.2F, 0.2F, 10.5F);   // 5: cell 3, higher than node 4
    t.add(2.2F, 0.3F, 30.0F);   // 6: cell 5, alone and high
    expect_kept(t, 0.5F, {1, 3, 4, 6});
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

TEST(Sfilt, RasterBeyondTheInitialCellsGrows) {
    const FilterTile t = far_block(600.0F);  // 600 x 600 cells, so sparse that sfilt goes sparse
    FilterWork work;
    Nodes idx = t.all();
    const krel::filter::Grid grid = krel::filter::tile_grid(t.x.data(), t.y.data(), idx, 1.0F);
    idx.resize(static_cast<std::size_t>(krel::filter::sfilt_cells(t.x.data(), t.y.data(), t.z.data(), idx, grid, work)));
    EXPECT_EQ(idx, kFarBlockKept);
    EXPECT_GE(work.cells(), 360000U);
    EXPECT_EQ(t.sfilt(1.0F), kFarBlockKept);
    EXPECT_EQ(t.sfilt_sparse(1.0F), kFarBlockKept);
}

TEST(Sfilt, HugeRasterUsesOccupiedCells) {
    // 10^6 x 10^6 cells: far beyond anything held cell by cell.
    const FilterTile t = far_block(1.0E6F);
    FilterWork work;
    EXPECT_EQ(t.sfilt(1.0F, work, t.all()), kFarBlockKept);
    EXPECT_EQ(work.cells(), 0U);
}

TEST(Sfilt, ExtremeInputsStayDefined) {
    const float inf = std::numeric_limits<float>::infinity();
    using Node = std::array<float, 3>;
    const Node a{0.0F, 0.0F, 1.0F}, b{1.0F, 1.0F, 2.0F}, c3{2.0F, 3.0F, 1.0F};
    struct Case {
        std::vector<Node> nodes;
        float dx;
        Nodes want;
        const char* what;
    };
    const Case cases[] = {
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
