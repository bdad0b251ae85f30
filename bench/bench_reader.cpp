// The point reader's two passes over plain x y z text from the page cache, at
// 1 and 10 million points of the project's synthetic terrain.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "io/getpoints.hpp"
#include "terrain.hpp"

namespace {

namespace fs = std::filesystem;


void BM_ExplorePass(benchmark::State& state) {
    krel::io::ReadSettings rs;
    rs.files = {krel::gen::terrain_file(state.range(0))};
    const auto bytes = static_cast<std::int64_t>(fs::file_size(rs.files[0]));
    for (auto _ : state) {
        krel::io::StringOut console, warnings;
        benchmark::DoNotOptimize(krel::io::getpoints(krel::io::PassMode::explore, rs, nullptr, console, warnings));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_ExplorePass)->Arg(1'000'000)->Arg(10'000'000)->Unit(benchmark::kMillisecond);

void BM_LoadPass(benchmark::State& state) {
    krel::io::ReadSettings rs;
    rs.files = {krel::gen::terrain_file(state.range(0))};
    const auto bytes = static_cast<std::int64_t>(fs::file_size(rs.files[0]));
    krel::io::NodeArrays nodes;
    if (!nodes.allocate(static_cast<std::int32_t>(state.range(0)))) state.SkipWithError("no memory");
    for (auto _ : state) {
        krel::io::StringOut console, warnings;
        benchmark::DoNotOptimize(krel::io::getpoints(krel::io::PassMode::load, rs, &nodes, console, warnings));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_LoadPass)->Arg(1'000'000)->Arg(10'000'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
