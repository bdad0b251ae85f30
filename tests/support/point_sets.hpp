#pragma once
// Fixed-seed synthetic point sets for the kernel tests and benchmarks.
// Header-only so the benchmarks can use it without the test library.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace krel::test {

// Coordinates 1-based (x[0], y[0] unused), as the kernel takes them.
struct PointSet {
    std::string name;
    std::vector<float> x{0.0f};
    std::vector<float> y{0.0f};

    [[nodiscard]] std::int32_t size() const { return static_cast<std::int32_t>(x.size()) - 1; }
    void add(float px, float py) {
        x.push_back(px);
        y.push_back(py);
    }
};

// Uniform in [0, span) x [0, span).
inline PointSet uniform_points(unsigned seed, std::int32_t count, float span = 1000.0f) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> u(0.0f, span);
    PointSet p{"uniform"};
    for (std::int32_t i = 0; i < count; ++i) {
        const float px = u(gen);
        p.add(px, u(gen));
    }
    return p;
}

// Tight clusters (spreads from 2 mm to 2 m) around a few centres: many
// near-coincident points, some within the duplicate tolerance.
inline PointSet clustered_points(unsigned seed, std::int32_t count) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> centre(0.0f, 500.0f);
    std::uniform_int_distribution<int> pick(0, 7);
    std::normal_distribution<float> offset(0.0f, 1.0f);
    const float spreads[8] = {0.002f, 0.01f, 0.05f, 0.2f, 0.5f, 1.0f, 2.0f, 0.02f};
    float cx[8];
    float cy[8];
    for (int c = 0; c < 8; ++c) {
        cx[c] = centre(gen);
        cy[c] = centre(gen);
    }
    PointSet p{"clustered"};
    for (std::int32_t i = 0; i < count; ++i) {
        const int c = pick(gen);
        const float px = cx[c] + spreads[c] * offset(gen);
        p.add(px, cy[c] + spreads[c] * offset(gen));
    }
    return p;
}

// An nx x ny grid of spacing h, shuffled: every grid square is exactly
// cocircular, and rows and columns are exactly collinear.
inline PointSet grid_points(unsigned seed, std::int32_t nx, std::int32_t ny, float h = 1.0f) {
    std::vector<std::pair<std::int32_t, std::int32_t>> cells;
    for (std::int32_t j = 0; j < ny; ++j)
        for (std::int32_t i = 0; i < nx; ++i) cells.emplace_back(i, j);
    std::mt19937 gen(seed);
    std::shuffle(cells.begin(), cells.end(), gen);
    PointSet p{"grid"};
    for (const auto& [i, j] : cells) p.add(static_cast<float>(i) * h, static_cast<float>(j) * h);
    return p;
}

// Along the line y = 0.25 x over 1000 m, within 1 cm of it: slivers.
inline PointSet nearly_collinear_points(unsigned seed, std::int32_t count) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> along(0.0f, 1000.0f);
    std::uniform_real_distribution<float> across(-0.01f, 0.01f);
    PointSet p{"nearly collinear"};
    for (std::int32_t i = 0; i < count; ++i) {
        const float px = along(gen);
        p.add(px, 0.25f * px + across(gen));
    }
    return p;
}

// Projected coordinates far from the origin: 600000 + offsets below 500 m,
// rounded to float (a step of 1/16 m there), so many exact cocircularities.
inline PointSet large_points(unsigned seed, std::int32_t count) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(0.0, 500.0);
    PointSet p{"large coordinates"};
    for (std::int32_t i = 0; i < count; ++i) {
        const double ox = u(gen);
        const double oy = u(gen);
        p.add(static_cast<float>(600000.0 + ox), static_cast<float>(200000.0 + oy));
    }
    return p;
}

// The tile layout: four frame corners 0.1 beyond the bounding box of pts,
// counterclockwise from the lower left, in slots 1..4, and pts from slot 5.
inline PointSet framed(const PointSet& pts) {
    float xmin = pts.x[1];
    float xmax = pts.x[1];
    float ymin = pts.y[1];
    float ymax = pts.y[1];
    for (std::int32_t k = 2; k <= pts.size(); ++k) {
        xmin = std::min(xmin, pts.x[k]);
        xmax = std::max(xmax, pts.x[k]);
        ymin = std::min(ymin, pts.y[k]);
        ymax = std::max(ymax, pts.y[k]);
    }
    PointSet p{pts.name};
    p.add(xmin - 0.1f, ymin - 0.1f);
    p.add(xmax + 0.1f, ymin - 0.1f);
    p.add(xmax + 0.1f, ymax + 0.1f);
    p.add(xmin - 0.1f, ymax + 0.1f);
    for (std::int32_t k = 1; k <= pts.size(); ++k) p.add(pts.x[k], pts.y[k]);
    return p;
}

}  // namespace krel::test
