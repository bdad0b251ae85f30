#include "filter/morfilt.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

using krel::filter::morfilt;

TEST(Morfilt, WindowPasses) {
    constexpr float e = -99999.0F;  // empty cell
    // 4 x 3, bottom row first: an empty cell, a zero and a negative cell.
    const std::vector<float> r43 = {5, 3, e, 4,  //
                                    6, 0, 2, 8,  //
                                    7, 9, 1, -1};
    const std::vector<float> r51 = {5, 4, 3, 2, 1};
    const std::vector<float> r13 = {3, 1, 2};
    struct Case { int nx, ny; const std::vector<float>* in; int nw, imax; std::vector<float> want; const char* what; };
    const Case cases[] = {
        // Corners see 2 x 2, edges 3 x 2; values <= 0 never count; a zero
        // centre stays 0 under the minimum; cells below 0 are copied.
        {4, 3, &r43, 1, 0, {3, 2, e, 2, 3, 0, 1, 1, 6, 1, 1, -1}, "minimum"},
        // Any non-zero imax is the maximum; a zero centre takes its neighbours.
        {4, 3, &r43, 1, 7, {6, 6, e, 8, 9, 9, 9, 8, 9, 9, 9, -1}, "maximum"},
        {5, 1, &r51, 1, 0, {4, 3, 2, 1, 1}, "a single row"},
        {1, 3, &r13, 1, 1, {3, 3, 2}, "a single column"},
        {5, 1, &r51, 2, 0, {3, 2, 1, 1, 1}, "half-width 2, clipped"},
        {5, 1, &r51, 0, 0, {5, 4, 3, 2, 1}, "half-width 0: the cell itself"},
        {5, 1, &r51, -3, 1, {5, 4, 3, 2, 1}, "negative half-width: the cell itself"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<float> out(c.in->size(), 12345.0F);
        morfilt(c.nx, c.ny, c.in->data(), out.data(), c.nw, c.imax);
        EXPECT_EQ(out, c.want);
    }
}

}  // namespace
