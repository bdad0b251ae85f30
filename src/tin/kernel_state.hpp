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
};

}  // namespace krel::tin
