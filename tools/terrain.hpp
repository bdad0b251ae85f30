#pragma once
// Synthetic terrain for the example data and the benchmarks: a jittered grid
// of points over fractal relief with terrace steps, a ridge, a ditch, a few
// flat-roofed buildings, centimetre noise and rare high outliers. The same
// seed gives the same points on every machine (integer generator, plain
// double arithmetic, no library randomness).

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace krel::gen {

struct TerrainSpec {
    std::uint64_t seed = 1;
    std::int64_t points = 100000;
    double spacing = 0.35;   // mean distance between neighbouring points [m]
    double x0 = 612345.0;    // lower-left corner
    double y0 = 5612345.0;
};

class SplitMix {
public:
    explicit SplitMix(std::uint64_t seed) : s_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (s_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

private:
    std::uint64_t s_;
};

// Ground height at (u, v) metres from the corner, for a terrain `size` wide.
inline double ground(double u, double v, double size, std::uint64_t seed) {
    const double ph = static_cast<double>(seed % 1000) * 0.013;
    double h = 250.0;
    double amp = 6.0;
    double freq = 1.0 / 60.0;
    for (int octave = 0; octave < 5; ++octave) {
        h += amp * std::sin(u * freq * 6.283 + ph * (octave + 1)) * std::cos(v * freq * 5.117 - ph);
        amp *= 0.45;
        freq *= 2.1;
    }
    const double terrace = std::floor((u + 0.3 * v) / (size / 4.0 + 1.0));
    h += 0.8 * terrace;                                         // terrace steps
    h += 2.0 * std::exp(-std::pow((u - 0.6 * size) / 3.0, 2));  // a ridge
    h -= 1.2 * std::exp(-std::pow((v - 0.3 * size) / 1.5, 2));  // a ditch
    return h;
}

// Appends "x y z" lines (x, y with 2 decimals, z with 3) for the whole set.
template <class Sink>
void make_terrain(const TerrainSpec& spec, Sink&& sink) {
    SplitMix rng(spec.seed);
    const std::int64_t per_row = static_cast<std::int64_t>(std::ceil(std::sqrt(static_cast<double>(spec.points))));
    const double size = static_cast<double>(per_row) * spec.spacing;
    char line[96];
    for (std::int64_t k = 0; k < spec.points; ++k) {
        const double u = (static_cast<double>(k % per_row) + 0.1 + 0.8 * rng.unit()) * spec.spacing;
        const double v = (static_cast<double>(k / per_row) + 0.1 + 0.8 * rng.unit()) * spec.spacing;
        double z = ground(u, v, size, spec.seed);
        // Three buildings: flat roofs 6 to 10 m above the ground.
        for (int b = 0; b < 3; ++b) {
            const double bu = size * (0.2 + 0.3 * b), bv = size * (0.7 - 0.2 * b);
            if (std::fabs(u - bu) < 6.0 && std::fabs(v - bv) < 4.0) z = ground(bu, bv, size, spec.seed) + 6.0 + 2.0 * b;
        }
        z += (rng.unit() - 0.5) * 0.09;                 // noise of +-4.5 cm
        if (rng.next() % 2000 == 0) z += 5.0 + 10.0 * rng.unit();  // rare high outliers
        const int len = std::snprintf(line, sizeof line, "%.2f %.2f %.3f\n", spec.x0 + u, spec.y0 + v, z);
        sink(std::string_view(line, static_cast<std::size_t>(len)));
    }
}

// The default terrain of `points` points as a file in the temporary folder,
// written once and kept for later runs (benchmark inputs).
inline std::string terrain_file(std::int64_t points) {
    const std::string path = std::string(std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp") +
                             "/krel-bench-" + std::to_string(points) + ".xyz";
    if (std::FILE* probe = std::fopen(path.c_str(), "rb")) {
        std::fclose(probe);
        return path;
    }
    const std::string part = path + ".part";
    std::FILE* f = std::fopen(part.c_str(), "wb");
    if (f == nullptr) return path;
    TerrainSpec spec;
    spec.points = points;
    make_terrain(spec, [f](std::string_view l) { std::fwrite(l.data(), 1, l.size(), f); });
    std::fclose(f);
    std::rename(part.c_str(), path.c_str());
    return path;
}

inline std::string terrain_text(const TerrainSpec& spec) {
    std::string text;
    text.reserve(static_cast<std::size_t>(spec.points) * 30);
    make_terrain(spec, [&](std::string_view l) { text += l; });
    return text;
}

}  // namespace krel::gen
