// upcache leaves out point locations and point errors that cannot change,
// and walks within a node's star on its own copy of the node's list; an
// insertion is located by its point's last walk where that cannot change. The
// checking mode does each of them anyway by ctrfind and counts any
// difference: it must count none, on tiles made to be hard for the walk
// (exact cocircularity, points on arcs, near-duplicates the loop rejects) and
// on whole runs over every shared sample and generated terrain, serial and on
// four threads, which give the serial bytes. The serial whole runs also show
// that thinning meets the tolerance with input points alone.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "deflate/sdeflate.hpp"
#include "io/getpoints.hpp"
#include "io/swrite.hpp"
#include "io/textout.hpp"
#include "support/run_krel.hpp"
#include "support/tile.hpp"

namespace {

namespace fs = std::filesystem;
using krel::deflate::SkipCheck;

using krel::test::Tile;

// Rolling ground with a bump every few points, so that insertion goes on.
float ground(float px, float py, int k) {
    return 50.0F + 2.0F * std::sin(px * 0.3F) * std::cos(py * 0.2F) + (k % 13 == 5 ? 0.4F : 0.0F);
}

// An exact grid of spacing h: every square cocircular, rows collinear.
Tile grid(int side, float h) {
    Tile t;
    for (int j = 0; j < side; ++j)
        for (int i = 0; i < side; ++i) t.add(static_cast<float>(i) * h, static_cast<float>(j) * h, ground(i * h, j * h, i + j));
    return t;
}

// The grid plus the midpoints of its edges and diagonals: points on arcs.
Tile grid_with_midpoints(int side) {
    Tile t = grid(side, 1.0F);
    for (int j = 0; j + 1 < side; ++j)
        for (int i = 0; i + 1 < side; ++i) {
            const float fx = static_cast<float>(i);
            const float fy = static_cast<float>(j);
            t.add(fx + 0.5F, fy, ground(fx + 0.5F, fy, i));
            t.add(fx, fy + 0.5F, ground(fx, fy + 0.5F, j));
            t.add(fx + 0.5F, fy + 0.5F, ground(fx + 0.5F, fy + 0.5F, i * j) + 0.3F);
        }
    return t;
}

// Random points, each with a twin closer than the duplicate tolerance and
// higher, so the loop selects twins and rejects them.
Tile near_duplicates(int pairs, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0F, 40.0F);
    Tile t;
    for (int k = 0; k < pairs; ++k) {
        const float px = u(rng);
        const float py = u(rng);
        t.add(px, py, ground(px, py, k));
        t.add(px + 0.002F, py - 0.001F, ground(px, py, k) + 1.5F);
    }
    return t;
}

struct Outcome {
    std::vector<std::int32_t> kept;
    std::string listing;
};

// Sets the checking mode for its lifetime.
struct Checking {
    explicit Checking(SkipCheck* check) { krel::tin::skip_check = check; }
    ~Checking() { krel::tin::skip_check = nullptr; }
    Checking(const Checking&) = delete;
    Checking& operator=(const Checking&) = delete;
};

Outcome deflate(const Tile& t, float tol, SkipCheck* check) {
    const Checking on(check);
    std::vector<std::int32_t> idx = t.all();
    krel::deflate::DeflateWork w;
    krel::tin::KernelState kernel;
    krel::io::StringOut listing, console;
    const auto kept =
        krel::deflate::sdeflate(t.x.data(), t.y.data(), t.z.data(), idx, tol, w, kernel, listing, console);
    return {{idx.begin(), idx.begin() + kept}, listing.str()};
}

TEST(SkipCheck, HardTilesSkipNothingThatChanges) {
    struct Case {
        const char* what;
        Tile tile;
        float tol;
    };
    const Case cases[] = {
        {"cocircular grid", grid(60, 1.0F), 0.001F},
        {"cocircular grid, float steps far out", grid(50, 0.0625F), 0.001F},
        {"points on arcs", grid_with_midpoints(30), 0.001F},
        {"near-duplicates", near_duplicates(1500, 7), 0.001F},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SkipCheck check;
        const Outcome checked = deflate(c.tile, c.tol, &check);
        EXPECT_EQ(check.mismatches.load(), 0);
        EXPECT_GT(check.walks.load(), 0) << "no location was left out";
        EXPECT_GT(check.kk_first.load(), 0) << "no location left out with the new node before the old wedge";
        EXPECT_GT(check.errors.load(), check.walks.load()) << "no point error was left out after a walk";
        EXPECT_GT(check.star_walks.load(), 0) << "no walk was done on the read list";
        EXPECT_GT(check.insertions.load(), 0) << "no insertion was located by its point's last walk";
        EXPECT_GT(check.hull_walks.load(), 0) << "no walk from a frame corner was left out";
        EXPECT_GT(check.moved_last.load(), 0) << "no walk whose node's last neighbour moved was left out";
        EXPECT_GT(check.one_arc.load(), 0) << "no walk over one arc was made on the read list";
        // The checking mode itself changes nothing.
        const Outcome plain = deflate(c.tile, c.tol, nullptr);
        EXPECT_EQ(checked.kept, plain.kept);
        EXPECT_EQ(checked.listing, plain.listing);
    }
}

