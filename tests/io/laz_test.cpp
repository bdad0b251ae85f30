#include "io/laz.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "io/io_error.hpp"
#include "io/las.hpp"
#include "io/laz_items.hpp"
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
bool used(std::size_t byte, int format) { return format < 6 || byte < 12 || (byte >= 14 && byte <= 16); }

// Every record of a file through the chunk decoder, with the reader's
// skipping or with every POINT14 layer decoded.
std::vector<unsigned char> chunk_records(const std::string& path, bool every_layer) {
    const std::string src = krel::test::read_file(path);
    const krel::io::laz::ReadAt read = [&src](unsigned char* dst, std::size_t n, std::uint64_t pos) {
        const std::size_t k = pos < src.size() ? std::min<std::size_t>(n, src.size() - pos) : 0;
        std::memcpy(dst, src.data() + pos, k);
        return k;
    };
    const krel::io::LasFile f(path);
    const krel::io::laz::Layout lay = krel::io::laz::read_layout(read, f.header(), src.size(), path);
    krel::io::laz::ChunkDecoder dec(lay.items, every_layer);
    std::vector<unsigned char> out(lay.points * f.header().record_length);
    std::size_t at = 0;
    for (const krel::io::laz::Chunk& c : lay.chunks) {
        const auto* b = reinterpret_cast<const unsigned char*>(src.data());
        EXPECT_TRUE(dec.start(b + c.offset, b + c.offset + c.bytes, c.points));
        at += dec.decode(out.data() + at * f.header().record_length, c.points);
    }
    EXPECT_EQ(at, lay.points);
    return out;
}

// Layered samples are also decoded with every POINT14 layer: all of its 30
// bytes then equal the twin's, and the reader's bytes equal the skipping
// decoder's. The format 7 file is the format 8 sample without its NIR and
// extra-byte layers; the twin's records are longer, their start the same.
TEST(LazSamples, EqualTheirTwinsRecordForRecord) {
    struct Case { std::string laz; fs::path twin; };
    krel::test::TempDir dir;
    const std::string format7 = (dir.path() / "format7.laz").string();
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
        {format7, kLaz / "append-bug.las"},                     // POINT14 + RGB14
    };
    if (!fs::exists(kLaz)) GTEST_SKIP() << "../shared/data/laz not found";
    const std::string f8 = (kLaz / "append-bug.laz").string();
    krel::test::write_file(format7, krel::test::lazw::format7_from_format8(krel::test::read_file(f8), f8));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.laz);
        const std::string laz = c.laz == format7 ? format7 : (kLaz / c.laz).string();
        krel::io::LasFile lf(laz);
        krel::io::LasFile tf(c.twin.string());
        ASSERT_TRUE(lf.header().laz);
        ASSERT_EQ(lf.records(), tf.records());
        ASSERT_GT(lf.records(), 0U);
        const int format = lf.header().point_format;
        const std::size_t rl = lf.header().record_length, twin_rl = tf.header().record_length;
        const auto got = all_records(laz, 1);
        const auto want = all_records(c.twin.string(), 1);
        const auto every = format >= 6 ? chunk_records(laz, true) : got;
        ASSERT_EQ(got.size() / rl, want.size() / twin_rl);
        ASSERT_EQ(every.size(), got.size());
        std::size_t bad = 0;
        for (std::size_t i = 0; i < got.size() && bad < 5; ++i) {
            const std::size_t r = i / rl, k = i % rl;
            const unsigned char twin = want[r * twin_rl + k];
            if ((used(k, format) && got[i] != twin) || (k < 30 && every[i] != twin) ||
                (used(k, format) && every[i] != got[i])) {
                ADD_FAILURE() << "record " << r + 1 << " byte " << k << ": " << int(got[i]) << ", every layer "
                              << int(every[i]) << ", twin " << int(twin);
                ++bad;
            }
        }
    }
}

