// The node arrays thinned when memory is short: through the allocation hook
// (exact output), and for real under an address-space limit.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "io/fortran.hpp"
#include "support/run_krel.hpp"
#include "support/sanitized.hpp"

namespace {

namespace fs = std::filesystem;

struct Limit { std::int32_t max_capacity; std::vector<std::int32_t> asked; };

bool limited(krel::io::NodeArrays& nodes, std::int32_t capacity, void* context) {
    auto& limit = *static_cast<Limit*>(context);
    limit.asked.push_back(capacity);
    return capacity <= limit.max_capacity && nodes.allocate(capacity);
}

TEST(Thinning, ShortMemoryKeepsEveryNthRecord) {
    struct Case {
        int records;
        std::int32_t max_capacity;
        std::vector<std::int32_t> asked;
        std::string said;  // after the explore pass
        std::string result;
    };
    const Case cases[] = {
        // The line counter is 2 at the first record: records 1, 3, 5, 7, 9 are
        // read at even counts. Capacity 4 takes the first four; the fifth
        // overwrites the last slot.
        {9, 4, {9, 4}, " *** Trouble allocating data storage***           1\n >reduce data by factor 2\n",
         "       1.00       0.00    1.000\n       3.00       0.00    3.000\n"
         "       5.00       0.00    5.000\n       9.00       0.00    9.000\n"},
        // Capacity 0 stores nothing.
        {2, 0, {2, 1, 0},
         " *** Trouble allocating data storage***           1\n *** Trouble allocating data storage***           2\n"
         " >reduce data by factor 3\n",
         ""},
    };
    krel::test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.records << " records, capacity " << c.max_capacity);
        std::string points;
        for (int k = 1; k <= c.records; ++k) points += std::to_string(k) + " 0 " + std::to_string(k) + "\n";
        krel::test::write_file(dir.path() / "p.xyz", points);
        Limit limit{c.max_capacity, {}};
        const auto o = krel::test::run_in_process(dir.path(), {(dir.path() / "p.xyz").string(), "-r", "-1"},
                                                  {limited, &limit});
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(limit.asked, c.asked);
        EXPECT_NE(o.out.find(" >Total nodes:" + krel::io::format_i(c.records, 12) + "\n" + c.said + " ->loading   "),
                  std::string::npos)
            << o.out;
        EXPECT_EQ(o.result, c.result);
    }
}

// LAZ records kept from the explore pass go before any point does: the run
// asks again without them, and then reads what its uncompressed twin reads.
TEST(Thinning, KeptLazRecordsGoFirst) {
    const fs::path data = krel::test::shared_data();
    if (!fs::exists(data / "laz")) GTEST_SKIP() << "../shared/data/laz not found";
    krel::test::TempDir dir;
    Limit laz_limit{600, {}}, twin_limit{600, {}};
    const auto laz = krel::test::run_in_process(dir.path(), {(data / "laz/simple.laz").string(), "-r", "-1"},
                                                {limited, &laz_limit});
    const auto twin = krel::test::run_in_process(dir.path(), {(data / "las/simple.las").string(), "-r", "-1"},
                                                 {limited, &twin_limit});
    EXPECT_EQ(laz_limit.asked, (std::vector<std::int32_t>{1065, 1065, 532}));
    EXPECT_EQ(twin_limit.asked, (std::vector<std::int32_t>{1065, 532}));
    EXPECT_NE(laz.out.find(" >reduce data by factor 2\n"), std::string::npos) << laz.out;
    EXPECT_EQ(laz.result, twin.result);
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

// Columns beyond 64 keep only the selected fields: the same points as the
// narrow file, and a selection no record can fill needs no room per column.
TEST(Columns, FarColumnsReadAsNearOnes) {
    krel::test::TempDir dir;
    const std::string narrow = krel::test::terrain(3000, 7);
    std::string wide;
    std::istringstream in(narrow);
    int k = 0;
    for (std::string x, y, z; in >> x >> y >> z; ++k) {
        wide += y + " " + z;
        for (int c = 3; c < 66; ++c) {
            wide += c % 7 == 0 ? " 1e1" : " -0.5";
            if (c == 30 && k % 2 == 0) wide += "\n";  // a record continued on the next line
        }
        wide += " " + x + " 9\n";
    }
    krel::test::write_file(dir.path() / "n.xyz", narrow);
    krel::test::write_file(dir.path() / "w.xyz", wide);
    const auto a = krel::test::run_krel(dir.path(), {"n.xyz", "-o", "n.out"});
    const auto b = krel::test::run_krel(dir.path(), {"w.xyz", "-c", "6612", "-o", "w.out", "-p", "w"});
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(krel::test::read_file(dir.path() / "w.out"), krel::test::read_file(dir.path() / "n.out"));

    if (krel::test::sanitized()) return;  // no address-space limit under the sanitizers
    if (std::system("prlimit --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "prlimit not found";
    const std::vector<std::string> far{"n.xyz", "-c", "2147483647", "-o", "f.out", "-p", "f"};
    const auto free = krel::test::run_krel(dir.path(), far);
    const auto tight = krel::test::run_krel(dir.path(), far, nullptr, {"prlimit", "--as=100000000", "--"});
    EXPECT_EQ(tight.status, free.status) << tight.err;
    EXPECT_EQ(tight.out, free.out);
}

}  // namespace
