// Tile numbering and tile collection at 1 and 10 million points, default
// raster width (tiles of 200 m) and a fine one (tiles of 4 m, many tiles).

#include <benchmark/benchmark.h>

#include <vector>

#include "io/textout.hpp"
#include "terrain.hpp"
#include "tiles/gettiles.hpp"

namespace {

struct Points {
    std::vector<float> x{0.0F}, y{0.0F};  // 1-based, relative to the first point
    explicit Points(std::int64_t n) {
        krel::gen::TerrainSpec spec;
        spec.points = n;
        // The generator's spacing over a square: rows of sqrt(n) points.
        const auto per_row = static_cast<std::int64_t>(std::ceil(std::sqrt(static_cast<double>(n))));
        krel::gen::SplitMix rng(spec.seed);
        for (std::int64_t k = 0; k < n; ++k) {
            x.push_back(static_cast<float>((static_cast<double>(k % per_row) + rng.unit()) * spec.spacing));
            y.push_back(static_cast<float>((static_cast<double>(k / per_row) + rng.unit()) * spec.spacing));
        }
    }
    [[nodiscard]] std::int32_t n() const { return static_cast<std::int32_t>(x.size()) - 1; }
};

// The points of each size, made once for both benchmarks.
const Points& points(std::int64_t n) {
    static const Points* made[2] = {};
    const int which = n == 1'000'000 ? 0 : 1;
    if (made[which] == nullptr) made[which] = new Points(n);
    return *made[which];
}

void BM_Gettiles(benchmark::State& state) {
    const Points& p = points(state.range(0));
    const float dx = static_cast<float>(state.range(1)) / 1000.0F;
    std::vector<std::int32_t> itile(static_cast<std::size_t>(p.n()) + 1);
    std::int32_t ntiles = 0;
    for (auto _ : state) {
        krel::io::StringOut console;
        ntiles = krel::tiles::gettiles(p.n(), p.x.data(), p.y.data(), 400.0F * dx, dx, itile.data(), console);
    }
    state.counters["tiles"] = ntiles;
    state.SetItemsProcessed(state.iterations() * p.n());
}
BENCHMARK(BM_Gettiles)->Args({1'000'000, 500})->Args({10'000'000, 500})->Args({1'000'000, 10})->Args({10'000'000, 10})->Unit(benchmark::kMillisecond);

void BM_CollectTiles(benchmark::State& state) {
    const Points& p = points(state.range(0));
    const float dx = static_cast<float>(state.range(1)) / 1000.0F;
    std::vector<std::int32_t> itile(static_cast<std::size_t>(p.n()) + 1), idx(itile.size());
    krel::io::StringOut console;
    const std::int32_t ntiles = krel::tiles::gettiles(p.n(), p.x.data(), p.y.data(), 400.0F * dx, dx, itile.data(), console);
    std::vector<std::int64_t> start;
    for (auto _ : state) {
        krel::tiles::collect_tiles(p.n(), itile.data(), ntiles, idx.data(), start);
        benchmark::DoNotOptimize(idx.data());
    }
    state.counters["tiles"] = ntiles;
    state.SetItemsProcessed(state.iterations() * p.n());
}
BENCHMARK(BM_CollectTiles)->Args({1'000'000, 500})->Args({10'000'000, 500})->Args({1'000'000, 10})->Args({10'000'000, 10})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
