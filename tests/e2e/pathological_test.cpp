// Pathological inputs, each a whole run in-process at a size the suite can
// afford (the same sets at full size are in bench/bench_pathological.cpp).
// Every row says what the right answer is and why, from the filter's and the
// greedy loop's rules, and checks it; every row also checks that the run ends
// normally, that the summary counts the result lines, and that every result
// line is a point of the input.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "support/pathological.hpp"
#include "support/run_krel.hpp"

namespace {

namespace fs = std::filesystem;
namespace patho = krel::test::patho;

// A point as the result prints it: millimetres.
using Key = std::tuple<long long, long long, long long>;
Key key(double x, double y, double z) { return {std::llround(x * 1000), std::llround(y * 1000), std::llround(z * 1000)}; }

struct Point { double x, y, z; };

// The points of the x y z lines of text; other lines (an "X,Y,Z" header)
// are passed over.
std::vector<Point> parse(const std::string& text) {
    std::vector<Point> pts;
    for (const std::string& line : krel::test::split_lines(text)) {
        Point p{};
        if (std::sscanf(line.c_str(), "%lf %lf %lf", &p.x, &p.y, &p.z) == 3) pts.push_back(p);
    }
    return pts;
}

long long number_after(const std::string& text, const std::string& label) {
    const auto at = text.find(label);
    return at == std::string::npos ? -1 : std::atoll(text.c_str() + at + label.size());
}

struct Outcome : krel::test::Outcome {
    std::string input;
    std::vector<Point> nodes;  // the result's points
    long long tiles = -1;      // from the ">Tiles" line
    long long kept = -1;       // from the summary

    // rms of the last checkpoint line of the listing.
    [[nodiscard]] double last_rms() const {
        const auto end = listing.find_last_not_of('\n');
        const auto start = listing.rfind('\n', end);
        const std::string line = listing.substr(start == std::string::npos ? 0 : start + 1);
        double pct = 0, rms = -1, emax = 0;
        (void)std::sscanf(line.c_str(), "%lf %lf %lf", &pct, &rms, &emax);
        return rms;
    }
};

Outcome run_case(const std::string& input, std::vector<std::string> options) {
    krel::test::TempDir dir;
    krel::test::write_file(dir.path() / "p.xyz", input);
    options.insert(options.begin(), (dir.path() / "p.xyz").string());
    Outcome r{krel::test::run_in_process(dir.path(), options), input, {}, -1, -1};
    r.nodes = parse(r.result);
    r.tiles = number_after(r.out, ">Tiles");
    r.kept = number_after(r.out, "***KREL reduced to");
    return r;
}

template <class Make>
std::string text_of(Make make) {
    std::string text;
    make([&](std::string_view l) { text += l; });
    return text;
}

struct Case {
    const char* name;
    std::function<std::string()> input;
    std::vector<std::string> options;
    const char* right;  // the right answer, and why
    std::function<void(const Outcome&)> check;
};

// Each node of the result is a point of the input (to the printed mm).
void expect_subset(const Outcome& r) {
    std::vector<Key> in;
    for (const Point& p : parse(r.input)) in.push_back(key(p.x, p.y, p.z));
    std::sort(in.begin(), in.end());
    for (const Point& p : r.nodes) {
        if (!std::binary_search(in.begin(), in.end(), key(p.x, p.y, p.z))) {
            ADD_FAILURE() << "result node " << p.x << " " << p.y << " " << p.z << " is not an input point";
            return;
        }
    }
}

const Case kCases[] = {
    {"identical points", [] { return text_of([](auto s) { patho::identical(1'000'000, s); }); }, {},
     "one node, the point itself: the filter keeps one node per cell and all of them share one cell",
     [](const Outcome& r) {
         ASSERT_EQ(r.nodes.size(), 1U);
         EXPECT_EQ(key(r.nodes[0].x, r.nodes[0].y, r.nodes[0].z), key(612345.50, 5612345.25, 250.125));
     }},
    {"z alternating 100 and 1100",
     [] { return text_of([](auto s) { patho::checkerboard(100, 0.5, 100.0, 1100.0, s); }); }, {},
     "one node at 100: every 3 x 3 window holds a low cell, so the opening is 100 everywhere and the filter "
     "drops every high point; the low ones are flat",
     [](const Outcome& r) {
         ASSERT_EQ(r.nodes.size(), 1U);
         EXPECT_EQ(r.nodes[0].z, 100.0);
     }},
    {"many points in one square metre", [] { return text_of([](auto s) { patho::square(1'000'000, s); }); }, {},
     "the four planted low points: the raster has 2 x 2 cells, each keeps its lowest point, and a tile of "
     "four is too small for greedy insertion",
     [](const Outcome& r) {
         ASSERT_EQ(r.nodes.size(), 4U);
         std::set<Key> want, got;
         for (const auto& p : patho::kPlanted) want.insert(key(p[0], p[1], 50.0));
         for (const Point& p : r.nodes) got.insert(key(p.x, p.y, p.z));
         EXPECT_EQ(got, want);
     }},
    {"coordinates near 10^7, thinned", [] { return text_of([](auto s) { patho::near_1e7(200, s); }); }, {},
     "nodes at the input's own coordinates (in the wide layout), thinned to the tolerance",
     [](const Outcome& r) {
         EXPECT_EQ(r.tiles, 1);
         EXPECT_GT(r.kept, 1);
         EXPECT_LT(r.last_rms(), 0.03);
         for (const Point& p : r.nodes) EXPECT_GE(p.x, 9999000.0);
     }},
    {"one full tile, thinned", [] { return text_of([](auto s) { patho::full_tile(400, s); }); }, {"-t", "0.0025"},
     "greedy insertion over all 160,000 points of the tile until the rms falls below the tolerance",
     [](const Outcome& r) {
         EXPECT_EQ(r.tiles, 1);
         EXPECT_GT(r.kept, 100);
         EXPECT_LT(r.last_rms(), 0.0025);
     }},
};

// One test per row, so that ctest can run them side by side.
class Pathological : public testing::TestWithParam<std::size_t> {};

TEST_P(Pathological, RunEndsWithTheRightAnswer) {
    const Case& c = kCases[GetParam()];
    SCOPED_TRACE(testing::Message() << c.name << ": " << c.right);
    const Outcome r = run_case(c.input(), c.options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.kept, static_cast<long long>(r.nodes.size()));
    expect_subset(r);
    c.check(r);
}

INSTANTIATE_TEST_SUITE_P(Cases, Pathological, testing::Range<std::size_t>(0, std::size(kCases)),
                         [](const testing::TestParamInfo<std::size_t>& info) {
                             std::string name;
                             for (const char ch : std::string(kCases[info.param].name))
                                 if (std::isalnum(static_cast<unsigned char>(ch))) name += ch;
                             return name;
                         });

}  // namespace
