#pragma once
// The point reader: the explore pass counts the points that pass the filters,
// the load pass stores them. Both read the same files with the same filters in
// the same order (thinning, z range, hull), so the load pass keeps what the
// explore pass counted, minus what thinning drops.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/hull.hpp"
#include "io/las.hpp"
#include "io/nodes.hpp"
#include "io/source.hpp"
#include "io/textout.hpp"

namespace krel::io {

// What the explore pass learns of a large text file that it read in chunks
// side by side, so that the load pass can read the same chunks in the same
// way and put each chunk's points straight into their slots.
struct ChunkPlan {
    std::vector<std::int64_t> bounds;    // chunk c is bytes [bounds[c], bounds[c + 1])
    std::vector<std::int64_t> ok;        // records of each chunk read without error
    std::vector<std::int64_t> accepted;  // points of each chunk that pass the filters
};

struct ChunkPlans {
    std::vector<ChunkPlan> files;  // by index into ReadSettings::files; empty bounds: read in one piece
};

// Decoded LAZ records that the explore pass keeps for the load pass, so that
// a file is decoded once instead of twice. Whole files only, up to most_bytes
// in all; a file without kept records is decoded again. The load pass hands
// each file's records back as it reads them.
struct KeptRecords {
    std::size_t most_bytes = 0;                     // 0: keep nothing
    std::size_t bytes = 0;                          // kept now
    std::vector<std::vector<unsigned char>> files;  // by index into ReadSettings::files

    void drop() {
        files = {};
        bytes = 0;
    }
};

struct ReadSettings {
    std::vector<std::string> files;  // point files, in command-line order
    float ztmin = -9.0e20F;          // lowest z kept (inclusive)
    float ztmax = 9.0e20F;           // highest z kept (inclusive)
    std::int32_t ic1 = 1, ic2 = 2, ic3 = 3;  // 1-based columns of x, y, z
    std::int32_t icolmax = 0;        // 0 (or less): no column selection
    std::int32_t iskip = 1;          // keep only records whose line counter is a multiple
    const Hull* hull = nullptr;      // nullptr or an inactive hull: no hull test
    ClassSet classes;                // classes read from LAS files (-k); default all
    int threads = 1;                 // > 1: large text files are read in that many chunks at once
    ChunkPlans* plans = nullptr;     // filled by the explore pass, used by the load pass (threads > 1)
    KeptStreams* streams = nullptr;  // copies of the inputs that cannot be read twice; nullptr: read as they are
    KeptRecords* records = nullptr;  // decoded LAZ records from explore to load; nullptr: none kept
};

enum class PassMode { explore = 0, load = 1 };

// Runs one pass over settings.files. Explore: returns the count of points kept
// and leaves nodes untouched (it may be nullptr). Load: stores up to
// nodes->capacity points in nodes (a full array keeps overwriting its last
// slot), sets nodes->n and the origin, and returns nodes->n. Progress, read
// errors (explore pass only) and the totals go to console. Throws IoError for
// a file that cannot be read, an empty file, a node-list file whose first
// line holds no value, or a LAS file with a broken header or compressed points.
//
// A file whose first four bytes are "LASF" is read as LAS: only records of
// settings.classes without the withheld flag are points. To the counters such
// a file looks like a text file holding one line per point and nothing else:
// the line counter is raised once on opening (the first-line read), before
// each point and once at the end; the record counter after each point. Records
// left out by class or flag are not seen by either. The explore pass writes
// the file's warnings (count bound, variable-length records) to `warnings` as
// "krel: '<file>': ..." lines, and a line to console with the number of
// withheld points left out, when there were any.
std::int64_t getpoints(PassMode mode, const ReadSettings& settings, NodeArrays* nodes, TextOut& console,
                       TextOut& warnings);

}  // namespace krel::io
