#pragma once
// The test-only injection points. A test that needs tiles to
// depend on the seed state (to check that every thread count hands each tile
// the true one) sets force_draw before a run: ctrfind then starts from a
// random node wherever it answers true, as if its start node were invalid.
// The answer may depend only on its arguments, so that it is the same on
// every thread. Null in every real run, where it costs ctrfind one test of a
// pointer that never changes; set and reset only while no run is going on.

#include <atomic>
#include <cstdint>

namespace krel::tin {

using ForceDraw = bool (*)(std::int32_t n, float px, float py);

inline ForceDraw force_draw = nullptr;

// Checking mode of the work greedy insertion leaves out because it cannot
// change (upcache's skipped point locations and point errors, and the walks
// it does on its copy of a node's list rather than by ctrfind): with
// skip_check set, each of them is done anyway, on a copy of the kernel state,
// and any different triangle, any draw from the seed triple or any different
// score is counted. The run's own state and output are those of a run
// without it. Shared by the worker threads, hence atomic counters. Null in
// every real run; set and reset only while no run is going on.
struct SkipCheck {
    std::atomic<std::int64_t> walks{0};       // locations skipped and checked
    std::atomic<std::int64_t> kk_first{0};    // of those, where the new node came before the old wedge
    std::atomic<std::int64_t> errors{0};      // point errors skipped and checked
    std::atomic<std::int64_t> star_walks{0};  // walks done on the read list instead of the store
    std::atomic<std::int64_t> insertions{0};  // insertions located by the chosen point's last walk
    std::atomic<std::int64_t> hull_walks{0};  // of the locations skipped, walks from a hull node
    std::atomic<std::int64_t> moved_last{0};  // of those, walks whose node's last neighbour moved
    std::atomic<std::int64_t> one_arc{0};     // of the walks on the read list, those over one arc
    std::atomic<std::int64_t> mismatches{0};  // checks that came out different
};

inline SkipCheck* skip_check = nullptr;

}  // namespace krel::tin
