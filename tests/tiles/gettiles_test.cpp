#include "tiles/gettiles.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "io/textout.hpp"
#include "support/point_sets.hpp"

namespace {

using krel::tiles::gettiles;

std::vector<std::int32_t> tiles_of(const krel::test::PointSet& nodes, float dx) {
    std::vector<std::int32_t> itile(static_cast<std::size_t>(nodes.size()) + 1);
    krel::io::StringOut out;
    gettiles(nodes.size(), nodes.x.data(), nodes.y.data(), 400.0F * dx, dx, itile.data(), out);
    return {itile.begin() + 1, itile.end()};
}

// Coordinates far beyond any survey (a point file's 6e21, read in a run
// with raster 0.1) once overflowed the column count of the grid key, and
// a key that wrapped around put distant cells into one tile.
TEST(Gettiles, HugeCoordinatesKeepCellsApart) {
    struct Case { std::vector<std::pair<float, float>> pts; std::vector<std::int32_t> want; const char* what; };
    const float far = 0x1p62F * 40.0F;  // exactly 2^62 tiles of 40 right of the origin
    const Case cases[] = {
        {{{0, 0}, {1e21F, 0}, {0, 1e21F}, {1e21F, 1e21F}, {1, 1}}, {1, 2, 3, 4, 1}, "column count past 64 bits"},
        {{{0, 0}, {far, 0}, {330, 0}, {0, 180}}, {1, 2, 3, 4}, "row 4 of 2^62 + 2 columns wraps to column 8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        krel::test::PointSet nodes;
        for (auto [a, b] : c.pts) nodes.add(a, b);
        EXPECT_EQ(tiles_of(nodes, 0.1F), c.want);
    }
}

}  // namespace
