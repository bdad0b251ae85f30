// A thread count far beyond the machine's: each worker holds a tile working
// set of about 17 MB, and -j 100000 once allocated one per requested thread
// until memory ran out ("out of memory", status 2, under an address-space
// limit; unlimited, the machine's memory). Found while fuzzing the command
// line.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/run_krel.hpp"
#include "support/sanitized.hpp"

namespace {

TEST(ThreadedCount, AbsurdThreadCountsRunInBoundedMemory) {
    if (krel::test::sanitized()) GTEST_SKIP() << "an address-space limit cannot hold the sanitizer's shadow memory";
    if (std::system("prlimit --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "prlimit not found";
    krel::test::TempDir dir;
    krel::test::write_terrain(dir.path() / "p.xyz", 20000);
    const krel::test::Outcome serial = krel::test::run_krel(dir.path(), {"p.xyz", "-p", "one", "-j", "1"});
    ASSERT_EQ(serial.status, 0) << serial.err;
    const std::string want = krel::test::read_file(dir.path() / "one.xyz");
    for (const char* j : {"100000", "2147483647"}) {
        SCOPED_TRACE(j);
        // 1 GB of address space: the program with a few dozen working sets.
        const krel::test::Outcome many = krel::test::run_krel(dir.path(), {"p.xyz", "-p", "many", "-j", j}, nullptr,
                                                              {"prlimit", "--as=1000000000", "--"});
        EXPECT_EQ(many.status, 0) << many.err;
        EXPECT_TRUE(krel::test::read_file(dir.path() / "many.xyz") == want) << "the result differs from -j 1";
    }
}

}  // namespace
