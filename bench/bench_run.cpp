// The whole run stage by stage, as the run sequence calls them (explore and
// load pass, tiling and collection, raster filter, greedy insertion, result
// formatting), on the shared samples and on 1 and 10 million synthetic
// points. Reports seconds per stage and input points per second overall.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "deflate/sdeflate.hpp"
#include "filter/sfilt.hpp"
#include "io/getpoints.hpp"
#include "io/swrite.hpp"
#include "terrain.hpp"
#include "tiles/gettiles.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }


void run_file(benchmark::State& state, const std::string& file) {
    if (!fs::exists(file)) {
        state.SkipWithError("input not found");
        return;
    }
    double t_read = 0, t_tiles = 0, t_filter = 0, t_deflate = 0, t_write = 0;
    std::int64_t n = 0, kept = 0;
    for (auto _ : state) {
        krel::io::StringOut console, listing;
        krel::io::ReadSettings rs;
        rs.files = {file};
        auto t = Clock::now();
        const auto count = krel::io::getpoints(krel::io::PassMode::explore, rs, nullptr, console, console);
        krel::io::NodeArrays nodes;
        if (!nodes.allocate(static_cast<std::int32_t>(count))) state.SkipWithError("no memory");
        krel::io::getpoints(krel::io::PassMode::load, rs, &nodes, console, console);
        t_read += since(t);
        n = nodes.n;

        t = Clock::now();
        const std::int32_t ntiles =
            krel::tiles::gettiles(nodes.n, nodes.x.get(), nodes.y.get(), 200.0F, 0.5F, nodes.itile.get(), console);
        std::vector<std::int64_t> start;
        krel::tiles::collect_tiles(nodes.n, nodes.itile.get(), ntiles, nodes.idx.get(), start);
        t_tiles += since(t);

        krel::filter::FilterWork fw;
        krel::deflate::DeflateWork dw;
        krel::tin::KernelState kernel;
        std::string text;
        kept = 0;
        for (std::int32_t it = 1; it <= ntiles; ++it) {
            std::span<std::int32_t> tile(nodes.idx.get() + 1 + start[it],
                                         static_cast<std::size_t>(start[it + 1] - start[it]));
            t = Clock::now();
            const auto filtered = krel::filter::sfilt(nodes.x.get(), nodes.y.get(), nodes.z.get(), tile, 0.5F, fw);
            t_filter += since(t);
            t = Clock::now();
            const auto npt = krel::deflate::sdeflate(nodes.x.get(), nodes.y.get(), nodes.z.get(),
                                                     tile.first(static_cast<std::size_t>(filtered)), 0.03F, dw,
                                                     kernel, listing, console);
            t_deflate += since(t);
            t = Clock::now();
            text.clear();
            krel::io::swrite(nodes.x.get(), nodes.y.get(), nodes.z.get(), tile.first(static_cast<std::size_t>(npt)),
                             nodes.xorig, nodes.yorig, 0, text);
            t_write += since(t);
            kept += npt;
        }
    }
    const double iters = static_cast<double>(state.iterations());
    state.counters["points"] = static_cast<double>(n);
    state.counters["kept"] = static_cast<double>(kept);
    state.counters["read_s"] = t_read / iters;
    state.counters["tiles_s"] = t_tiles / iters;
    state.counters["filter_s"] = t_filter / iters;
    state.counters["deflate_s"] = t_deflate / iters;
    state.counters["write_s"] = t_write / iters;
    state.counters["pts_per_s"] = static_cast<double>(n) * iters / (t_read + t_tiles + t_filter + t_deflate + t_write);
}

const char* const kSamples[] = {
    "autzen_trim.xyz", "autzen_trim_ground.xyz", "4_6_crop.xyz", "4_6_crop_ground.xyz", "sample_c.xyz",
    "warsaw_small.xyz", "bayhills_14-2625-6369.xyz", "autzen_height_ramp_crop.xyz", "synthetic_seed1_100k.xyz",
};

}  // namespace

int main(int argc, char** argv) {
    for (const char* s : kSamples) {
        const std::string file = std::string(KREL_SHARED_DATA) + "/" + s;
        benchmark::RegisterBenchmark((std::string("BM_Run/") + s).c_str(),
                                     [file](benchmark::State& st) { run_file(st, file); })
            ->Unit(benchmark::kMillisecond)->Iterations(1);
    }
    for (std::int64_t n : {1'000'000LL, 10'000'000LL}) {
        benchmark::RegisterBenchmark(("BM_Run/synthetic_" + std::to_string(n)).c_str(),
                                     [n](benchmark::State& st) { run_file(st, krel::gen::terrain_file(n)); })
            ->Unit(benchmark::kMillisecond)->Iterations(1);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
