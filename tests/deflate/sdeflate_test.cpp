#include "deflate/sdeflate.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "io/textout.hpp"
#include "support/tile.hpp"

namespace {

using krel::deflate::DeflateOptions;
using krel::deflate::DeflateWork;

using krel::test::Tile;

struct Result {
    std::vector<std::int32_t> kept;   // node numbers
    std::vector<std::string> listing;  // checkpoint lines
    std::vector<std::int32_t> trace;  // selected slots
};

Result deflate(const Tile& t, float tol, DeflateWork& w, krel::tin::KernelState& kernel, bool scan = false) {
    std::vector<std::int32_t> idx = t.all();
    krel::io::StringOut listing, console;
    Result r;
    DeflateOptions opt;
    opt.scan = scan;
    opt.trace = &r.trace;
    const auto kept = krel::deflate::sdeflate(t.x.data(), t.y.data(), t.z.data(), idx, tol, w, kernel, listing,
                                              console, opt);
    r.kept.assign(idx.begin(), idx.begin() + kept);
    std::istringstream in(listing.str());
    for (std::string l; std::getline(in, l);) r.listing.push_back(l);
    return r;
}

Result deflate(const Tile& t, float tol, bool scan = false) {
    DeflateWork w;
    krel::tin::KernelState kernel;
    return deflate(t, tol, w, kernel, scan);
}

// Jittered grid of n points over rolling terrain with a few spikes.
Tile terrain(int n, unsigned seed, float spacing = 0.5F) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0F, 1.0F);
    Tile t;
    const int side = static_cast<int>(std::ceil(std::sqrt(static_cast<float>(n))));
    for (int k = 0; k < n; ++k) {
        const float px = (static_cast<float>(k % side) + u(rng)) * spacing;
        const float py = (static_cast<float>(k / side) + u(rng)) * spacing;
        float pz = 50.0F + 2.0F * std::sin(px * 0.3F) * std::cos(py * 0.2F) + 0.05F * u(rng);
        if (k % 97 == 13) pz += 3.0F;
        t.add(px, py, pz);
    }
    return t;
}

TEST(Sdeflate, SmallTilesAreKeptWhole) {
    for (int n : {1, 50, 99}) {
        SCOPED_TRACE(n);
        const Result r = deflate(terrain(n, 1), 0.03F);
        EXPECT_EQ(static_cast<int>(r.kept.size()), n);
        EXPECT_TRUE(r.listing.empty());
    }
    const Result r = deflate(terrain(100, 1), 0.03F);
    EXPECT_LT(r.kept.size(), 100U);
    EXPECT_FALSE(r.listing.empty());
}

TEST(Sdeflate, FlatTileKeepsOnePoint) {
    Tile t;
    for (int k = 0; k < 400; ++k) t.add(static_cast<float>(k % 20), static_cast<float>(k / 20) * 1.5F, 7.25F);
    const Result r = deflate(t, 0.03F);
    // Every error is 0 or rounding noise of the plane height: one point, and
    // the first checkpoint stops.
    EXPECT_EQ(r.kept.size(), 1U);
    ASSERT_EQ(r.listing.size(), 1U);
    EXPECT_EQ(r.listing[0], "   0.24752   0.00000     0.000");  // 1 / 404 of the slots
}

TEST(Sdeflate, FirstCheckpointBelowToleranceKeepsTheLargestError) {
    Tile t;
    for (int k = 0; k < 100; ++k) t.add(static_cast<float>(k % 10), static_cast<float>(k / 10), 10.0F);
    t.z[37] = 10.02F;  // the largest error against the flat start
    t.z[80] = 10.01F;
    const Result r = deflate(t, 0.03F);
    EXPECT_EQ(r.kept, std::vector<std::int32_t>{37});
    EXPECT_EQ(r.trace.front(), 37 + 4);  // slot of node 37
    EXPECT_EQ(r.listing.size(), 1U);
}

TEST(Sdeflate, RmsEqualToToleranceGoesOn) {
    const Tile t = terrain(400, 3);
    const Result first = deflate(t, 1000.0F);  // stops at the first checkpoint
    ASSERT_EQ(first.listing.size(), 1U);
    const float printed = std::stof(first.listing[0].substr(10, 10));
    // The loop stops exactly when tol > rms: find the smallest stopping
    // tolerance by bisection over the float bit patterns around the printed
    // (rounded) rms; the float just below it is the rms itself.
    auto bits = [](float f) { std::int32_t b; std::memcpy(&b, &f, 4); return b; };
    auto value = [](std::int32_t b) { float f; std::memcpy(&f, &b, 4); return f; };
    std::int32_t lo = bits(printed - 1e-4F), hi = bits(printed + 1e-4F);  // goes on at lo, stops at hi
    ASSERT_EQ(deflate(t, value(hi)).listing.size(), 1U);
    ASSERT_GT(deflate(t, value(lo)).listing.size(), 1U);
    while (hi - lo > 1) {
        const std::int32_t mid = lo + (hi - lo) / 2;
        (deflate(t, value(mid)).listing.size() == 1U ? hi : lo) = mid;
    }
    // At tol = rms the checkpoint does not stop: the next one is reached.
    const Result equal = deflate(t, value(lo));
    EXPECT_GE(equal.listing.size(), 2U);
    EXPECT_EQ(equal.listing[0], first.listing[0]);
}

