// The node arrays thinned when memory is short: through the allocation hook
// (exact output), and for real under an address-space limit.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "io/fortran.hpp"
#include "run/run.hpp"
#include "support/run_krel.hpp"
#include "support/sanitized.hpp"

namespace {

namespace fs = std::filesystem;

struct Limit {
    std::int32_t max_capacity;
    std::vector<std::int32_t> asked;
};

bool limited(krel::io::NodeArrays& nodes, std::int32_t capacity, void* context) {
    auto& limit = *static_cast<Limit*>(context);
    limit.asked.push_back(capacity);
    return capacity <= limit.max_capacity && nodes.allocate(capacity);
}

struct Result {
    krel::Exit status;
    std::string out, err, xyz;
    std::vector<std::int32_t> asked;
};

Result run_limited(const fs::path& dir, const std::string& points, std::int32_t max_capacity) {
    krel::test::write_file(dir / "p.xyz", points);
    const std::string file = (dir / "p.xyz").string();
    const std::string prefix = (dir / "out").string();
    const char* argv[] = {"krel", file.c_str(), "-r", "-1", "-p", prefix.c_str()};
    Limit limit{max_capacity, {}};
    std::ostringstream out, err;
    std::istringstream in;
    const krel::Exit status = krel::run(6, argv, out, err, in, {limited, &limit});
    return {status, out.str(), err.str(), krel::test::read_file(dir / "out.xyz"), limit.asked};
}

TEST(Thinning, HalfTheMemoryKeepsEverySecondRecord) {
    krel::test::TempDir dir;
    std::string points;
    for (int k = 1; k <= 9; ++k) points += std::to_string(k) + " 0 " + std::to_string(k) + "\n";
    const Result r = run_limited(dir.path(), points, 4);
    EXPECT_EQ(r.status, krel::Exit::ok);
    EXPECT_EQ(r.asked, (std::vector<std::int32_t>{9, 4}));
    const std::string file = (dir.path() / "p.xyz").string();
    EXPECT_EQ(r.out, "\n Program KREL v3.12\n >raster [m]    = -1.00\n >tolerance [m] =  0.03\n"
                     " ->exploring " + file + "\n\n >Total nodes:           9\n"
                     " *** Trouble allocating data storage***           1\n"
                     " >reduce data by factor 2\n"
                     " ->loading   " + file + "\n\n"
                     " >nodes stored on: " + krel::io::format_a((dir.path() / "out.xyz").string(), 32) + "\n");
    // The line counter is 2 at the first record: records 1, 3, 5, 7, 9 are read
    // at even counts. Capacity 4 takes the first four; the fifth overwrites
    // the last slot.
    EXPECT_EQ(r.xyz,
              "       1.00       0.00    1.000\n"
              "       3.00       0.00    3.000\n"
              "       5.00       0.00    5.000\n"
              "       9.00       0.00    9.000\n");
}

TEST(Thinning, CapacityZeroStoresNothing) {
    krel::test::TempDir dir;
    const Result r = run_limited(dir.path(), "1 0 1\n2 0 2\n", 0);
    EXPECT_EQ(r.status, krel::Exit::ok);
    EXPECT_EQ(r.asked, (std::vector<std::int32_t>{2, 1, 0}));
    EXPECT_NE(r.out.find(" >reduce data by factor 3\n"), std::string::npos);
    EXPECT_EQ(r.xyz, "");
}

TEST(Thinning, UnderAnAddressSpaceLimit) {
    if (krel::test::sanitized()) GTEST_SKIP() << "an address-space limit cannot hold the sanitizer's shadow memory";
    if (std::system("prlimit --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "prlimit not found";
    krel::test::TempDir dir;
    // 3 million points need 60 MB of node arrays; the program itself needs
    // about 12 MB: a limit of 50 MB holds half of them.
    {
        std::string text;
        text.reserve(3'000'000 * 8);
        for (int k = 0; k < 3'000'000; ++k) {
            text += std::to_string(k % 1000);
            text += ' ';
            text += std::to_string(k / 1000);
            text += " 1\n";
        }
        krel::test::write_file(dir.path() / "p.xyz", text);
    }
    const auto base = krel::test::run_krel(dir.path(), {"p.xyz", "-r", "-1", "-z", "2"}, nullptr,
                                           {"prlimit", "--as=50000000", "--"});
    ASSERT_EQ(base.status, 0) << base.err;  // no point passes: the program itself fits
    const auto o = krel::test::run_krel(dir.path(), {"p.xyz", "-r", "-1"}, nullptr,
                                        {"prlimit", "--as=50000000", "--"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find(" *** Trouble allocating data storage***           1\n"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find(" >reduce data by factor"), std::string::npos) << o.out;
}

}  // namespace
