#pragma once
// The run settings, filled by the command line in argument order and read-only
// afterwards (the thinning factor lives with the reader settings and may grow).

#include <cstdint>
#include <string>
#include <vector>

#include "io/hull.hpp"
#include "io/las.hpp"

namespace krel {

constexpr std::size_t kNameChars = 64;   // names are cut to this many characters
constexpr int kMaxArguments = 1000;      // arguments beyond this are ignored

struct RunSettings {
    std::vector<std::string> cfile;  // existing input point files, in order
    float dx = 0.5F;                 // raster width [m]; negative: store as loaded
    float tol = 0.03F;               // tolerance of greedy insertion [m]; <= 0: none
    float ztmin = -9.0e20F;          // lowest z kept
    float ztmax = 9.0e20F;           // highest z kept
    std::string prefix = "out";      // stem of the output names
    std::string result_name;         // -o name, when given
    bool result_named = false;       // -o was given
    std::string chull;               // hull file name, when given
    bool hull_given = false;         // -h was given (and read)
    std::string fslope;              // -s name: kept, no effect
    std::int32_t ifmt = 0;           // result layout selector: 0, 2 or 4
    std::int32_t cvalue = 123;       // last -c value: the column digits
    std::int32_t ic1 = 1, ic2 = 2, ic3 = 3;  // columns of x, y, z
    std::int32_t icolmax = 0;        // 0: no column selection
    float area = 0.0F;               // -a value: echoed, no effect
    io::ClassSet classes;            // -k: classes read from LAS files; default all
    std::int32_t workers = 0;        // -j: threads for the tile stages; 0: every core
    std::int64_t budget_mb = 0;      // -m: most memory for points [MiB]; 0: no budget
    std::vector<std::string> outputs;  // -w names, in order; the extension gives the kind
    double max_edge = 0.0;           // -e: longest mesh edge [m]; 0: no limit
    io::Hull hull;                   // polygon read with -h
    std::string hull_listing;        // the hull reader's echo, held for the listing
};

// A name as the program holds it: cut to 64 characters, trailing blanks removed.
[[nodiscard]] std::string held_name(std::string_view arg);

}  // namespace krel
