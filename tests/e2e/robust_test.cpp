// Runs that end badly: interrupted, out of file size, writing through a link,
// a listing named like an input. None may leave a half-written result, a
// temporary file, or report success, or touch an input.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/run_krel.hpp"

namespace {

namespace fs = std::filesystem;
using krel::test::files_named;
using krel::test::read_file;
using krel::test::write_file;

// Waits until pred() holds or the child ended; true when pred() held.
template <class Pred>
bool wait_for(const krel::test::Running& child, Pred pred) {
    for (int i = 0; i < 6000 && child.alive(); ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pred();
}

TEST(Interrupt, OldResultIntactAndNoTemporaryFileLeft) {
    krel::test::TempDir dir;
    krel::test::write_terrain(dir.path() / "p.xyz", 1'500'000);
    struct Case { int sig, status; std::vector<std::string> extra; const char* what; };
    const Case cases[] = {
        {SIGINT, 130, {}, "SIGINT while tiles are written"},
        {SIGTERM, 143, {}, "SIGTERM while tiles are written"},
        {SIGINT, 130, {"-m", "2"}, "SIGINT with points on disk"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write_file(dir.path() / "out.xyz", "old result\n");
        std::vector<std::string> args{"p.xyz", "-r", "0.02", "-t", "0.005", "-j", "1"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        krel::test::Running child(dir.path(), args, {"env", "TMPDIR=" + dir.path().string()});
        const bool writing = wait_for(child, [&] { return !files_named(dir.path(), ".xyz.krel-").empty(); });
        ASSERT_TRUE(writing) << "the run ended before its result was being written";
        child.signal(c.sig);
        const auto o = child.wait();
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.err, "krel: interrupted\n");
        EXPECT_EQ(read_file(dir.path() / "out.xyz"), "old result\n");
        EXPECT_TRUE(files_named(dir.path(), ".xyz.krel-").empty());
        EXPECT_TRUE(files_named(dir.path(), "krel-spill").empty());
    }
}

TEST(WriteFailure, FileSizeLimitIsAnIoError) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer runtime writes its own files under the limit";
#endif
    if (std::system("prlimit --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "prlimit not found";
    krel::test::TempDir dir;
    krel::test::write_terrain(dir.path() / "p.xyz", 20000);
    // Ignoring SIGXFSZ turns the limit into a failing write (EFBIG).
    const std::vector<std::string> limited{"prlimit", "--fsize=20000", "--", "sh", "-c", "trap '' XFSZ; exec \"$0\" \"$@\""};
    {
        write_file(dir.path() / "out.xyz", "old result\n");
        const auto o = krel::test::run_krel(dir.path(), {"p.xyz", "-r", "-1"}, nullptr, limited);
        EXPECT_EQ(o.status, 2);
        EXPECT_EQ(o.err, "krel: cannot write 'out.xyz': File too large\n");
        EXPECT_EQ(read_file(dir.path() / "out.xyz"), "old result\n");
        EXPECT_TRUE(files_named(dir.path(), ".xyz.krel-").empty());
    }
    {
        // A hull echo larger than the limit: the listing fails.
        std::string hull;
        for (int k = 0; k < 1000; ++k) hull += std::to_string(612345 + k % 100) + " " + std::to_string(5612345 + k / 100) + "\n";
        write_file(dir.path() / "hull.txt", hull);
        const auto o = krel::test::run_krel(dir.path(), {"p.xyz", "-h", "hull.txt"}, nullptr, limited);
        EXPECT_EQ(o.status, 2);
        EXPECT_EQ(o.err, "krel: cannot write 'out.err': File too large\n");
    }
}

TEST(ResultLink, TheLinkTargetIsReplaced) {
    krel::test::TempDir dir;
    krel::test::write_terrain(dir.path() / "p.xyz", 3000);
    fs::create_directories(dir.path() / "real");
    write_file(dir.path() / "real" / "target.xyz", "old result\n");
    fs::create_symlink("real/target.xyz", dir.path() / "out.xyz");
    const auto o = krel::test::run_krel(dir.path(), {"p.xyz"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(fs::is_symlink(dir.path() / "out.xyz"));
    const std::string result = read_file(dir.path() / "real" / "target.xyz");
    EXPECT_NE(result, "old result\n");
    EXPECT_FALSE(result.empty());
    EXPECT_TRUE(files_named(dir.path() / "real", ".xyz.krel-").empty());

    // The replaced file keeps its permissions.
    fs::permissions(dir.path() / "real" / "target.xyz", fs::perms::owner_read | fs::perms::owner_write |
                                                           fs::perms::group_read);
    ASSERT_EQ(krel::test::run_krel(dir.path(), {"p.xyz"}).status, 0);
    EXPECT_EQ(fs::status(dir.path() / "real" / "target.xyz").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // A link to a file that does not exist yet: the file is created.
    fs::create_symlink("real/new.xyz", dir.path() / "link.xyz");
    const auto o2 = krel::test::run_krel(dir.path(), {"p.xyz", "-o", "link.xyz"});
    ASSERT_EQ(o2.status, 0) << o2.err;
    EXPECT_EQ(read_file(dir.path() / "real" / "new.xyz"), result);
}

TEST(ResultFifo, PipesAndDevicesAreWrittenInPlace) {
    // Replacing a FIFO (or /dev/null, run as root) by a plain file would
    // break it for everyone after; a listing in one cannot be emptied first.
    struct Case {
        const char* what;
        const char* fifo;
        std::vector<std::string> args;  // run_krel reads out.xyz and out.err back: neither is the FIFO
    };
    const Case cases[] = {
        {"the result named by -o", "pipe.xyz", {"p.xyz", "-o", "pipe.xyz"}},
        {"the listing", "l.err", {"p.xyz", "-p", "l"}},
    };
    krel::test::TempDir dir;
    krel::test::write_terrain(dir.path() / "p.xyz", 3000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path fifo = dir.path() / c.fifo;
        ASSERT_EQ(krel::test::run_krel(dir.path(), c.args).status, 0);
        const std::string expected = read_file(fifo);
        ASSERT_FALSE(expected.empty());
        fs::remove(fifo);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::string got;
        std::thread reader([&] { got = read_file(fifo); });
        const auto o = krel::test::run_krel(dir.path(), c.args);
        // Frees the reader should krel never have opened the FIFO.
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        reader.join();
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(got, expected);
        EXPECT_TRUE(fs::is_fifo(fifo));
        EXPECT_TRUE(files_named(dir.path(), ".krel-").empty());
        fs::remove(fifo);
    }
}

TEST(ErrorEnd, TemporaryFilesGone) {
    krel::test::TempDir dir;
    krel::test::write_terrain(dir.path() / "p.xyz", 100000);
    fs::create_directories(dir.path() / "res");
    // The result name is a folder: the first tile fails, after the points went to disk.
    const auto o = krel::test::run_krel(dir.path(), {"p.xyz", "-m", "1", "-o", "res"}, nullptr,
                                        {"env", "TMPDIR=" + dir.path().string()});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "krel: cannot open 'res' for writing: Is a directory\n");
    EXPECT_TRUE(files_named(dir.path(), "krel-spill").empty());
    EXPECT_TRUE(files_named(dir.path(), ".xyz.krel-").empty());
}

TEST(ListingName, AnInputIsNeverOverwritten) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* link;  // out.err made a symbolic link to p.xyz ("s") or a hard link ("h"), or nothing
    };
    const Case cases[] = {
        {"the point file is named like the listing", {"out.err"}, ""},
        {"a second point file is the listing", {"p.xyz", "out.err"}, ""},
        {"the prefix names a point file's listing", {"p.xyz", "data.err", "-p", "data"}, ""},
        {"the hull file is the listing", {"p.xyz", "-h", "out.err"}, ""},
        {"the listing is a symbolic link to the point file", {"p.xyz"}, "s"},
        {"the listing is a hard link to the point file", {"p.xyz"}, "h"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        krel::test::TempDir dir;
        krel::test::write_terrain(dir.path() / "p.xyz", 3000);
        const std::string points = read_file(dir.path() / "p.xyz");
        // Also a point file and a hull: three corners well around the points.
        const std::string named_input = "0 0 1\n-1e6 -1e6 0\n1e6 -1e6 0\n0 1e6 0\n";
        if (std::string(c.link) == "s") {
            fs::create_symlink("p.xyz", dir.path() / "out.err");
        } else if (std::string(c.link) == "h") {
            fs::create_hard_link(dir.path() / "p.xyz", dir.path() / "out.err");
        } else {
            for (const char* f : {"out.err", "data.err"}) write_file(dir.path() / f, named_input);
        }
        const auto o = krel::test::run_krel(dir.path(), c.args);
        EXPECT_EQ(o.status, 1);
        EXPECT_NE(o.out.find("\n **error: listing name is an input file\n"), std::string::npos) << o.out;
        EXPECT_EQ(read_file(dir.path() / "p.xyz"), points);
        if (*c.link == '\0') {
            EXPECT_EQ(read_file(dir.path() / "out.err"), named_input);
        }
        EXPECT_FALSE(fs::exists(dir.path() / "out.xyz"));
        EXPECT_FALSE(fs::exists(dir.path() / "data.xyz"));
    }
}

}  // namespace