// A thinned run keeps only input points, and each tile's last checkpoint
// meets the tolerance unless every point became a node (the percentage is then
// points / (points + 4), at least 96.1) or, on the height ramp's terraces of
// exactly equal z, the loop ran out of points right after a checkpoint that
// still showed the error. A tile's percentage only grows: a drop starts the
// next tile.
void expect_thinned(const std::string& file, const krel::test::Outcome& o, double tol) {
    krel::io::ReadSettings rs;
    rs.files = {file};
    krel::io::StringOut console, warnings;
    krel::io::NodeArrays a;
    ASSERT_TRUE(a.allocate(static_cast<std::int32_t>(
        krel::io::getpoints(krel::io::PassMode::explore, rs, nullptr, console, warnings))));
    (void)krel::io::getpoints(krel::io::PassMode::load, rs, &a, console, warnings);
    std::set<std::string> inputs;
    for (std::int32_t p = 1; p <= a.n; ++p) {
        std::string one;
        krel::io::swrite(a.x.get(), a.y.get(), a.z.get(), std::span<const std::int32_t>(&p, 1), a.xorig, a.yorig, 0, one);
        inputs.insert(one.substr(0, one.size() - 1));
    }
    for (const std::string& line : krel::test::split_lines(o.result))
        ASSERT_EQ(inputs.count(line), 1U) << "not an input point: " << line;
    const bool exact_fit_ends = file.ends_with("autzen_height_ramp_crop.xyz");
    const auto listing = krel::test::split_lines(o.listing);
    for (std::size_t i = 0; i < listing.size(); ++i) {
        const double pct = std::stod(listing[i].substr(0, 10));
        const bool tile_ends = i + 1 == listing.size() || std::stod(listing[i + 1].substr(0, 10)) <= pct;
        if (tile_ends && pct < 96.0 && !exact_fit_ends) {
            EXPECT_LT(std::stod(listing[i].substr(10, 10)), tol + 5e-6) << listing[i];
        }
    }
}

TEST(ThreadedSkipCheck, WholeRunsSkipNothingThatChanges) {
    krel::test::TempDir dir;
    std::vector<std::vector<std::string>> runs;
    for (const std::uint64_t seed : {1U, 2U}) {
        const std::string file = krel::test::write_terrain(dir.path() / ("g" + std::to_string(seed) + ".xyz"), 40000, seed);
        runs.push_back({file});
        runs.push_back({file, "-r", "0.05", "-t", "0.005"});  // many small tiles, deep insertion
    }
    const fs::path data = krel::test::shared_data();
    if (!data.empty()) {
        for (const auto& entry : fs::directory_iterator(data))
            if (entry.path().extension() == ".xyz") runs.push_back({entry.path().string()});
    }
    for (const auto& args : runs) {
        krel::test::Outcome serial;
        for (const char* j : {"1", "4"}) {
            SCOPED_TRACE(testing::Message() << args.front() << " " << (args.size() > 1 ? args[2] : "") << " -j " << j);
            std::vector<std::string> a = args;
            a.insert(a.end(), {"-j", j});
            SkipCheck check;
            const Checking on(&check);
            const auto o = krel::test::run_in_process(dir.path(), a);
            EXPECT_EQ(o.status, 0) << o.err;
            EXPECT_EQ(check.mismatches.load(), 0);
            EXPECT_GT(check.walks.load(), 0);
            EXPECT_GT(check.kk_first.load(), 0);
            EXPECT_GT(check.star_walks.load(), 0);
            EXPECT_GT(check.insertions.load(), 0);
            if (*j == '1') {
                expect_thinned(args.front(), o, args.size() > 1 ? 0.005 : 0.03);
                serial = o;
            } else {
                krel::test::expect_same(serial, o);
            }
        }
    }
    if (data.empty()) GTEST_SKIP() << "../shared/data not found; generated runs only";
}

}  // namespace