TEST(Sdeflate, NearDuplicatesAreRejectedAndTheLoopEnds) {
    // Point 1 at the tile's low corner, 99 points within 0.002 of (50, 50),
    // 1 higher: after the cluster's first point and point 1 are in, every
    // remaining candidate is within 0.005 of a vertex and is rejected; then
    // nothing is left to choose but a node, and the loop ends between
    // checkpoints.
    Tile t;
    t.add(0.0F, 0.0F, 0.0F);
    for (int k = 0; k < 99; ++k)
        t.add(50.0F + 0.00002F * static_cast<float>(k % 10), 50.0F + 0.00002F * static_cast<float>(k / 10), 1.0F);
    const Result r = deflate(t, 1e-7F);
    EXPECT_EQ(r.kept.size(), 2U);
    EXPECT_EQ(r.kept.front(), 1);
    // Each rejected slot is selected once; the last choice is a node.
    const std::int32_t last = r.trace.back();
    EXPECT_TRUE(std::find(r.kept.begin(), r.kept.end(), last - 4) != r.kept.end());
    std::vector<std::int32_t> sorted = r.trace;
    sorted.pop_back();
    std::sort(sorted.begin(), sorted.end());
    EXPECT_TRUE(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end()) << "a slot chosen twice";
    EXPECT_EQ(r.trace.size(), 101U);  // 2 inserted, 98 rejected, 1 final choice
}

TEST(Sdeflate, NonFiniteHeightsEndCleanly) {
    Tile t = terrain(300, 11);
    t.z[10] = std::numeric_limits<float>::infinity();
    t.z[200] = -std::numeric_limits<float>::infinity();
    const Result r = deflate(t, 0.03F);
    EXPECT_GE(r.kept.size(), 1U);
    EXPECT_LE(r.kept.size(), 300U);
}

// A tile far from the origin: from |coordinate| 2^21 on, 0.1 is under half
// a float step. The frame corners once rounded back onto the points' box, so
// for points on one line all four lay on that line, the corners did not
// triangulate, and the tile lost every point. A gentle ramp along the line
// needs one node (its far end), as it does near the origin.
TEST(Sdeflate, LineFarFromTheOriginKeepsItsFarEnd) {
    struct Case { float x0, y0; bool along_x; const char* what; };
    const Case cases[] = {
        {1000.0F, 1000.0F, true, "near the origin"},
        {5.0e6F, 5.0e6F, true, "5,000 km out, along x"},
        {1000.0F, 5.0e6F, true, "5,000 km out in y only, along x"},
        {5.0e6F, 1000.0F, false, "5,000 km out in x only, along y"},
        {-3.0e7F, -3.0e7F, false, "30,000 km out, along y"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tile t;
        for (int k = 0; k < 150; ++k) {
            const float d = 2.0F * static_cast<float>(k);  // a step of 2 m is exact out to 2^24
            t.add(c.along_x ? c.x0 + d : c.x0, c.along_x ? c.y0 : c.y0 + d, 100.0F + 0.02F * static_cast<float>(k));
        }
        const Result r = deflate(t, 0.03F);
        EXPECT_EQ(r.kept, std::vector<std::int32_t>{150});
    }
}

// The tree answers exactly as the scan: same choices, same result, same
// listing, on tiles with ties (a grid of equal heights in places), large
// flat parts and random relief, one working set and kernel state reused.
TEST(Sdeflate, TreeSelectionEqualsTheScan) {
    std::vector<Tile> tiles;
    for (unsigned seed : {1U, 2U, 3U}) tiles.push_back(terrain(3000, seed));
    Tile grid;
    for (int k = 0; k < 3600; ++k) {
        const float px = static_cast<float>(k % 60), py = static_cast<float>(k / 60);
        grid.add(px, py, std::floor(px / 10.0F) + (k % 7 == 0 ? 0.5F : 0.0F));
    }
    tiles.push_back(grid);
    DeflateWork w_tree, w_scan;
    krel::tin::KernelState k_tree, k_scan;
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        for (float tol : {0.1F, 0.01F}) {
            SCOPED_TRACE(testing::Message() << "tile " << i << ", tol " << tol);
            const Result a = deflate(tiles[i], tol, w_tree, k_tree, false);
            const Result b = deflate(tiles[i], tol, w_scan, k_scan, true);
            EXPECT_EQ(a.trace, b.trace);
            EXPECT_EQ(a.kept, b.kept);
            EXPECT_EQ(a.listing, b.listing);
        }
    }
}

