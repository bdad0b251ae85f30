// Triangulation kernel: one tile's worth of points inserted one by one with
// caddnod, each located from its nearest node, with the nearest-node sets kept
// by cupdate as the greedy loop keeps them. The initial ctrmesh is included.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "io/textout.hpp"
#include "support/point_sets.hpp"
#include "tin/caddnod.hpp"
#include "tin/ctrmesh.hpp"
#include "tin/cupdate.hpp"

namespace {

using namespace krel::tin;

// The tile working set, sized once like the greedy loop's.
struct Tile {
    krel::test::PointSet p;
    Store store;
    std::vector<std::int32_t> near, next, inx;
    std::vector<float> ds;

    explicit Tile(const krel::test::PointSet& pts)
        : p(krel::test::framed(pts)),
          store(p.size()),
          near(p.x.size()),
          next(p.x.size()),
          inx(p.x.size()),
          ds(p.x.size()) {}
};

void run_tile(benchmark::State& state, const krel::test::PointSet& pts) {
    Tile t(pts);
    KernelState kernel;
    krel::io::StringOut console;
    const std::int32_t nt = t.p.size();
    std::int64_t inserted = 0;
    std::int64_t rejected = 0;
    for (auto _ : state) {
        ctrmesh(4, t.p.x.data(), t.p.y.data(), nt, t.store, t.near.data(), t.next.data(), t.ds.data(), kernel,
                console);
        std::int32_t n = 4;
        for (std::int32_t k = 1; k <= 4; ++k) t.inx[k] = k;
        for (std::int32_t kk = 5; kk <= nt; ++kk) {
            const std::int32_t ier =
                caddnod(kk, t.near[kk], n, t.p.x.data(), t.p.y.data(), t.store, t.inx.data(), kernel);
            if (ier != 0) {
                ++rejected;
                continue;
            }
            ++inserted;
            cupdate(kk, t.p.x.data(), t.p.y.data(), t.store, t.near.data(), t.next.data(), t.ds.data());
        }
        benchmark::DoNotOptimize(t.store.lnew);
    }
    state.SetItemsProcessed(inserted);
    state.counters["rejected"] = benchmark::Counter(static_cast<double>(rejected), benchmark::Counter::kAvgIterations);
    state.counters["restarts"] = benchmark::Counter(static_cast<double>(kernel.ctrfind_seeds.draws),
                                                    benchmark::Counter::kAvgIterations);
}

// 160,000 points uniform over a 400 m tile.
void BM_CaddnodRandom(benchmark::State& state) {
    run_tile(state, krel::test::uniform_points(1, 160'000, 400.0f));
}

// A 400 x 400 grid of 1 m, in shuffled order: every grid square cocircular.
void BM_CaddnodGrid(benchmark::State& state) { run_tile(state, krel::test::grid_points(1, 400, 400, 1.0f)); }

BENCHMARK(BM_CaddnodRandom)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_CaddnodGrid)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
