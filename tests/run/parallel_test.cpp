// Every thread count gives the same run, byte for byte, also when tiles draw
// from the seed triples of point location; a memory budget changes nothing
// but the two lines that say so.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "run/run.hpp"
#include "support/run_krel.hpp"
#include "tin/test_seam.hpp"

namespace {

namespace fs = std::filesystem;
using krel::test::read_file;

struct Threaded {
    krel::test::Outcome o;
    std::int64_t reruns = 0;
    krel::tin::SeedTriple trfind, ctrfind;  // the seed state the run ended with
};

// Forced draws: point location starts from a random node at about one
// location in g_every, chosen by a hash of the location alone so that every
// thread makes the same choice.
std::uint32_t g_every = 0;
bool draw_now(std::int32_t n, float px, float py) {
    std::uint32_t a, b;
    std::memcpy(&a, &px, sizeof a);
    std::memcpy(&b, &py, sizeof b);
    std::uint32_t h = a * 0x9E3779B1U ^ b * 0x85EBCA77U ^ static_cast<std::uint32_t>(n) * 0xC2B2AE3DU;
    h ^= h >> 15;
    h *= 0x2C1B3C6DU;
    h ^= h >> 13;
    return h % g_every == 0;
}

// krel in-process in dir with -j threads; every run in one folder, so that
// the names it prints are the same.
Threaded run_j(const fs::path& dir, std::vector<std::string> args, const char* threads, std::uint32_t draw_every = 0) {
    args.insert(args.end(), {"-j", threads});
    Threaded r;
    krel::RunHooks hooks;
    hooks.reruns = &r.reruns;
    hooks.final_trfind = &r.trfind;
    hooks.final_ctrfind = &r.ctrfind;
    g_every = draw_every;
    krel::tin::force_draw = draw_every > 0 ? draw_now : nullptr;
    r.o = krel::test::run_in_process(dir, args, hooks);
    krel::tin::force_draw = nullptr;
    return r;
}

auto seeds(const krel::tin::SeedTriple& s) { return std::tuple(s.ix, s.iy, s.iz, s.draws); }

void expect_same(const Threaded& a, const Threaded& b) {
    krel::test::expect_same(a.o, b.o);
    EXPECT_EQ(seeds(a.trfind), seeds(b.trfind));
    EXPECT_EQ(seeds(a.ctrfind), seeds(b.ctrfind));
}

// The run at -j 1 against the same run at each of `threads`.
void expect_same_for_threads(const fs::path& dir, const std::vector<std::string>& args,
                             std::initializer_list<const char*> threads, bool expect_progress = false) {
    const Threaded serial = run_j(dir, args, "1");
    ASSERT_EQ(serial.o.status, 0) << serial.o.err;
    if (expect_progress) {
        ASSERT_NE(serial.o.out.find("M \r"), std::string::npos) << "no progress text";
    }
    for (const char* j : threads) {
        SCOPED_TRACE(std::string("-j ") + j);
        expect_same(serial, run_j(dir, args, j));
    }
}

TEST(ThreadedTiles, SameOutputForEveryThreadCount) {
    krel::test::TempDir dir;
    const std::string file = krel::test::write_terrain(dir.path() / "t3.xyz", 40000, 3);
    struct Case { std::vector<std::string> args; const char* what; };
    const Case cases[] = {
        {{file, "-r", "0.05"}, "many tiles of ~1000 points"},
        {{file, "-r", "0.02", "-t", "0.01"}, "small tiles, tight tolerance"},
        {{file, "-r", "0.05", "-t", "0", "-f", "ag"}, "filter only"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expect_same_for_threads(dir.path(), c.args, {"2", "4"});
    }
}

// With point location drawing a random start every few calls, almost every
// tile depends on the seed state it is handed: the threads must hand the true
// state or run the tile again. The true state was once assigned after the
// lock was released while workers copied it under the lock, in two reads: a
// worker could start a tile from half an old and half a new state, and the
// tile then passed as run from the true one. Many small tiles that all draw,
// at four threads, three times over: ThreadSanitizer reports such a race, and
// every build must give the serial run.
TEST(ThreadedTiles, TilesThatDrawGiveTheSerialResult) {
    krel::test::TempDir dir;
    const std::string file = krel::test::write_terrain(dir.path() / "t5.xyz", 30000, 5);
    struct Case { std::uint32_t every; const char* dx; int rounds; };
    for (const Case& c : {Case{7, "0.03", 3}, Case{300, "0.04", 1}}) {
        SCOPED_TRACE(testing::Message() << "draw every " << c.every << " locations");
        const std::vector<std::string> args{file, "-r", c.dx};
        const Threaded serial = run_j(dir.path(), args, "1", c.every);
        ASSERT_EQ(serial.o.status, 0) << serial.o.err;
        EXPECT_EQ(serial.reruns, 0);
        EXPECT_GT(serial.ctrfind.draws, 100);
        expect_same(serial, run_j(dir.path(), args, "2", c.every));
        std::int64_t reruns = 0;
        for (int round = 1; round <= c.rounds; ++round) {
            SCOPED_TRACE(testing::Message() << "-j 4, round " << round);
            const Threaded four = run_j(dir.path(), args, "4", c.every);
            expect_same(serial, four);
            reruns += four.reruns;
        }
        EXPECT_GT(reruns, 0) << "no tile was run again";
    }
}

// Without the budget's two lines, the run is the same; no temporary file stays.
TEST(ThreadedSpill, SpilledRunsEqualRunsInMemory) {
    krel::test::TempDir dir;
    const std::string file = krel::test::write_terrain(dir.path() / "t7.xyz", 120000, 7);
    krel::test::write_file(dir.path() / "hull.txt", "612347 5612346\n612460 5612347\n612462 5612460\n612346 5612455\n");
    const std::string hull = (dir.path() / "hull.txt").string();
    std::string cols_text;  // the same points with two leading columns, for -c 345
    for (const std::string& l : krel::test::split_lines(read_file(file))) cols_text += "7 8 " + l + "\n";
    krel::test::write_file(dir.path() / "cols.txt", cols_text);
    const std::string cols = (dir.path() / "cols.txt").string();
    struct Case { std::vector<std::string> args; const char* what; };
    const Case cases[] = {
        {{file, "-r", "0.1"}, "several groups of tiles"},
        {{file}, "one tile larger than the budget"},
        {{file, "-r", "0.05", "-h", hull, "-z", "248", "-Z", "265"}, "hull and z range"},
        {{cols, "-c", "345", "-r", "0.1", "-f", "gen"}, "column selection"},
        {{file, "-r", "-1"}, "store as loaded"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Threaded plain = run_j(dir.path(), c.args, "1");
        ASSERT_EQ(plain.o.status, 0) << plain.o.err;
        std::vector<std::string> m = c.args;
        m.insert(m.end(), {"-m", "1"});
        Threaded spilled = run_j(dir.path(), m, "2");
        // The echo and the spill line are the only differences.
        const std::string echo = " >memory for points [MB] =       1\n";
        const std::string said = " >points kept in temporary files for the memory budget\n";
        ASSERT_NE(spilled.o.out.find(echo), std::string::npos);
        ASSERT_NE(spilled.o.out.find(said), std::string::npos) << spilled.o.out;
        spilled.o.out.erase(spilled.o.out.find(echo), echo.size());
        spilled.o.out.erase(spilled.o.out.find(said), said.size());
        expect_same(plain, spilled);
    }
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find("krel-spill"), std::string::npos) << e.path();
}

// Files of several megabytes are read in chunks side by side when threads are
// given; the counters, messages and stored points must be those of reading
// them in one piece, whatever falls on a chunk's edge.
TEST(ThreadedReading, SameAsReadingInOnePiece) {
    krel::test::TempDir dir;
    const std::vector<std::string> lines = krel::test::split_lines(krel::test::terrain(260000));
    std::string messy, cut, comma;
    const std::size_t mid = lines.size() / 2;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        // Read errors, blank lines, CR LF, extra values, throughout.
        messy += (i % 7919 == 5 ? "a title line" : i % 5003 == 7 ? l + "\r" : i % 4001 == 3 ? l + " 17 0.5"
                  : i % 6007 == 11 ? "" : l) + "\n";
        // Records cut over three lines, the first one long, around the
        // middle: the split between two chunks falls inside such a record.
        if (i + 50 >= mid && i < mid + 50) {
            std::istringstream f(l);
            std::string x, y, z;
            f >> x >> y >> z;
            cut += x + std::string(300, ' ') + "\n" + y + "\n" + z + "\n";
        } else {
            cut += l + "\n";
        }
        // The comma layout, with a hull and a z range.
        std::string c = "1," + l;
        std::replace(c.begin(), c.end(), ' ', ',');
        comma += c + "\n";
    }
    krel::test::write_file(dir.path() / "messy.xyz", messy);
    krel::test::write_file(dir.path() / "cut.xyz", cut);
    krel::test::write_file(dir.path() / "comma.xyz", comma);
    krel::test::write_file(dir.path() / "hull.txt", "612350 5612348\n612480 5612350\n612482 5612480\n612349 5612470\n");
    const std::string messy_f = (dir.path() / "messy.xyz").string();
    const std::string cut_f = (dir.path() / "cut.xyz").string();
    const std::string comma_f = (dir.path() / "comma.xyz").string();
    const std::string hull = (dir.path() / "hull.txt").string();
    struct Case { std::vector<std::string> args; const char* what; };
    const Case cases[] = {
        {{messy_f, "-r", "-1"}, "read errors, blank lines, CR LF, extra values"},
        {{cut_f, "-r", "-1"}, "a record cut by the chunks' edge"},
        {{comma_f, "-h", hull, "-z", "249", "-Z", "262", "-r", "-1"}, "comma layout, hull and z range"},
        {{messy_f, "-c", "213", "-r", "-1"}, "column selection"},
        {{messy_f, cut_f, comma_f, "-t", "0"}, "three files in one run, tiles"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expect_same_for_threads(dir.path(), c.args, {"2", "3"}, true);
    }
}

}  // namespace
