#pragma once
// The kernel's one test-only injection point. A test that needs tiles to
// depend on the seed state (to check that every thread count hands each tile
// the true one) sets force_draw before a run: ctrfind then starts from a
// random node wherever it answers true, as if its start node were invalid.
// The answer may depend only on its arguments, so that it is the same on
// every thread. Null in every real run, where it costs ctrfind one test of a
// pointer that never changes; set and reset only while no run is going on.

#include <cstdint>

namespace krel::tin {

using ForceDraw = bool (*)(std::int32_t n, float px, float py);

inline ForceDraw force_draw = nullptr;

}  // namespace krel::tin
