// upcache leaves out point locations and point errors that cannot change,
// and walks within a node's star on its own copy of the node's list. The
// checking mode does each of them anyway by ctrfind and counts any
// difference: it must count none, on tiles made to be hard for the walk
// (exact cocircularity, points on arcs, near-duplicates the loop rejects) and
// on whole runs over every shared sample and generated terrain, serial and on
// four threads.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "deflate/sdeflate.hpp"
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
    std::vector<std::int32_t> idx(t.x.size() - 1);
    std::iota(idx.begin(), idx.end(), 1);
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
        // The checking mode itself changes nothing.
        const Outcome plain = deflate(c.tile, c.tol, nullptr);
        EXPECT_EQ(checked.kept, plain.kept);
        EXPECT_EQ(checked.listing, plain.listing);
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
        }
    }
    if (data.empty()) GTEST_SKIP() << "../shared/data not found; generated runs only";
}

}  // namespace
