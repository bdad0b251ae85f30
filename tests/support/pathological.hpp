#pragma once
// Point sets that push the run to its edges: all points equal, all on one
// line, an exact grid, flat or alternating heights, millions of points in one
// square metre, map coordinates near 10^7, a tile as full as the working set
// allows. Shared by the end-to-end test (small sizes) and the benchmark (full
// sizes). Each writes "x y z" lines to a sink; the same size gives the same
// text on every machine (integer generator, fixed formats).

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "terrain.hpp"

namespace krel::test::patho {

template <class Sink, class... Values>
void put(Sink& sink, const char* format, Values... values) {
    char line[96];
    const int len = std::snprintf(line, sizeof line, format, values...);
    sink(std::string_view(line, static_cast<std::size_t>(len)));
}

// n copies of one point.
template <class Sink>
void identical(std::int64_t n, Sink&& sink) {
    for (std::int64_t k = 0; k < n; ++k) sink("612345.50 5612345.25 250.125\n");
}

// n points 1 cm apart on the line y = 2000 from x = 1000, z rising 0.1 per
// metre. The tile grid starts a quarter metre left of the first point, so
// the line ends 0.24 m into its last tile when n is a multiple of 20,000.
template <class Sink>
void line(std::int64_t n, Sink&& sink) {
    for (std::int64_t k = 0; k < n; ++k) {
        const double d = static_cast<double>(k) * 0.01;
        put(sink, "%.2f 2000.00 %.3f\n", 1000.0 + d, 100.0 + 0.1 * d);
    }
}

// A first point at (900000, 900000), then n points 0.5 m apart on a line
// 5,000 km from it (x from 5.9e6, y = 5.9e6), z rising 0.02 per metre.
// Relative to the first point, which is the origin of the stored
// coordinates, the line lies where a float step is 0.5 m; the first point's
// map coordinates select the wide result layout, in which the line fits.
template <class Sink>
void far_line(std::int64_t n, Sink&& sink) {
    sink("900000.00 900000.00 100.000\n");
    for (std::int64_t k = 0; k < n; ++k)
        put(sink, "%.2f 5900000.00 %.3f\n", 5.9e6 + 0.5 * static_cast<double>(k), 100.0 + 0.01 * static_cast<double>(k));
}

// side x side points on an exact grid of `spacing` (every square of four
// neighbours is cocircular), z a smooth swell of +-5 m.
template <class Sink>
void grid(std::int64_t side, double spacing, Sink&& sink) {
    for (std::int64_t j = 0; j < side; ++j)
        for (std::int64_t i = 0; i < side; ++i) {
            const double u = static_cast<double>(i) * spacing, v = static_cast<double>(j) * spacing;
            put(sink, "%.2f %.2f %.3f\n", 1000.0 + u, 2000.0 + v, 100.0 + 5.0 * std::sin(u / 30.0) * std::cos(v / 40.0));
        }
}

// The synthetic terrain's points (jittered grid of `spacing`), all at height z.
template <class Sink>
void flat(std::int64_t n, double spacing, double z, Sink&& sink) {
    gen::TerrainSpec spec;
    spec.points = n;
    spec.spacing = spacing;
    gen::make_terrain(spec, [&](std::string_view l) {
        const std::string_view xy = l.substr(0, l.rfind(' '));
        char tail[32];
        const int len = std::snprintf(tail, sizeof tail, " %.3f\n", z);
        sink(xy);
        sink(std::string_view(tail, static_cast<std::size_t>(len)));
    });
}

// side x side points on an exact grid of `spacing`, heights alternating
// between low and high like the squares of a chessboard.
template <class Sink>
void checkerboard(std::int64_t side, double spacing, double low, double high, Sink&& sink) {
    for (std::int64_t j = 0; j < side; ++j)
        for (std::int64_t i = 0; i < side; ++i)
            put(sink, "%.2f %.2f %.3f\n", 1000.0 + static_cast<double>(i) * spacing,
                2000.0 + static_cast<double>(j) * spacing, (i + j) % 2 == 0 ? low : high);
}

// The lowest points of `square`: one at the middle of each quarter of the
// square metre, 50 m below everything else.
inline constexpr double kPlanted[4][2] = {{1000.25, 2000.25}, {1000.75, 2000.25}, {1000.25, 2000.75}, {1000.75, 2000.75}};

// n random points inside the square metre [1000, 1001) x [2000, 2001) at
// heights 100 to 101, with the four kPlanted points at 50 among them.
template <class Sink>
void square(std::int64_t n, Sink&& sink) {
    gen::SplitMix rng(7);
    for (std::int64_t k = 0; k < n; ++k) {
        if (k % (n / 4 + 1) == n / 8) {
            const auto& p = kPlanted[k / (n / 4 + 1)];
            put(sink, "%.4f %.4f %.3f\n", p[0], p[1], 50.0);
            continue;
        }
        const double x = 1000.0 + std::floor(rng.unit() * 10000.0) / 10000.0;
        const double y = 2000.0 + std::floor(rng.unit() * 10000.0) / 10000.0;
        put(sink, "%.4f %.4f %.3f\n", x, y, 100.0 + rng.unit());
    }
}

// side x side points 1 cm apart just below 10^7 in x and y (the widest
// coordinates the result layouts can print), z a swell of +-0.3 m.
template <class Sink>
void near_1e7(std::int64_t side, Sink&& sink) {
    for (std::int64_t j = 0; j < side; ++j)
        for (std::int64_t i = 0; i < side; ++i)
            put(sink, "%.2f %.2f %.3f\n", 9999000.0 + static_cast<double>(i) * 0.01,
                9990000.0 + static_cast<double>(j) * 0.01,
                100.0 + 0.3 * std::sin(static_cast<double>(i) / 40.0) * std::cos(static_cast<double>(j) / 50.0));
}

// side x side points, one near the middle of each 0.5 m raster cell (within
// a tenth of a cell), on a gently tilted plane (1 mm a cell) with up to 10 mm
// of noise: nothing stands more than 0.02 above the opening, not even at the
// edges where the window is cut, so the filter keeps every point; with side
// 400 the one tile holds the 160,000 points of 400 x 400 cells.
template <class Sink>
void full_tile(std::int64_t side, Sink&& sink) {
    gen::SplitMix rng(11);
    for (std::int64_t j = 0; j < side; ++j)
        for (std::int64_t i = 0; i < side; ++i) {
            const double u = (static_cast<double>(i) + 0.4 + 0.2 * rng.unit()) * 0.5;
            const double v = (static_cast<double>(j) + 0.4 + 0.2 * rng.unit()) * 0.5;
            put(sink, "%.3f %.3f %.3f\n", 1000.0 + u, 2000.0 + v, 100.0 + 0.002 * u + 0.001 * v + 0.01 * rng.unit());
        }
}

}  // namespace krel::test::patho
