#pragma once
// The run sequence after the command line: listing, explore and load passes,
// then the store-as-loaded output or the tile loop, and the summary.

#include <cstdint>

#include "io/nodes.hpp"
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
};

// Throws io::IoError for files that cannot be opened, read or written.
[[nodiscard]] Exit run_sequence(const RunSettings& settings, Console& console, const RunHooks& hooks = {});

}  // namespace krel
