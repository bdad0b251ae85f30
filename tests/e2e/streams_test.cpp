// Input that is not a plain file, through the built binary: pipes, FIFOs,
// /dev/stdin and compressed files give the run of the plain file holding the
// same bytes, byte for byte apart from the name; temporary copies are gone
// after every kind of end; damaged compressed data is a clean failure.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/compress.hpp"
#include "support/las_writer.hpp"
#include "support/run_krel.hpp"

namespace {

namespace fs = std::filesystem;
using krel::io::Compression;
using krel::test::files_named;
using krel::test::Outcome;
using krel::test::read_file;
using krel::test::write_file;

std::string las_terrain() {
    krel::test::LasShape shape;
    shape.minor = 4;
    shape.format = 1;
    shape.vlrs = {std::string(300, 'v'), std::string(70000, 'w')};  // one longer than the VLR window
    shape.legacy_count = 0;
    shape.count64 = 30000;  // more than the file holds: a warning
    std::vector<krel::test::LasRec> pts;
    for (int i = 0; i < 25000; ++i)
        pts.push_back({61234500 + (i % 160) * 35, 561234500 + (i / 160) * 35, 10000 + (i * 7919) % 300,
                       static_cast<std::uint8_t>(i % 11 == 0 ? 5 : 2), i % 97 == 0});
    return krel::test::las_file(shape, pts);
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
    return s;
}

enum class Way { file, stdin_pipe, fifo };

// One run of krel on `bytes`, given the way named `input`, in a fresh
// subfolder of dir; TMPDIR points into it so that a left-over copy is seen.
Outcome run_on(const fs::path& dir, const std::string& bytes, Way way, const std::string& name,
              const std::vector<std::string>& options) {
    fs::remove_all(dir);
    fs::create_directories(dir / "tmp");
    std::vector<std::string> args{way == Way::stdin_pipe ? "/dev/stdin" : name};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<std::string> env{"env", "TMPDIR=" + (dir / "tmp").string()};
    Outcome o;
    if (way == Way::file) {
        write_file(dir / name, bytes);
        o = krel::test::run_krel(dir, args, nullptr, env);
    } else if (way == Way::stdin_pipe) {
        // Standard input through a pipe, as from a decompressing command.
        env.insert(env.end(), {"sh", "-c", "cat | \"$0\" \"$@\""});
        o = krel::test::run_krel(dir, args, &bytes, env);
    } else {
        if (::mkfifo((dir / name).c_str(), 0600) != 0) ADD_FAILURE() << "mkfifo";
        krel::test::FifoWriter writer(dir / name, bytes);
        o = krel::test::run_krel(dir, args, nullptr, env);
    }
    EXPECT_TRUE(files_named(dir / "tmp", "krel-").empty()) << "a temporary copy was left behind";
    EXPECT_TRUE(files_named(dir, "krel-stream").empty()) << "a temporary copy was left behind";
    return o;
}

void expect_same(const Outcome& plain, Outcome other, const std::string& plain_name, const std::string& other_name) {
    other.out = replace_all(other.out, other_name, plain_name);
    other.err = replace_all(other.err, other_name, plain_name);
    krel::test::expect_same(plain, other);
}

TEST(ThreadedStreams, EveryWayGivesThePlainFilesRun) {
    krel::test::TempDir dir;
    // A title line (a read error with its line number), then a terrain longer
    // than a chunk of the parallel reader (1 MiB): -j 2 cuts the plain file,
    // and the copy of a stream, into chunks.
    const std::string text = "x y z\n" + krel::test::terrain(45000);
    const std::string las = las_terrain();
    struct Source {
        const char* what;
        const std::string* content;
        const char* plain_name;
    };
    const Source sources[] = {{"text", &text, "p.xyz"}, {"LAS", &las, "p.las"}};
    for (const Source& src : sources) {
        for (const char* threads : {"1", "2"}) {
            const std::vector<std::string> options{"-j", threads, "-t", "0.05"};
            SCOPED_TRACE(testing::Message() << src.what << ", -j " << threads);
            const Outcome plain = run_on(dir.path() / "plain", *src.content, Way::file, src.plain_name, options);
            ASSERT_EQ(plain.status, 0) << plain.err;
            ASSERT_FALSE(plain.result.empty());
            struct Case {
                const char* what;
                Way way;
                Compression c;
                std::string name;
            };
            const Case cases[] = {
                {"pipe to /dev/stdin", Way::stdin_pipe, Compression::none, "/dev/stdin"},
                {"FIFO", Way::fifo, Compression::none, "ff"},
                {"gzip file", Way::file, Compression::gzip, "p.gz"},
                {"zstd file", Way::file, Compression::zstd, "p.zst"},
                {"bzip2 file", Way::file, Compression::bzip2, "p.bz2"},
                {"xz file", Way::file, Compression::xz, "p.xz"},
                {"gzip through a pipe", Way::stdin_pipe, Compression::gzip, "/dev/stdin"},
                {"zstd through a FIFO", Way::fifo, Compression::zstd, "ff"},
            };
            for (const Case& c : cases) {
                SCOPED_TRACE(c.what);
                const Outcome other =
                    run_on(dir.path() / "other", krel::test::compress(c.c, *src.content), c.way, c.name, options);
                expect_same(plain, other, src.plain_name, c.name);
            }
        }
    }
}

TEST(Streams, OneStreamUnderTwoNamesIsReadOnceAndKept) {
    // /dev/stdin twice: the second name reads the same copy, as a file named
    // twice is read twice.
    krel::test::TempDir dir;
    const std::string text = krel::test::terrain(3000);
    const Outcome plain = run_on(dir.path() / "plain", text, Way::file, "p.xyz", {"p.xyz"});
    const Outcome twice = run_on(dir.path() / "other", text, Way::stdin_pipe, "/dev/stdin", {"/dev/stdin"});
    expect_same(plain, twice, "p.xyz", "/dev/stdin");
}

// What each format's damage says is the byte source's test; here the run
// names the file and the line reached, fails with status 2 and writes nothing.
TEST(ThreadedStreams, DamagedCompressedDataFailsNamingFileAndLine) {
    krel::test::TempDir dir;
    std::string text;
    for (int i = 0; i < 40000; ++i) text += std::to_string(612345 + i % 200) + ".5 " + std::to_string(5612345 + i / 200) + ".5 10." + std::to_string(i % 10) + "\n";
    const std::string good = krel::test::compress(Compression::gzip, text);
    for (const Way way : {Way::file, Way::stdin_pipe}) {
        const std::string name = way == Way::file ? "p.z" : "/dev/stdin";
        SCOPED_TRACE(name);
        const Outcome r = run_on(dir.path() / "run", good.substr(0, good.size() - 20), way, name, {"-j", "2"});
        EXPECT_EQ(r.status, 2);
        const std::string head = "krel: '" + name + "' line ";
        ASSERT_EQ(r.err.substr(0, head.size()), head) << r.err;
        const long line = std::stol(r.err.substr(head.size()));
        EXPECT_GE(line, 1);
        EXPECT_LE(line, 40001);
        EXPECT_NE(r.err.find("the gzip data is cut off"), std::string::npos) << r.err;
        EXPECT_TRUE(r.result.empty()) << "a failed read must write no result";
    }
}

TEST(Streams, StreamThatCannotBeKeptIsAnIoError) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer runtime writes its own files under the limit";
#endif
    if (std::system("prlimit --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "prlimit not found";
    krel::test::TempDir dir;
    const std::string text = krel::test::terrain(5000);  // 145 kB, more than the limit
    fs::create_directories(dir.path() / "tmp");
    const std::vector<std::string> limited{"prlimit", "--fsize=20000", "--", "env", "TMPDIR=" + (dir.path() / "tmp").string(),
                                           "sh", "-c", "trap '' XFSZ; cat | \"$0\" \"$@\""};
    const auto o = krel::test::run_krel(dir.path(), {"/dev/stdin"}, &text, limited);
    EXPECT_EQ(o.status, 2);
    const std::string head = "krel: cannot keep a copy of '/dev/stdin' in '" + (dir.path() / "tmp").string() + "/krel-stream-";
    EXPECT_EQ(o.err.substr(0, head.size()), head);
    EXPECT_NE(o.err.find("': File too large\n"), std::string::npos) << o.err;
    EXPECT_TRUE(files_named(dir.path() / "tmp", "krel-").empty());
}

TEST(Streams, InterruptedWhileKeepingACopyLeavesNothing) {
    for (const int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig == SIGINT ? "SIGINT" : "SIGTERM");
        krel::test::TempDir dir;
        fs::create_directories(dir.path() / "tmp");
        const fs::path fifo = dir.path() / "ff";
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        // Held open for writing by the test: krel copies what comes and waits
        // for more.
        const int hold = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(hold, 0);
        const std::string part = krel::test::terrain(2000);
        ASSERT_EQ(::write(hold, part.data(), part.size()), static_cast<ssize_t>(part.size()));
        krel::test::Running child(dir.path(), {"ff"}, {"env", "TMPDIR=" + (dir.path() / "tmp").string()});
        bool copying = false;
        for (int i = 0; i < 6000 && !copying && child.alive(); ++i) {
            for (const std::string& f : files_named(dir.path() / "tmp", "krel-stream"))
                copying = copying || fs::exists(dir.path() / "tmp" / f / "input-1");
            if (!copying) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(copying) << "no copy was being made";
        child.signal(sig);
        const auto o = child.wait();
        ::close(hold);
        EXPECT_EQ(o.status, sig == SIGINT ? 130 : 143);
        EXPECT_EQ(o.err, "krel: interrupted\n");
        EXPECT_TRUE(files_named(dir.path() / "tmp", "krel-").empty());
        EXPECT_FALSE(fs::exists(dir.path() / "out.xyz"));
    }
}

}  // namespace
