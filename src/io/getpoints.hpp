#pragma once
// The point reader: the explore pass counts the points that pass the filters,
// the load pass stores them. Both read the same files with the same filters in
// the same order (thinning, z range, hull), so the load pass keeps what the
// explore pass counted, minus what thinning drops.

#include <cstdint>
#include <string>
#include <vector>

#include "io/hull.hpp"
#include "io/nodes.hpp"
#include "io/textout.hpp"

namespace krel::io {

struct ReadSettings {
    std::vector<std::string> files;  // point files, in command-line order
    float ztmin = -9.0e20F;          // lowest z kept (inclusive)
    float ztmax = 9.0e20F;           // highest z kept (inclusive)
    std::int32_t ic1 = 1, ic2 = 2, ic3 = 3;  // 1-based columns of x, y, z
    std::int32_t icolmax = 0;        // 0 (or less): no column selection
    std::int32_t iskip = 1;          // keep only records whose line counter is a multiple
    const Hull* hull = nullptr;      // nullptr or an inactive hull: no hull test
};

enum class PassMode { explore = 0, load = 1 };

// Runs one pass over settings.files. Explore: returns the count of points kept
// and leaves nodes untouched (it may be nullptr). Load: stores up to
// nodes->capacity points in nodes (a full array keeps overwriting its last
// slot), sets nodes->n and the origin, and returns nodes->n. Progress, read
// errors (explore pass only) and the totals go to console. Throws IoError for
// a file that cannot be read, an empty file, or a node-list file whose first
// line holds no value.
std::int64_t getpoints(PassMode mode, const ReadSettings& settings, NodeArrays* nodes, TextOut& console);

}  // namespace krel::io
