#include "io/hull.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/lines.hpp"

namespace {

using namespace krel::io;

struct Poly {
    std::vector<float> x{0.0F}, y{0.0F};  // 1-based
    Poly(std::initializer_list<std::pair<float, float>> v) {
        for (auto [a, b] : v) x.push_back(a), y.push_back(b);
    }
    int n() const { return static_cast<int>(x.size()) - 1; }
};

TEST(Iipoly, SquareEdgesAndCorners) {
    const Poly square{{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    const Poly closed{{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}};  // first vertex repeated
    const Poly wide{{0, 0}, {20, 0}, {20, 10}, {0, 10}};             // reference point below
    struct Case { float x, y; int want_square, want_wide; };
    const Case cases[] = {
        {5, 5, 1, 1},     // inside
        {15, 5, 0, 1},    // right of the square's box
        {5, 10, 1, 1},    // top edge: the segment to the reference crosses one other edge
        {0, 5, 0, 1},     // left edge: none to the left; the bottom edge below
        {10, 5, 1, 1},    // right edge
        {-1, 5, 0, 0},    // left of the box
        {5, 10.5F, 0, 0}, // above the box
        {0, 0, 0, 0},     // corner
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.x << ", " << c.y << ")");
        EXPECT_EQ(iipoly(square.x.data(), square.y.data(), square.n(), c.x, c.y), c.want_square);
        EXPECT_EQ(iipoly(closed.x.data(), closed.y.data(), closed.n(), c.x, c.y), c.want_square);
        EXPECT_EQ(iipoly(wide.x.data(), wide.y.data(), wide.n(), c.x, c.y), c.want_wide);
    }
}

using Text = krel::test::Lines;

// The ends of the list that no golden hull case (hull_*) shows.
TEST(Irpoly, EndOfList) {
    struct Case { std::vector<std::string> lines; int want; const char* what; };
    const Case cases[] = {
        {{"0 0", "1 0", "", "1 1"}, 2, "empty line"},
        {{"0 0", "1 0", "x=1 y=1"}, 2, "letter"},
        {{"0 0", "1 0", ":1 1"}, 2, "character after 9"},
        {{"0 0", "1 0", "1,,2"}, 2, "null second value"},
        {{"0 0", "1 0", "1 /"}, 2, "slash as second value"},
        {{"0 0", "1 0", "1 inf"}, 2, "infinity"},
        {{"0 0", "+1.5e0,-2D0 7 junk", "\t2 2"}, 3, "free form, tab first"},
        {{std::string(62, ' ') + "1 2"}, 0, "second number beyond column 64"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Text src(c.lines);
        StringOut echo;
        Tally tally;
        std::vector<float> xh(kHullCapacity + 1), yh(kHullCapacity + 1);
        EXPECT_EQ(irpoly(kHullCapacity, xh.data(), yh.data(), src, echo, tally, 0.0, 0.0), c.want);
        EXPECT_EQ(tally.nwrn, 0);
    }
}

TEST(Irpoly, OriginSubtractedInDouble) {
    Text src({"612345.125 5612345.5"});
    StringOut echo;
    Tally tally;
    std::vector<float> xh(2), yh(2);
    EXPECT_EQ(irpoly(1, xh.data(), yh.data(), src, echo, tally, 612345.0, 5612345.0), 1);
    EXPECT_EQ(xh[1], 0.125F);
    EXPECT_EQ(yh[1], 0.5F);
    EXPECT_EQ(echo.str(), "   612345.12  5612345.50\n");  // the absolute values; tie to even
}

}  // namespace
