#pragma once
// The run sequence after the command line: listing, explore and load passes,
// then the store-as-loaded output or the tile loop, and the summary.

#include <cstdint>
#include <string>

#include "io/nodes.hpp"
#include "tin/jrand.hpp"
#include "run/console.hpp"
#include "run/exit.hpp"
#include "run/settings.hpp"

namespace krel {

// Node-array allocation, replaceable so that tests can make memory short.
// Returns false when the arrays for `capacity` nodes cannot be had.
using Allocate = bool (*)(io::NodeArrays& nodes, std::int32_t capacity, void* context);

struct RunHooks {
    Allocate allocate = nullptr;  // nullptr: plain allocation
    void* context = nullptr;
    std::int64_t* reruns = nullptr;  // receives the count of tiles run a second time
    tin::SeedTriple* final_trfind = nullptr;   // receive the seed state after the last tile
    tin::SeedTriple* final_ctrfind = nullptr;
};

// The in-place line of one tile (32 characters, trailing blanks included) and
// the summary line (with its LF): counts, and percentages rounded in float.
[[nodiscard]] std::string tile_line(std::int32_t it, std::int64_t npt, std::int64_t before);
[[nodiscard]] std::string summary_line(std::int64_t total, std::int64_t n);

// Throws io::IoError for files that cannot be opened, read or written.
[[nodiscard]] Exit run_sequence(const RunSettings& settings, Console& console, const RunHooks& hooks = {});

}  // namespace krel
