// The shared point clouds through the built binary: every point comes back in
// the store-as-loaded mode. (Their default runs are checked with the skip
// check's whole runs.)

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

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

}  // namespace
