// Raster filter on one full tile: 400 x 400 cells at the default width 0.5,
// with 1 or 4 points per cell of fixed-seed synthetic terrain.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include "filter/grid.hpp"
#include "filter/sfilt.hpp"
#include "filter/sparse.hpp"

namespace {

constexpr int kSide = 400;   // cells per tile side
constexpr float kDx = 0.5F;  // raster width

// splitmix64: the same points on every standard library.
struct Rng {
    std::uint64_t s;
    std::uint64_t next() {
        std::uint64_t z = (s += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    float unit() { return static_cast<float>(next() >> 40) * 0x1.0p-24F; }  // [0, 1)
};

// Rolling ground with noise, 5 % vegetation and buildings above it; points in
// cell order with `per_cell` points jittered inside each cell, as a scan line
// would bring them.
struct Terrain {
    std::vector<float> x{0.0F}, y{0.0F}, z{0.0F};  // 1-based node arrays
    std::vector<std::int32_t> idx;                 // 1 .. n

    explicit Terrain(int per_cell, std::uint64_t seed = 1) {
        Rng rng{seed};
        for (int j = 0; j < kSide; ++j) {
            for (int i = 0; i < kSide; ++i) {
                for (int m = 0; m < per_cell; ++m) {
                    const float px = (static_cast<float>(i) + rng.unit()) * kDx;
                    const float py = (static_cast<float>(j) + rng.unit()) * kDx;
                    float pz = 100.0F + 3.0F * std::sin(px * 0.05F) * std::cos(py * 0.04F) +
                               0.03F * (rng.unit() - 0.5F);
                    if (rng.unit() < 0.05F) pz += 1.0F + 10.0F * rng.unit();  // vegetation
                    if ((i / 40) % 3 == 1 && (j / 50) % 4 == 2) pz += 6.0F;   // buildings
                    x.push_back(px);
                    y.push_back(py);
                    z.push_back(pz);
                }
            }
        }
        idx.resize(x.size() - 1);
        std::iota(idx.begin(), idx.end(), 1);
    }
};

void report(benchmark::State& state, std::size_t points, std::int64_t kept) {
    const auto iters = static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(points));
    state.counters["cells/s"] =
        benchmark::Counter(iters * kSide * kSide, benchmark::Counter::kIsRate);
    state.counters["kept"] = static_cast<double>(kept);
}

void BM_Sfilt(benchmark::State& state) {
    const Terrain t(static_cast<int>(state.range(0)));
    const krel::filter::Grid g = krel::filter::tile_grid(t.x.data(), t.y.data(), t.idx, kDx);
    if (g.nx != kSide || g.ny != kSide) state.SkipWithError("tile is not 400 x 400 cells");
    krel::filter::FilterWork work;
    std::vector<std::int32_t> idx;
    int kept = 0;
    for (auto _ : state) {
        state.PauseTiming();
        idx = t.idx;  // sfilt rewrites the list
        state.ResumeTiming();
        kept = krel::filter::sfilt(t.x.data(), t.y.data(), t.z.data(), idx, kDx, work);
        benchmark::DoNotOptimize(idx.data());
    }
    // The occupied-cells path must agree before the figure means anything.
    std::vector<std::int32_t> other = t.idx;
    krel::filter::SparseWork sparse;
    const int kept_sparse =
        krel::filter::sfilt_sparse(t.x.data(), t.y.data(), t.z.data(), other, g, sparse);
    other.resize(static_cast<std::size_t>(kept_sparse));
    idx.resize(static_cast<std::size_t>(kept));
    if (other != idx) state.SkipWithError("cell-by-cell and occupied-cells results differ");
    report(state, t.idx.size(), kept);
}
BENCHMARK(BM_Sfilt)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

// The fallback for oversized rasters, on the same tile, for comparison.
void BM_SfiltSparse(benchmark::State& state) {
    const Terrain t(static_cast<int>(state.range(0)));
    const krel::filter::Grid g = krel::filter::tile_grid(t.x.data(), t.y.data(), t.idx, kDx);
    krel::filter::SparseWork work;
    std::vector<std::int32_t> idx;
    int kept = 0;
    for (auto _ : state) {
        state.PauseTiming();
        idx = t.idx;
        state.ResumeTiming();
        kept = krel::filter::sfilt_sparse(t.x.data(), t.y.data(), t.z.data(), idx, g, work);
        benchmark::DoNotOptimize(idx.data());
    }
    report(state, t.idx.size(), kept);
}
BENCHMARK(BM_SfiltSparse)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
