#include "io/laz.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "io/io_error.hpp"
#include "io/las.hpp"
#include "support/laz_writer.hpp"
#include "support/run_krel.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path kLaz = fs::path(KREL_SHARED_DATA) / "laz";

std::vector<unsigned char> all_records(const std::string& path, int threads, std::size_t block = krel::io::LasFile::kBlockBytes) {
    krel::io::LasFile f(path, block, threads);
    std::vector<unsigned char> out;
    std::span<const unsigned char> b;
    while (f.next_block(b)) out.insert(out.end(), b.begin(), b.end());
    return out;
}

// The bytes a layered record decodes: X, Y, Z, the returns, the flags and the
// class; the LAS reader uses no others.
bool compared(std::size_t byte, int format) {
    return format < 6 || byte < 12 || (byte >= 14 && byte <= 16);
}

TEST(LazSamples, EqualTheirTwinsRecordForRecord) {
    struct Case { const char* laz; fs::path twin; };
    const Case cases[] = {
        {"point10.laz", kLaz / "point10.las"},                  // POINT10 alone
        {"point-time.laz", kLaz / "point-time.las"},            // with GPSTIME11
        {"point-color.laz", kLaz / "point-color.las"},          // with RGB12
        {"point-time-color.laz", kLaz / "point-time-color.las"},
        {"extra-bytes.laz", kLaz / "extra-bytes.las"},          // BYTE, 27 per record
        {"simple.laz", kLaz / ".." / "las" / "simple.las"},
        {"autzen_trim.laz", kLaz / ".." / "las" / "autzen_trim.las"},  // three fixed chunks
        {"1_4_w_evlr.laz", kLaz / "1_4_w_evlr.las"},            // POINT14, 64-bit count
        {"append-bug.laz", kLaz / "append-bug.las"},            // POINT14 + RGBNIR14 + BYTE14
        {"1.2-with-color.copc.laz", kLaz / "1.2-with-color.copc.las"},  // variable-size chunks
    };
    if (!fs::exists(kLaz)) GTEST_SKIP() << "../shared/data/laz not found";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.laz);
        const std::string laz = (kLaz / c.laz).string();
        krel::io::LasFile lf(laz);
        krel::io::LasFile tf(c.twin.string());
        ASSERT_TRUE(lf.header().laz);
        ASSERT_EQ(lf.records(), tf.records());
        ASSERT_GT(lf.records(), 0U);
        const int format = lf.header().point_format;
        const std::size_t rl = lf.header().record_length;
        const auto got = all_records(laz, 1);
        const auto want = all_records(c.twin.string(), 1);
        ASSERT_EQ(got.size(), want.size());
        std::size_t bad = 0;
        for (std::size_t i = 0; i < got.size() && bad < 5; ++i) {
            if (compared(i % rl, format) && got[i] != want[i]) {
                ADD_FAILURE() << "record " << i / rl + 1 << " byte " << i % rl << ": " << int(got[i]) << " != " << int(want[i]);
                ++bad;
            }
        }
    }
}

// Chunks decoded side by side hand out the records of the serial decode, in
// order; a small block makes the serial path hand out pieces of chunks.
TEST(LazSamples, ThreadsGiveTheSerialRecords) {
    if (!fs::exists(kLaz)) GTEST_SKIP() << "../shared/data/laz not found";
    for (const char* name : {"autzen_trim.laz", "1.2-with-color.copc.laz", "append-bug.laz"}) {
        SCOPED_TRACE(name);
        const std::string path = (kLaz / name).string();
        const auto serial = all_records(path, 1);
        for (int threads : {2, 3, 8}) {
            SCOPED_TRACE(threads);
            EXPECT_TRUE(all_records(path, threads) == serial);
        }
    }
}

namespace lazw = krel::test::lazw;

std::string write_temp(const krel::test::TempDir& dir, const std::string& bytes) {
    const fs::path p = dir.path() / "t.laz";
    krel::test::write_file(p, bytes);
    return p.string();
}

// Our writer's files read back as written: fixed chunks with a short last
// one, one chunk of one point, chunk sizes around the block size.
TEST(LazWriter, FilesReadBackRecordForRecord) {
    struct Case { std::size_t points; std::uint32_t chunk; };
    const Case cases[] = {{1, 50000}, {2, 1}, {1000, 300}, {5000, 5000}, {4097, 64}};
    krel::test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.points << " points in chunks of " << c.chunk);
        const auto recs = lazw::point10_records(c.points, 7);
        const std::string path = write_temp(dir, lazw::point10_file(recs, c.chunk));
        for (int threads : {1, 3}) {
            const auto got = all_records(path, threads, 1000);
            ASSERT_EQ(got.size(), recs.size() * 20);
            EXPECT_EQ(std::memcmp(got.data(), recs.data(), got.size()), 0);
        }
    }
}

}  // namespace
