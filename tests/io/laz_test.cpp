#include "io/laz.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "io/getpoints.hpp"
#include "io/io_error.hpp"
#include "io/las.hpp"
#include "io/laz_items.hpp"
#include "support/laz_writer.hpp"
#include "support/read_passes.hpp"
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

krel::io::laz::ReadAt read_from(const std::string& src) {
    return [&src](unsigned char* dst, std::size_t n, std::uint64_t pos) {
        const std::size_t k = pos < src.size() ? std::min<std::size_t>(n, src.size() - pos) : 0;
        std::memcpy(dst, src.data() + pos, k);
        return k;
    };
}

// Every record of a file through the chunk decoder, with the reader's
// skipping or with every POINT14 layer decoded.
std::vector<unsigned char> chunk_records(const std::string& path, bool every_layer) {
    const std::string src = krel::test::read_file(path);
    const krel::io::LasFile f(path);
    const krel::io::laz::Layout lay = krel::io::laz::read_layout(read_from(src), f.header(), src.size(), path);
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
// decoder's.
TEST(LazSamples, EqualTheirTwinsRecordForRecord) {
    struct Case { std::string laz; fs::path twin; };
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

namespace lazw = krel::test::lazw;

// point10.laz (one chunk of 1065 points) taken apart: the bytes before its
// point data, its chunk, and its twin's records.
struct Point10 {
    std::string head, chunk, twin;
    std::uint32_t chunk_bytes = 0;
};

Point10 point10() {
    Point10 p;
    const std::string path = (kLaz / "point10.laz").string();
    const std::string src = krel::test::read_file(path);
    const krel::io::LasFile f(path);
    const krel::io::laz::Layout lay = krel::io::laz::read_layout(read_from(src), f.header(), src.size(), path);
    EXPECT_EQ(lay.chunks.size(), 1U);
    p.head = src.substr(0, f.header().point_offset);
    p.chunk = src.substr(lay.chunks[0].offset, lay.chunks[0].bytes);
    p.chunk_bytes = static_cast<std::uint32_t>(p.chunk.size());
    const std::string twin = krel::test::read_file(kLaz / "point10.las");
    p.twin = twin.substr(twin.size() - 1065 * 20);
    return p;
}

// `head` with its compression record's compressor and chunk size and the
// header's point count replaced.
std::string patched(std::string head, std::uint16_t compressor, std::uint32_t chunk_size, std::uint32_t points) {
    using krel::test::las_detail::put;
    std::uint16_t header_size = 0, len = 0, id = 0;
    std::memcpy(&header_size, head.data() + 94, 2);
    for (std::size_t at = header_size; at + 54 <= head.size(); at += 54 + len) {
        std::memcpy(&id, head.data() + at + 18, 2);
        std::memcpy(&len, head.data() + at + 20, 2);
        if (id != 22204) continue;
        put(head, at + 54, compressor);
        put(head, at + 54 + 12, chunk_size);
    }
    put(head, 107, points);
    return head;
}

// The records of a file through a stream that takes chunks of over `whole`
// bytes of records for large ones, streamed in blocks by the reader.
std::vector<unsigned char> streamed_records(const std::string& src, const std::string& path, int threads,
                                            std::uint64_t whole) {
    const krel::io::LasFile f(path);
    const krel::io::laz::Layout lay = krel::io::laz::read_layout(read_from(src), f.header(), src.size(), path);
    krel::io::laz::ChunkStream stream(lay, read_from(src), path, lay.points, threads, 1000, whole);
    std::vector<unsigned char> out;
    const unsigned char* data = nullptr;
    std::size_t bytes = 0;
    while (stream.next(data, bytes)) out.insert(out.end(), data, data + bytes);
    return out;
}

// The sample's chunk rebuilt into layouts no sample has: fixed chunks with a
// short last one, chunks of one (raw) point, many small variable chunks that
// are decoded in groups of about 50,000 points (six groups here: more than
// the threads have slots at 2 and 3 threads), groups between large chunks,
// and the point-wise compressor. Each gives the twin's records at 1, 2, 3 and
// 8 threads (more than some of them have chunks), in blocks that cut chunks
// into pieces.
TEST(ThreadedLazRebuilt, FilesGiveTheSampleRecords) {
    if (!fs::exists(kLaz)) GTEST_SKIP() << "../shared/data/laz not found";
    const Point10 p = point10();
    const lazw::TableEntry whole{1065, p.chunk_bytes};
    std::vector<std::string> raw;
    for (std::size_t i = 0; i < 50; ++i) raw.push_back(p.twin.substr(i * 20, 20));
    std::string twice_and_500 = p.twin + p.twin + p.twin.substr(0, 500 * 20), many;
    for (int i = 0; i < 260; ++i) many += p.twin;
    // Groups of 50 raw chunks between two whole-sample chunks taken as large.
    std::vector<std::string> mixed;
    std::vector<lazw::TableEntry> mixed_table;
    std::string mixed_want;
    for (int i = 0; i < 3; ++i) {
        mixed.insert(mixed.end(), raw.begin(), raw.end());
        mixed_table.insert(mixed_table.end(), 50, {1, 20});
        mixed_want += p.twin.substr(0, 50 * 20);
        if (i == 2) break;
        mixed.push_back(p.chunk);
        mixed_table.push_back(whole);
        mixed_want += p.twin;
    }
    struct Case { std::string what, bytes, want; std::uint64_t whole = 0; };
    const Case cases[] = {
        {"three fixed chunks, the last cut short",
         lazw::chunked_file(patched(p.head, 2, 1065, 2630), {p.chunk, p.chunk, p.chunk}, {3, whole}, false),
         twice_and_500},
        {"chunks of one point", lazw::chunked_file(patched(p.head, 2, 1, 50), raw, {50, {1, 20}}, false),
         p.twin.substr(0, 50 * 20)},
        {"groups of small variable chunks",
         lazw::chunked_file(patched(p.head, 2, 0xFFFFFFFFU, 260 * 1065), std::vector<std::string>(260, p.chunk),
                            {260, whole}, true),
         many},
        {"groups between large chunks",
         lazw::chunked_file(patched(p.head, 2, 0xFFFFFFFFU, 150 + 2 * 1065), mixed, mixed_table, true), mixed_want,
         20000},
        {"point-wise, no chunks", patched(p.head, 1, 0, 1065) + p.chunk, p.twin},
    };
    krel::test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = (dir.path() / "t.laz").string();
        krel::test::write_file(path, c.bytes);
        for (int threads : {1, 2, 3, 8}) {
            const auto got = c.whole ? streamed_records(c.bytes, path, threads, c.whole) : all_records(path, threads, 1000);
            ASSERT_EQ(got.size(), c.want.size());
            EXPECT_EQ(std::memcmp(got.data(), c.want.data(), got.size()), 0);
        }
    }
}

// Both passes over LAZ files with their records kept from the explore pass
// give the console, warnings and points of both passes decoding them, with
// every file kept, with only those that fit the room, and with a class list;
// the load pass hands the records back.
TEST(ThreadedLazKept, TheLoadPassGetsWhatASecondDecodingWould) {
    if (!fs::exists(kLaz)) GTEST_SKIP() << "../shared/data/laz not found";
    using krel::test::Passes;
    const std::vector<std::string> files = {(kLaz / "autzen_trim.laz").string(), (kLaz / "1_4_w_evlr.laz").string(),
                                            (kLaz / "1.2-with-color.copc.laz").string(), (kLaz / "simple.laz").string()};
    auto both = [&](krel::io::KeptRecords* kept, const char* classes, std::size_t want_kept) {
        krel::io::ReadSettings rs;
        rs.files = files;
        rs.threads = 2;
        rs.records = kept;
        if (classes != nullptr) rs.classes = *krel::io::parse_class_list(classes);
        if (kept == nullptr) return krel::test::both_passes(rs);
        const Passes p = krel::test::both_passes(rs, [&] {
            std::size_t files_kept = 0;
            for (const auto& f : kept->files) files_kept += f.empty() ? 0 : 1;
            EXPECT_EQ(files_kept, want_kept);
        });
        EXPECT_EQ(kept->bytes, 0U);
        return p;
    };
    for (const char* classes : {static_cast<const char*>(nullptr), "2"}) {
        SCOPED_TRACE(classes == nullptr ? "every class" : "class 2");
        const Passes twice = both(nullptr, classes, 0);
        ASSERT_GT(twice.x.size(), 1000U);
        // All four; autzen_trim's 3,740,000 bytes alone; none.
        for (const auto& [most, want_kept] : {std::pair<std::size_t, std::size_t>{std::size_t{1} << 28, 4},
                                              {3'740'000, 1}, {1000, 0}}) {
            SCOPED_TRACE(most);
            krel::io::KeptRecords kept;
            kept.most_bytes = most;
            const Passes once = both(&kept, classes, want_kept);
            EXPECT_EQ(once.out, twice.out);
            EXPECT_EQ(once.warn, twice.warn);
            EXPECT_TRUE(once.x == twice.x && once.y == twice.y && once.z == twice.z);
            EXPECT_EQ(once.xorig, twice.xorig);
            EXPECT_EQ(once.yorig, twice.yorig);
        }
    }
}

// WAVEPACKET13 after POINT10 in one chunk, coded here from the format: the
// offset as each of its four kinds (the last one, the last plus the last
// size, the last plus a difference, 64 raw bits), sizes, the return point
// and the X, Y and Z steps as arbitrary bits. POINT10 repeats the chunk's
// first record (all zero), coded as "nothing changed". Both item versions
// read the same; version 3 is refused.
TEST(LazWave13, ChunkGivesItsRecords) {
    namespace laz = krel::io::laz;
    constexpr std::size_t kRecord = 20 + 29;
    const std::uint64_t offsets[] = {1000, 1000, 1001003, 1000, 1000 + 0x7FFFFFFFULL, 5, 0xFEDCBA9876543210ULL, 77, 77, 4000000000ULL};
    std::vector<std::string> recs;
    for (std::size_t i = 0; i < std::size(offsets); ++i) {
        std::string r(kRecord, '\0');
        using krel::test::las_detail::put;
        put<std::uint8_t>(r, 20, static_cast<std::uint8_t>(i * 37));
        put<std::uint64_t>(r, 21, offsets[i]);
        put<std::uint32_t>(r, 29, i == 0 ? 60 : static_cast<std::uint32_t>(i * 1000003));
        for (std::size_t k = 0; k < 4; ++k) put<std::uint32_t>(r, 33 + 4 * k, static_cast<std::uint32_t>((i + 1) * 2654435761U * (k + 3)));
        recs.push_back(r);
    }
    lazw::Encoder e;
    lazw::Model changed(64), index(256);
    std::array<lazw::Model, 4> kind{lazw::Model(4), lazw::Model(4), lazw::Model(4), lazw::Model(4)};
    lazw::IntCoder dx(32, 2), dy(32, 22), dz(32, 20), off(32, 1), size(32, 1), ret(32, 1), xyz(32, 3);
    std::uint32_t last_kind = 0;
    std::int32_t last_diff = 0;
    auto get = [](const std::string& r, std::size_t at, auto v) {
        std::memcpy(&v, r.data() + at, sizeof v);
        return v;
    };
    for (std::size_t i = 1; i < recs.size(); ++i) {
        e.symbol(changed, 0);
        dx.code(e, 0, 0, 0);
        dy.code(e, 0, 0, 0);
        dz.code(e, 0, 0, 0);
        const std::string &last = recs[i - 1], &now = recs[i];
        e.symbol(index, static_cast<unsigned char>(now[20]));
        const std::uint64_t lo = get(last, 21, std::uint64_t{}), o = get(now, 21, std::uint64_t{});
        const std::uint64_t diff = o - lo;
        const std::uint32_t k = o == lo ? 0 : o == lo + get(last, 29, std::uint32_t{}) ? 1
                                : static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(diff))) == diff ? 2 : 3;
        e.symbol(kind[last_kind], k);
        last_kind = k;
        if (k == 2) {
            off.code(e, last_diff, static_cast<std::int32_t>(diff), 0);
            last_diff = static_cast<std::int32_t>(diff);
        } else if (k == 3) {
            e.int32(static_cast<std::uint32_t>(o));
            e.int32(static_cast<std::uint32_t>(o >> 32));
        }
        size.code(e, get(last, 29, std::int32_t{}), get(now, 29, std::int32_t{}), 0);
        ret.code(e, get(last, 33, std::int32_t{}), get(now, 33, std::int32_t{}), 0);
        for (std::uint32_t c = 0; c < 3; ++c) xyz.code(e, get(last, 37 + 4 * c, std::int32_t{}), get(now, 37 + 4 * c, std::int32_t{}), c);
    }
    const std::string chunk = recs[0] + e.done();
    std::string want;
    for (const std::string& r : recs) want += r;
    for (std::uint16_t version : {1, 2}) {
        SCOPED_TRACE(version);
        const std::vector<laz::Item> items{{6, 20, 2}, {9, 29, version}};
        ASSERT_FALSE(laz::check_items(items, kRecord).has_value());
        laz::ChunkDecoder dec(items);
        const auto* b = reinterpret_cast<const unsigned char*>(chunk.data());
        ASSERT_TRUE(dec.start(b, b + chunk.size(), recs.size()));
        std::string got(want.size(), '\0');
        EXPECT_EQ(dec.decode(reinterpret_cast<unsigned char*>(got.data()), recs.size()), recs.size());
        EXPECT_FALSE(dec.damaged());
        EXPECT_EQ(got, want);
    }
    // A format 4 file (POINT10, GPSTIME11, WAVEPACKET13) of one-point chunks,
    // which are stored raw, reads as its records.
    krel::test::LasShape shape;
    shape.format = 4;
    std::vector<std::string> raw;
    std::string all;
    for (std::size_t i = 0; i < 3; ++i) {
        std::string r(57, static_cast<char>(i + 1));
        r.replace(28, 29, recs[i].substr(20));
        raw.push_back(r);
        all += r;
    }
    krel::test::TempDir dir;
    const std::string path = (dir.path() / "f4.laz").string();
    krel::test::write_file(path, lazw::chunked_file(lazw::laz_head(shape, 3, lazw::laz_record(2, 1, {{6, 20, 2}, {7, 8, 2}, {9, 29, 1}})),
                                                    raw, {3, {1, 57}}, false));
    const std::vector<unsigned char> got = all_records(path, 1);
    EXPECT_EQ(std::string(got.begin(), got.end()), all);
    EXPECT_EQ(laz::check_items({{6, 20, 2}, {9, 29, 3}}, kRecord).value_or(""),
              "LAZ item WAVEPACKET13 version 3 is not supported (only versions 1 and 2)");
}

