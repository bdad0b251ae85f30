// The mesh outputs: the Delaunay triangulation of the kept nodes (clip and
// canonical order included) and the fit report's point location, walking
// from the previous point. Nodes are uniform over a square at the density of
// a thinned terrain; filtered points follow in tile-like rows, as the run
// hands them over.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <random>
#include <vector>

#include "mesh/tin_mesh.hpp"
#include "run/fit_report.hpp"

namespace {

krel::mesh::Nodes nodes(std::int64_t count) {
    std::mt19937 gen(1);
    const float span = 2.0F * std::sqrt(static_cast<float>(count));  // about 4 m^2 a node
    std::uniform_real_distribution<float> u(0.0F, span);
    krel::mesh::Nodes n;
    for (std::int64_t i = 0; i < count; ++i) {
        const float x = u(gen), y = u(gen);
        n.push(x, y, 0.01F * x + 0.02F * y);
    }
    return n;
}

void BM_Triangulate(benchmark::State& state) {
    const krel::mesh::Nodes n = nodes(state.range(0));
    for (auto _ : state) {
        krel::mesh::Mesh mesh(n, krel::mesh::Clip{});
        benchmark::DoNotOptimize(mesh.triangles().data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Triangulate)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->Iterations(2);

// Fit of range(1) filtered points against a mesh of range(0) nodes, through
// the temporary file, in rows of 200 m like tiles: time per point should not
// grow with the point count.
void BM_FitReport(benchmark::State& state) {
    const krel::mesh::Nodes n = nodes(state.range(0));
    krel::mesh::Mesh mesh(n, krel::mesh::Clip{});
    const float span = 2.0F * std::sqrt(static_cast<float>(state.range(0)));
    const std::int64_t points = state.range(1);
    const auto side = static_cast<std::int64_t>(std::sqrt(static_cast<double>(points)));
    const std::string folder = std::filesystem::temp_directory_path().string();
    for (auto _ : state) {
        krel::FitReport fit(folder);
        std::vector<float> xyz;
        for (std::int64_t j = 0; j < side; ++j) {
            for (std::int64_t i = 0; i < side; ++i) {
                const float x = (static_cast<float>(i) + 0.5F) * span / static_cast<float>(side);
                const float y = (static_cast<float>(j) + 0.5F) * span / static_cast<float>(side);
                xyz.insert(xyz.end(), {x, y, 0.01F * x + 0.02F * y + 0.05F});
            }
            if (xyz.size() >= 3 * 160000) {
                fit.add_tile(static_cast<std::int32_t>(j), 0, xyz);
                xyz.clear();
            }
        }
        fit.add_tile(0, 0, xyz);
        const krel::FitStats run = fit.finish(mesh, [](std::string_view) {});
        benchmark::DoNotOptimize(run.rms);
    }
    state.SetItemsProcessed(state.iterations() * side * side);
}
BENCHMARK(BM_FitReport)
    ->Args({1'000'000, 1'000'000})
    ->Args({1'000'000, 4'000'000})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
