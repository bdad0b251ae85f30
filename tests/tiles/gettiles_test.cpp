#include "tiles/gettiles.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "io/textout.hpp"

namespace {

using krel::tiles::gettiles;

struct Nodes {
    std::vector<float> x{0.0F}, y{0.0F};  // 1-based
    std::int32_t n() const { return static_cast<std::int32_t>(x.size()) - 1; }
    void add(float a, float b) {
        x.push_back(a);
        y.push_back(b);
    }
};

std::vector<std::int32_t> tiles_of(const Nodes& nodes, float dx, std::string* console = nullptr) {
    std::vector<std::int32_t> itile(static_cast<std::size_t>(nodes.n()) + 1);
    krel::io::StringOut out;
    gettiles(nodes.n(), nodes.x.data(), nodes.y.data(), 400.0F * dx, dx, itile.data(), out);
    if (console != nullptr) *console = out.str();
    return {itile.begin() + 1, itile.end()};
}

// The classic renumbering: 32-bit keys from 100000 up, replaced in place by
// tile numbers with one rescan of the rest of the nodes per new tile; tiles
// are numbered by first appearance.
std::vector<std::int32_t> classic_tiles(const Nodes& nodes, float dx) {
    const std::int32_t n = nodes.n();
    const float ts = 400.0F * dx;
    float xmin = nodes.x[1], xmax = nodes.x[1], ymin = nodes.y[1];
    for (std::int32_t i = 2; i <= n; ++i) {
        xmin = nodes.x[i] < xmin ? nodes.x[i] : xmin;
        xmax = nodes.x[i] > xmax ? nodes.x[i] : xmax;
        ymin = nodes.y[i] < ymin ? nodes.y[i] : ymin;
    }
    const float h = 0.5F * dx, x0 = xmin - h, y0 = ymin - h, r = 1.0F / ts;
    const auto nxt = static_cast<std::int32_t>((xmax - x0) / ts) + 2;
    std::vector<std::int32_t> itile(static_cast<std::size_t>(n) + 1);
    for (std::int32_t i = 1; i <= n; ++i) {
        const auto ix = static_cast<std::int32_t>((nodes.x[i] - x0) * r);
        const auto iy = static_cast<std::int32_t>((nodes.y[i] - y0) * r);
        itile[i] = ix + iy * nxt + 100000;
    }
    std::int32_t ntiles = 0;
    for (std::int32_t i = 1; i <= n; ++i) {
        if (itile[i] > ntiles) {
            const std::int32_t key = itile[i];
            ++ntiles;
            for (std::int32_t j = i; j <= n; ++j)
                if (itile[j] == key) itile[j] = ntiles;
        }
    }
    return {itile.begin() + 1, itile.end()};
}

TEST(Gettiles, SameNumbersAsTheClassicRescan) {
    for (unsigned seed : {1U, 2U, 3U}) {
        for (float dx : {0.5F, 0.05F, 0.013F}) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << ", dx " << dx);
            std::mt19937 rng(seed);
            std::uniform_real_distribution<float> u(-300.0F, 900.0F);
            Nodes nodes;
            for (int k = 0; k < 4000; ++k) nodes.add(u(rng), u(rng) * 0.5F);
            EXPECT_EQ(tiles_of(nodes, dx), classic_tiles(nodes, dx));
        }
    }
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
        Nodes nodes;
        for (auto [a, b] : c.pts) nodes.add(a, b);
        EXPECT_EQ(tiles_of(nodes, 0.1F), c.want);
    }
}

TEST(Gettiles, ProgressAndTileLine) {
    Nodes nodes;
    for (int k = 0; k < 100002; ++k) nodes.add(static_cast<float>(k % 100), static_cast<float>(k / 100) * 0.1F);
    std::string console;
    tiles_of(nodes, 0.5F, &console);
    EXPECT_EQ(console, "\r\\>tiles  50%        \r|>tiles 100%        \r|>Tiles   1\n");

    Nodes none;
    std::vector<std::int32_t> itile(1);
    krel::io::StringOut out;
    EXPECT_EQ(gettiles(0, none.x.data(), none.y.data(), 200.0F, 0.5F, itile.data(), out), 0);
    EXPECT_EQ(out.str(), "\r|>Tiles   0\n");
}

}  // namespace