// Damaged and lying files end with an IoError naming the file and, for a
// chunk, the chunk and the point; none crashes, hangs or allocates wildly.
TEST(LazDamage, EndsWithItsDiagnostic) {
    if (!fs::exists(kLaz)) GTEST_SKIP() << "../shared/data/laz not found";
    const Point10 p = point10();
    const std::vector<std::string> chunks(4, p.chunk);
    const std::vector<lazw::TableEntry> table(4, {1065, p.chunk_bytes});
    using Items = std::vector<std::array<std::uint16_t, 3>>;
    // A whole file from its parts; the table offset is filled in unless given.
    auto build = [&](const std::string& record, const std::vector<lazw::TableEntry>& entries,
                     std::int64_t table_offset = -1, krel::test::LasShape shape = {}) {
        return lazw::chunked_file(lazw::laz_head(shape, 4 * 1065, record), chunks, entries, false, table_offset);
    };
    const std::string good_record = lazw::laz_record(2, 1065, {{6, 20, 2}});
    const std::string good = build(good_record, table);
    auto with_bytes = [&](std::size_t k, std::uint32_t bytes) {
        auto t = table;
        t[k].bytes = bytes;
        return t;
    };
    std::string flipped = good;  // noise in the middle of chunk 2
    const std::size_t chunk2 = good.size() - lazw::chunk_table(table, false).size() - 3 * p.chunk.size();
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
        {"table counts too many chunks", build(good_record, std::vector<lazw::TableEntry>(5000, {1065, 1})),
         "LAZ chunk table counts 5000 chunks in"},
        {"no compression record", [&] { auto s = good; s[good_record.size() > 0 ? 227 + 18 : 0] = 1; return s; }(),
         "LAZ points without their compression record"},
        {"item list longer than the record", build(lazw::laz_record(2, 1065, {{6, 20, 2}}).substr(0, 34) + std::string(4, '\0') + "\x06", table),
         ""},  // whatever it says, it is refused
        {"unknown item", build(lazw::laz_record(2, 1065, Items{{99, 20, 2}}), table), "LAZ item type 99 version 2 is not supported"},
        {"item version 1", build(lazw::laz_record(2, 1065, {{6, 20, 1}}), table), "LAZ item POINT10 version 1 is not supported"},
        {"layered item in a plain list", build(lazw::laz_record(2, 1065, {{6, 20, 2}, {11, 6, 3}}), table), "cannot be mixed"},
        {"items shorter than the record", build(good_record, table, -1, long_record),
         "LAZ items make records of 20 bytes, the header says 28"},
        {"coder 1", [&] { auto r = good_record; r[2] = 1; return build(r, table); }(), "LAZ coder 1 is not supported"},
        {"a billion points in a chunk of bytes", build(lazw::laz_record(2, 1'000'000'000, {{6, 20, 2}}), table, -1, huge_count),
         "LAZ chunk table is wrong: chunk 1 of 4 cannot hold 1000000000 points in"},
        {"chunk size 0", build(lazw::laz_record(2, 0, {{6, 20, 2}}), table), "chunk size 0"},
        {"noise inside chunk 2", flipped, ""},  // wrong points or a diagnostic, nothing worse
    };
    krel::test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = (dir.path() / "t.laz").string();
        krel::test::write_file(path, c.bytes);
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
