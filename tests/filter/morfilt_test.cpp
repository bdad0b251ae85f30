#include "filter/morfilt.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
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

// The window's contract cell by cell, as a reference.
std::vector<float> reference(int nx, int ny, const std::vector<float>& in, int nw, bool max) {
    std::vector<float> out(in.size());
    for (int j = 1; j <= ny; ++j)
        for (int i = 1; i <= nx; ++i) {
            const float c = in[static_cast<std::size_t>((j - 1) * nx + i - 1)];
            float cur = c;
            if (c >= 0.0F || c != c) {
                for (int jj = std::max(1, j - nw); jj <= std::min(ny, j + nw); ++jj)
                    for (int ii = std::max(1, i - nw); ii <= std::min(nx, i + nw); ++ii) {
                        const float v = in[static_cast<std::size_t>((jj - 1) * nx + ii - 1)];
                        if (v > 0.0F && (max ? v > cur : v < cur)) cur = v;
                    }
            }
            out[static_cast<std::size_t>((j - 1) * nx + i - 1)] = cur;
        }
    return out;
}

// Rasters of every width from 1 to 13 (the cells that go four at a time, and
// those left over at either end), with empty, zero, -0, NaN and repeated
// values: the very bits of the reference.
TEST(Morfilt, EveryWidthGivesTheReferenceBits) {
    std::uint32_t s = 99;
    auto next = [&] { return s = s * 1664525U + 1013904223U; };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float pick[] = {-99999.0F, 0.0F, -0.0F, nan, -1.0F, 3.5F, 3.5F, 7.25F, 1e-30F, 2.0F};
    for (int nx = 1; nx <= 13; ++nx) {
        for (int ny = 1; ny <= 4; ++ny) {
            for (int round = 0; round < 20; ++round) {
                std::vector<float> in(static_cast<std::size_t>(nx * ny));
                for (float& v : in) v = next() % 3 == 0 ? pick[next() % 10] : static_cast<float>(next() % 1000) * 0.01F;
                for (const int imax : {0, 1}) {
                    SCOPED_TRACE(testing::Message() << nx << " x " << ny << ", imax " << imax);
                    std::vector<float> out(in.size(), 12345.0F);
                    morfilt(nx, ny, in.data(), out.data(), 1, imax);
                    const std::vector<float> want = reference(nx, ny, in, 1, imax != 0);
                    for (std::size_t k = 0; k < in.size(); ++k)
                        ASSERT_EQ(std::bit_cast<std::uint32_t>(out[k]), std::bit_cast<std::uint32_t>(want[k])) << "cell " << k;
                }
            }
        }
    }
}

}  // namespace
