#pragma once
// Process-wide state of the triangulation kernel. One instance lives for the
// whole run and is passed to every routine that reads or changes it, so the
// random streams of point location continue from tile to tile.

#include "tin/jrand.hpp"

namespace krel::tin {

struct KernelState {
    float swtol = 0.0f;          // swap tolerance of swptst; set by every ctrmesh, 0 before the first
    float stcom = 0.0f;          // scratch cell of store(): sums are rounded by passing through it
    SeedTriple trfind_seeds;     // random apex draws of trfind, starting at (1, 2, 3)
    SeedTriple ctrfind_seeds;    // random apex draws of ctrfind, starting at (1, 2, 3)

    // Test hook: when above 0, every draw_every-th ctrfind call of a tile
    // starts from a random node, as if its start node were invalid, so that
    // tests can make tiles depend on the seed state. 0 in every real run.
    std::int32_t draw_every = 0;
    std::int64_t ctrfind_calls = 0;  // calls in the current tile (reset by the tile's owner)
};

}  // namespace krel::tin
