#include <gtest/gtest.h>

#include <string>

#include "run/sequence.hpp"

namespace {

TEST(TileLine, FieldsAndPercentages) {
    struct Case { int it; long long npt, before; std::string want; };
    const Case cases[] = {
        {1, 3, 3, " >tile   1, nodes     3 (100%)  "},      // every node kept
        {12, 1, 8, " >tile  12, nodes     1 ( 13%)  "},     // 12.5 rounds away from zero
        {7, 1, 200, " >tile   7, nodes     1 (  1%)  "},    // 0.5 rounds up
        {7, 1, 201, " >tile   7, nodes     1 (  0%)  "},    // below a half
        {3, 1234567, 1234567, " >tile   3, nodes****** (100%)  "},  // wider than 6 columns
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want);
        EXPECT_EQ(krel::tile_line(c.it, c.npt, c.before), c.want);
        EXPECT_EQ(krel::tile_line(c.it, c.npt, c.before).size(), 32U);
    }
}

TEST(SummaryLine, WidthSwitchAndPercentages) {
    struct Case { long long total, n; std::string want; };
    const Case cases[] = {
        {999998, 2000000, "***KREL reduced to 999998 nodes (50%)\n"},     // 7 columns up to 999998
        {999999, 2000000, "***KREL reduced to   999999 nodes (50%)\n"},   // 9 columns from 999999
        {4, 4, "***KREL reduced to      4 nodes (**%)\n"},                 // 100 does not fit
        {0, 0, "***KREL reduced to      0 nodes ( 0%)\n"},                 // nothing loaded
        {1, 300, "***KREL reduced to      1 nodes ( 0%)\n"},
        {29, 1000, "***KREL reduced to     29 nodes ( 3%)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want);
        EXPECT_EQ(krel::summary_line(c.total, c.n), c.want);
    }
}

}  // namespace
