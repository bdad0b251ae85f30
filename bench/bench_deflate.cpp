// Greedy insertion of one full tile: about 160,000 filtered points of the
// synthetic terrain, at tolerances 0.1, 0.03 and 0.01, selecting by the
// tournament tree and (for comparison, same output) by a full scan.

#include <benchmark/benchmark.h>

#include <numeric>
#include <vector>

#include "deflate/sdeflate.hpp"
#include "filter/sfilt.hpp"
#include "io/textout.hpp"
#include "terrain.hpp"

namespace {

struct FilteredTile {
    std::vector<float> x{0.0F}, y{0.0F}, z{0.0F};  // 1-based
    std::vector<std::int32_t> idx;
    FilteredTile() {
        // 200 m square at 0.25 m: about four points per 0.5 m cell.
        krel::gen::TerrainSpec spec;
        spec.spacing = 0.25;
        spec.points = 800 * 800;
        const double x0 = spec.x0, y0 = spec.y0;
        krel::gen::make_terrain(spec, [&](std::string_view l) {
            double px = 0, py = 0, pz = 0;
            std::sscanf(std::string(l).c_str(), "%lf %lf %lf", &px, &py, &pz);
            x.push_back(static_cast<float>(px - x0));
            y.push_back(static_cast<float>(py - y0));
            z.push_back(static_cast<float>(pz));
        });
        idx.resize(x.size() - 1);
        std::iota(idx.begin(), idx.end(), 1);
        krel::filter::FilterWork fw;
        idx.resize(static_cast<std::size_t>(krel::filter::sfilt(x.data(), y.data(), z.data(), idx, 0.5F, fw)));
    }
};

const FilteredTile& tile() {
    static const FilteredTile t;
    return t;
}

void BM_Sdeflate(benchmark::State& state) {
    const FilteredTile& t = tile();
    const float tol = static_cast<float>(state.range(0)) / 1000.0F;
    krel::deflate::DeflateOptions opt;
    opt.scan = state.range(1) != 0;
    krel::deflate::DeflateWork w;
    std::int32_t kept = 0;
    for (auto _ : state) {
        std::vector<std::int32_t> idx = t.idx;
        krel::tin::KernelState kernel;
        krel::io::StringOut listing, console;
        kept = krel::deflate::sdeflate(t.x.data(), t.y.data(), t.z.data(), idx, tol, w, kernel, listing, console, opt);
    }
    state.counters["points"] = static_cast<double>(t.idx.size());
    state.counters["kept"] = kept;
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(t.idx.size()));
}
BENCHMARK(BM_Sdeflate)
    ->Args({100, 0})->Args({30, 0})->Args({10, 0})
    ->Args({100, 1})->Args({30, 1})->Args({10, 1})
    ->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