// Chunks decoded side by side hand out the records of the serial decode, in
// order; a small block makes the serial path hand out pieces of chunks.
TEST(ThreadedLaz, ChunksGiveTheSerialRecords) {
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
    // Small variable chunks are decoded in groups of about 50,000 points, a
    // group per thread: 130,000 points in chunks of 1,300 make three groups.
    const auto recs = lazw::point10_records(300, 9);
    const auto many = lazw::point10_records(130'000, 10);
    struct Other { const char* what; const std::vector<std::array<unsigned char, 20>>& recs; std::string bytes; };
    const Other others[] = {
        {"variable chunks", recs, lazw::point10_variable_file(recs, {1, 100, 7, 192})},
        {"point-wise, no chunks", recs, lazw::point10_pointwise_file(recs)},
        {"groups of small chunks", many, lazw::point10_variable_file(many, std::vector<std::size_t>(100, 1300))},
    };
    for (const Other& o : others) {
        SCOPED_TRACE(o.what);
        const std::string path = write_temp(dir, o.bytes);
        for (int threads : {1, 3}) {
            const auto got = all_records(path, threads, 1000);
            ASSERT_EQ(got.size(), o.recs.size() * 20);
            EXPECT_EQ(std::memcmp(got.data(), o.recs.data(), got.size()), 0);
        }
    }
}

// Damaged and lying files end with an IoError naming the file and, for a
// chunk, the chunk and the point; none crashes, hangs or allocates wildly.
TEST(LazDamage, EndsWithItsDiagnostic) {
    const auto recs = lazw::point10_records(1000, 3);
    std::vector<std::string> chunks;
    std::vector<lazw::TableEntry> table;
    for (std::size_t i = 0; i < recs.size(); i += 300) {
        const std::vector<std::array<unsigned char, 20>> part(
            recs.begin() + static_cast<std::ptrdiff_t>(i), recs.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(1000, i + 300)));
        chunks.push_back(lazw::point10_chunk(part));
        table.push_back({static_cast<std::uint32_t>(part.size()), static_cast<std::uint32_t>(chunks.back().size())});
    }
    using Items = std::vector<std::array<std::uint16_t, 3>>;
    // A whole file from its parts; the table offset is filled in unless given.
    auto build = [&](const std::string& record, const std::vector<lazw::TableEntry>& entries,
                     std::int64_t table_offset = -2, krel::test::LasShape shape = {}) {
        std::string s = lazw::laz_head(shape, recs.size(), record);
        const std::size_t at = s.size();
        s.append(8, '\0');
        for (const std::string& c : chunks) s += c;
        const std::uint64_t off = table_offset == -2 ? s.size() : static_cast<std::uint64_t>(table_offset);
        std::memcpy(s.data() + at, &off, 8);
        return s + lazw::chunk_table(entries, false);
    };
    const std::string good_record = lazw::laz_record(2, 300, {{6, 20, 2}});
    const std::string good = build(good_record, table);
    auto with_bytes = [&](std::size_t k, std::uint32_t bytes) {
        auto t = table;
        t[k].bytes = bytes;
        return t;
    };
    std::string flipped = good;  // noise in the middle of chunk 2
    const std::size_t chunk2 = good.size() - lazw::chunk_table(table, false).size() - chunks[3].size() - chunks[2].size() - chunks[1].size();
    for (std::size_t i = 30; i < 60; ++i) flipped[chunk2 + i] = static_cast<char>(flipped[chunk2 + i] ^ 0x5A);
    krel::test::LasShape long_record;
    long_record.record_length = 28;
    krel::test::LasShape huge_count;
    huge_count.legacy_count = 3'000'000'000;
    struct Case { std::string what, bytes, diagnostic; };
    const Case cases[] = {
        {"cut inside the last chunk", good.substr(0, good.size() - lazw::chunk_table(table, false).size() - 40),
         "LAZ chunk table missing"},
        {"table offset past the end", build(good_record, table, 1 << 30), "LAZ chunk table missing"},
        {"chunk 2 claims too many bytes", build(good_record, with_bytes(1, 1 << 20)),
         "LAZ chunk table is wrong: chunk 2 of 4 does not end before the table"},
        {"chunk 2 claims too few bytes", build(good_record, with_bytes(1, table[1].bytes - 25)),
         "LAZ chunk 2 of 4 is damaged or cut off at point"},
        {"chunk 1 shorter than a record", build(good_record, with_bytes(0, 10)), "LAZ chunk 1 of 4 is damaged or cut off at"},
        {"table counts too many chunks", build(good_record, std::vector<lazw::TableEntry>(5000, {300, 1})),
         "LAZ chunk table counts 5000 chunks in"},
        {"no compression record", [&] { auto s = good; s[good_record.size() > 0 ? 227 + 18 : 0] = 1; return s; }(),
         "LAZ points without their compression record"},
        {"item list longer than the record", build(lazw::laz_record(2, 300, {{6, 20, 2}}).substr(0, 34) + std::string(4, '\0') + "\x06", table),
         ""},  // whatever it says, it is refused
        {"unknown item", build(lazw::laz_record(2, 300, Items{{99, 20, 2}}), table), "LAZ item type 99 version 2 is not supported"},
        {"item version 1", build(lazw::laz_record(2, 300, {{6, 20, 1}}), table), "LAZ item POINT10 version 1 is not supported"},
        {"layered item in a plain list", build(lazw::laz_record(2, 300, {{6, 20, 2}, {11, 6, 3}}), table), "cannot be mixed"},
        {"items shorter than the record", build(good_record, table, -2, long_record),
         "LAZ items make records of 20 bytes, the header says 28"},
        {"point-wise compressor, version 1", build(lazw::laz_record(1, 0, {{6, 20, 1}}), table),
         "LAZ point-wise compressor (no chunks): item POINT10 version 1 is not supported"},
        {"coder 1", [&] { auto r = good_record; r[2] = 1; return build(r, table); }(), "LAZ coder 1 is not supported"},
        {"a billion points in a chunk of bytes", build(lazw::laz_record(2, 1'000'000'000, {{6, 20, 2}}), table, -2, huge_count),
         "LAZ chunk table is wrong: chunk 1 of 4 cannot hold 1000000000 points in"},
        {"chunk size 0", build(lazw::laz_record(2, 0, {{6, 20, 2}}), table), "chunk size 0"},
        {"noise inside chunk 2", flipped, ""},  // wrong points or a diagnostic, nothing worse
    };
    krel::test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = write_temp(dir, c.bytes);
        for (int threads : {1, 2}) {
            std::string said;
            try {
                (void)all_records(path, threads);
            } catch (const krel::io::IoError& e) {
                said = e.what();
            }
            if (c.diagnostic.empty() && c.what.starts_with("noise")) continue;
            EXPECT_TRUE(said.starts_with("'" + path + "': ")) << said;
            EXPECT_NE(said.find(c.diagnostic), std::string::npos) << said;
        }
    }
}

}  // namespace
