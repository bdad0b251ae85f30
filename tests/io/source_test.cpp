#include "io/source.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <optional>

#include "io/io_error.hpp"
#include "support/compress.hpp"
#include "support/run_krel.hpp"

namespace {

using krel::io::Compression;

struct ReadBack {
    std::string bytes;  // what came before the end or the failure
    std::string error;  // empty: a clean end
};

ReadBack read_all(const std::string& path, std::size_t step, bool ahead = false) {
    krel::io::ByteSource src("in", path, ahead);
    ReadBack r;
    std::string buf(step, '\0');
    for (;;) {
        const ssize_t got = src.read(buf.data(), step);
        if (got < 0) {
            r.error = src.error();
            EXPECT_EQ(src.read(buf.data(), step), -1) << "a failure must stay";
            return r;
        }
        if (got == 0) return r;
        r.bytes.append(buf.data(), static_cast<std::size_t>(got));
    }
}

const Compression kFormats[] = {Compression::gzip, Compression::zstd, Compression::bzip2, Compression::xz};

TEST(ThreadedByteSource, DecompressesWhatEachToolWrites) {
    const std::string text = krel::test::terrain(20000);  // several input buffers compressed
    struct Case {
        const char* what;
        std::string content;
    };
    const Case contents[] = {
        {"terrain", text},
        {"empty content", ""},
        {"one byte", "7"},
    };
    krel::test::TempDir dir;
    const std::string path = (dir.path() / "f").string();
    for (const Case& c : contents) {
        for (const Compression f : {Compression::none, Compression::gzip, Compression::zstd, Compression::bzip2,
                                    Compression::xz}) {
            // Two members, frames or streams in a row read as their contents in a row.
            for (const bool twice : {false, true}) {
                if (twice && f == Compression::none) continue;
                const std::string one = krel::test::compress(f, c.content);
                krel::test::write_file(path, twice ? one + one : one);
                for (const std::size_t step : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20}) {
                    SCOPED_TRACE(testing::Message() << c.what << ", " << krel::io::compression_name(f)
                                                    << (twice ? " twice" : "") << ", reads of " << step);
                    if (step == 1 && c.content.size() > 1000) continue;  // too slow to be worth it
                    for (const bool ahead : {false, true}) {
                        SCOPED_TRACE(ahead ? "decompressed ahead" : "decompressed by the reader");
                        const ReadBack r = read_all(path, step, ahead);
                        EXPECT_EQ(r.error, "");
                        EXPECT_TRUE(r.bytes == (twice ? c.content + c.content : c.content));
                    }
                    EXPECT_EQ(krel::io::ByteSource("in", path).compression(), f);
                }
            }
        }
    }
}

TEST(ThreadedByteSource, DamageIsAFailureAfterTheGoodBytes) {
    const std::string text = krel::test::terrain(20000);
    krel::test::TempDir dir;
    const std::string path = (dir.path() / "f").string();
    for (const Compression f : kFormats) {
        const std::string good = krel::test::compress(f, text);
        std::string flipped = good;
        flipped[flipped.size() - 6] ^= 0x5A;  // the check (gzip, bzip2, xz) or the last block
        struct Case {
            const char* what;
            std::string bytes;
            std::string reason;  // in the diagnostic ("": any)
        };
        const std::string fmt(krel::io::compression_name(f));
        const Case cases[] = {
            {"cut off", good.substr(0, good.size() * 2 / 3), "the " + fmt + " data is cut off"},
            {"cut off in the trailer", good.substr(0, good.size() - 1), ""},
            {"only the first ten bytes", good.substr(0, 10), ""},
            {"a byte flipped near the end", flipped, ""},
            {"trailing garbage", good + "garbage", "bytes after the end of the " + fmt + " data"},
            {"trailing newline", good + "\n", ""},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << krel::io::compression_name(f) << ": " << c.what);
            krel::test::write_file(path, c.bytes);
            const ReadBack r = read_all(path, 4096);
            EXPECT_NE(r.error, "");
            EXPECT_NE(r.error.find(c.reason), std::string::npos) << r.error;
            EXPECT_TRUE(r.bytes == text.substr(0, r.bytes.size())) << "wrong bytes before the failure";
            const ReadBack big = read_all(path, std::size_t{1} << 20);
            EXPECT_EQ(big.bytes.size(), r.bytes.size()) << "the line reached must not depend on the reader's buffer";
            const ReadBack ahead = read_all(path, 4096, true);
            EXPECT_EQ(ahead.error, r.error);
            EXPECT_TRUE(ahead.bytes == r.bytes) << "the helper thread handed out " << ahead.bytes.size()
                                                << " bytes, not " << r.bytes.size();
        }
    }
}

TEST(ByteSource, MagicBytesNotNames) {
    struct Case {
        std::string head;
        Compression want;
    };
    const Case cases[] = {
        {"\x1f\x8b", Compression::gzip},
        {std::string("\x28\xb5\x2f\xfd", 4), Compression::zstd},
        {std::string("\x5a\x2a\x4d\x18", 4), Compression::zstd},  // a skippable frame first
        {std::string("\xfd" "7zXZ\0", 6), Compression::xz},
        {"BZh91AY&SY", Compression::bzip2},
        {std::string("BZh1\x17\x72\x45\x38\x50\x90", 10), Compression::bzip2},  // empty bzip2 stream
        {"BZh9 12.5 3.0", Compression::none},  // a text line that begins like bzip2
        {"\x1f", Compression::none},           // too short for any magic
        {"LASF", Compression::none},
        {"", Compression::none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "head of " << c.head.size());
        const auto* p = reinterpret_cast<const unsigned char*>(c.head.data());
        EXPECT_EQ(krel::io::detect_compression({p, c.head.size()}), c.want);
    }
}

TEST(KeptStreams, PipeIsCopiedOnceRegularFileIsNot) {
    krel::test::TempDir dir;
    const std::string regular = (dir.path() / "plain.xyz").string();
    krel::test::write_file(regular, "1 2 3\n");
    const std::string fifo = (dir.path() / "ff").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string text = krel::test::terrain(100000);  // more than a pipe holds
    std::optional<krel::test::FifoWriter> writer(std::in_place, fifo, text);
    int folders = 0;
    krel::io::KeptStreams kept([&] {
        ++folders;
        const std::string f = (dir.path() / "keep").string();
        ::mkdir(f.c_str(), 0700);
        return f;
    });
    EXPECT_EQ(kept.path_for(regular), regular);
    const std::string copy = kept.path_for(fifo);
    writer.reset();
    EXPECT_NE(copy, fifo);
    EXPECT_EQ(krel::test::read_file(copy), text);
    EXPECT_EQ(kept.path_for(fifo), copy) << "the second pass reads the same copy";
    EXPECT_EQ(folders, 1);
    EXPECT_EQ(kept.copied(), text.size());
}

TEST(KeptStreams, FolderThatCannotBeWrittenNamesInputAndFolder) {
    krel::test::TempDir dir;
    const std::string fifo = (dir.path() / "ff").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    krel::test::FifoWriter writer(fifo, "");
    krel::io::KeptStreams kept([] { return std::string("/nonexistent/keep"); });
    try {
        (void)kept.path_for(fifo);
        ADD_FAILURE() << "no copy can be made there";
    } catch (const krel::io::IoError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "cannot keep a copy of '" + fifo + "' in '/nonexistent/keep': No such file or directory");
    }
}

}  // namespace