// A working set that held another tile gives the same result as a fresh one:
// a larger tile before (stale entries past the new one's), or a smaller one
// (the arrays grow in between, and nothing of the old tile may carry over).
TEST(Sdeflate, ReusedWorkingSetGivesTheSameResult) {
    const Tile big = terrain(5000, 21), small = terrain(700, 22), larger = terrain(20000, 23);
    const struct {
        const char* what;
        const Tile& before;
        const Tile& after;
    } cases[] = {{"larger before", big, small}, {"smaller before, then growth", small, larger}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeflateWork w;
        krel::tin::KernelState used, fresh;
        (void)deflate(c.before, 0.02F, w, used);
        fresh.ctrfind_seeds = used.ctrfind_seeds;
        fresh.trfind_seeds = used.trfind_seeds;
        const Result again = deflate(c.after, 0.02F, w, used);
        DeflateWork w2;
        const Result clean = deflate(c.after, 0.02F, w2, fresh);
        EXPECT_EQ(again.kept, clean.kept);
        EXPECT_EQ(again.listing, clean.listing);
    }
}

// A caller stopping on its own rule (a node budget) keeps the first nodes of
// the whole run in insertion order; stepping until done is sdeflate itself.
TEST(Sdeflate, StepsStopOnTheCallersRule) {
    using krel::deflate::Step;
    const Tile t = terrain(2500, 7);
    struct Stepped {
        std::vector<std::int32_t> inserted;  // in insertion order
        std::vector<std::int32_t> kept;      // what keep_nodes leaves, input order
        std::string listing;
    };
    const auto step = [&](std::size_t budget) {
        DeflateWork w;
        krel::tin::KernelState kernel;
        krel::io::StringOut listing, console;
        std::vector<std::int32_t> idx = t.all();
        krel::deflate::Insertion ins;
        Stepped r;
        EXPECT_TRUE(krel::deflate::start_insertion(t.x.data(), t.y.data(), t.z.data(), idx, w, ins, kernel, console));
        for (Step st; r.inserted.size() < budget &&
                      (st = krel::deflate::insert_next(w, ins, 0.01F, kernel, listing)) != Step::done;)
            if (st == Step::inserted) r.inserted.push_back(ins.kmax - 4);
        r.kept.assign(idx.begin(), idx.begin() + krel::deflate::keep_nodes(w, idx));
        r.listing = listing.str();
        return r;
    };
    const Result whole = deflate(t, 0.01F);
    const Stepped all = step(std::size_t{1} << 30);
    EXPECT_EQ(all.kept, whole.kept);
    std::string lines;
    for (const std::string& l : whole.listing) lines += l + "\n";
    EXPECT_EQ(all.listing, lines);
    ASSERT_GT(all.inserted.size(), 40U);
    for (const std::size_t budget : {0, 1, 40}) {
        SCOPED_TRACE(testing::Message() << "budget " << budget);
        const Stepped some = step(budget);
        const std::vector<std::int32_t> first(all.inserted.begin(), all.inserted.begin() + static_cast<std::ptrdiff_t>(budget));
        EXPECT_EQ(some.inserted, first);
        std::vector<std::int32_t> sorted = first;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(some.kept, sorted);
    }
}

}  // namespace

// The checkpoint's figures against the scans in slot order they stand for,
// over lengths up to 13, with NaNs (first, last, everywhere), infinities,
// zeros of both signs and magnitudes far apart, so that a sum taken in
// another order (backwards, say) rounds differently in some rounds.
TEST(Spread, SameAsTheScansInSlotOrder) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float pool[] = {nan, -inf, inf, -0.0F, 0.0F, 1.5F, -1.5F, 2.0F, -3.25F, 1e-40F, 4097.0F, 1e-3F, -0.1F};
    std::mt19937 rng(7);
    for (int n = 0; n <= 13; ++n) {
        for (int round = 0; round < 300; ++round) {
            std::vector<float> dd(static_cast<std::size_t>(n) + 5, 9.0F);  // slots below 5 are not read
            // Mostly finite, so that most sums are numbers whose last bits show the order.
            for (int s = 5; s < n + 5; ++s) {
                const std::size_t at = rng() % 8 == 0 ? rng() % 3 : 3 + rng() % (std::size(pool) - 3);
                dd[s] = pool[at];
            }
            float emax = -1.0F;
            float sum = 0.0F;
            for (int s = 5; s < n + 5; ++s) {
                const float e = std::fabs(dd[s]);
                if (e > emax || std::isnan(emax)) emax = e;
                sum = sum + dd[s] * dd[s];
            }
            const krel::deflate::Spread got = krel::deflate::spread(dd.data(), 5, n + 4);
            SCOPED_TRACE(testing::Message() << n << " slots, round " << round);
            ASSERT_EQ(std::memcmp(&got.emax, &emax, sizeof emax), 0) << got.emax << " vs " << emax;
            ASSERT_EQ(std::memcmp(&got.sum, &sum, sizeof sum), 0) << got.sum << " vs " << sum;
        }
    }
}
