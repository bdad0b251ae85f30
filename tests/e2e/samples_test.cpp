// The shared point clouds through the built binary: every point comes back in
// the store-as-loaded mode, and default runs thin to the tolerance.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "io/getpoints.hpp"
#include "io/swrite.hpp"
#include "support/run_krel.hpp"

namespace {

namespace fs = std::filesystem;
using krel::test::read_file;
using krel::test::split_lines;

const char* const kSamples[] = {
    "autzen_trim.xyz",  "autzen_trim_ground.xyz", "4_6_crop.xyz",          "4_6_crop_ground.xyz",
    "sample_c.xyz",     "warsaw_small.xyz",       "warsaw_small_comma.xyz", "bayhills_14-2625-6369.xyz",
    "autzen_height_ramp_crop.xyz", "synthetic_seed1_100k.xyz",
};

// The values of a sample line (plain or "1,x,y,z"), printed the way the
// store-as-loaded layout must print them: x and y to 2 decimals, z as float
// to 3.
std::string as_loaded(const std::string& line) {
    std::string l = line;
    for (char& c : l)
        if (c == ',') c = ' ';
    std::istringstream in(l);
    std::vector<double> v;
    for (double d; in >> d;) v.push_back(d);
    const std::size_t o = v.size() == 4 ? 1 : 0;
    char buf[128];
    std::snprintf(buf, sizeof buf, "%11.2f%11.2f%9.3f", v[o], v[o + 1], static_cast<double>(static_cast<float>(v[o + 2])));
    return buf;
}

TEST(Samples, StoreAsLoadedGivesBackEveryPoint) {
    const fs::path data = krel::test::shared_data();
    if (data.empty()) GTEST_SKIP() << "../shared/data not found";
    for (const char* name : kSamples) {
        SCOPED_TRACE(name);
        krel::test::TempDir dir;
        const auto o = krel::test::run_krel(dir.path(), {(data / name).string(), "-r", "-1"});
        ASSERT_EQ(o.status, 0) << o.err;
        const auto in = split_lines(read_file(data / name));
        const auto out = split_lines(read_file(dir.path() / "out.xyz"));
        ASSERT_EQ(out.size(), in.size());
        for (std::size_t i = 0; i < in.size(); ++i) ASSERT_EQ(out[i], as_loaded(in[i])) << "line " << i + 1;
    }
}

// The points of file as the run stores them.
krel::io::NodeArrays load(const fs::path& file) {
    krel::io::NodeArrays nodes;
    krel::io::ReadSettings rs;
    rs.files = {file.string()};
    krel::io::StringOut console, warnings;
    const auto count = krel::io::getpoints(krel::io::PassMode::explore, rs, nullptr, console, warnings);
    EXPECT_TRUE(nodes.allocate(static_cast<std::int32_t>(count)));
    krel::io::getpoints(krel::io::PassMode::load, rs, &nodes, console, warnings);
    return nodes;
}

// Default runs: each sample is thinned far below what the filter alone keeps,
// every kept node is one of the input points, and every thinned tile's last
// checkpoint met the tolerance unless every point became a node.
TEST(Samples, DefaultRunsThinToTheTolerance) {
    const fs::path data = krel::test::shared_data();
    if (data.empty()) GTEST_SKIP() << "../shared/data not found";
    for (const char* name : kSamples) {
        SCOPED_TRACE(name);
        const krel::io::NodeArrays l = load(data / name);
        std::set<std::string> inputs;
        for (std::int32_t p = 1; p <= l.n; ++p) {
            std::string one;
            krel::io::swrite(l.x.get(), l.y.get(), l.z.get(), std::span<const std::int32_t>(&p, 1), l.xorig, l.yorig, 0,
                             one);
            inputs.insert(one.substr(0, one.size() - 1));
        }
        krel::test::TempDir dir;
        const auto filtered = krel::test::run_krel(dir.path(), {(data / name).string(), "-t", "0", "-p", "f"});
        const auto thinned = krel::test::run_krel(dir.path(), {(data / name).string()});
        ASSERT_EQ(filtered.status, 0) << filtered.err;
        ASSERT_EQ(thinned.status, 0) << thinned.err;
        const auto kept = split_lines(read_file(dir.path() / "out.xyz"));
        const auto filter_kept = split_lines(read_file(dir.path() / "f.xyz"));
        EXPECT_LT(kept.size(), filter_kept.size());
        for (const std::string& line : kept) ASSERT_EQ(inputs.count(line), 1U) << "not an input point: " << line;

        // Checkpoint lines, tile after tile: a tile's percentage only grows,
        // so a drop starts the next tile. pct = (nodes - 4) / (points + 4).
        const auto listing = split_lines(read_file(dir.path() / "out.err"));
        // The height ramp's terraces of exactly equal z fit exactly before the
        // next checkpoint is due: the loop ends with nothing left to insert
        // after a checkpoint that still showed the error.
        const bool exact_fit_ends = std::string(name) == "autzen_height_ramp_crop.xyz";
        auto last_of_tile = [&](const std::string& line) {
            const double pct = std::stod(line.substr(0, 10));
            const double rms = std::stod(line.substr(10, 10));
            // Every point a node: pct = points / (points + 4), at least 96.1 %.
            if (pct < 96.0 && !exact_fit_ends) {
                EXPECT_LT(rms, 0.03 + 5e-6) << line;
            }
        };
        for (std::size_t i = 0; i < listing.size(); ++i) {
            ASSERT_EQ(listing[i].size(), 30U);
            const bool tile_ends = i + 1 == listing.size() ||
                                   std::stod(listing[i + 1].substr(0, 10)) <= std::stod(listing[i].substr(0, 10));
            if (tile_ends) last_of_tile(listing[i]);
        }
    }
}

}  // namespace
