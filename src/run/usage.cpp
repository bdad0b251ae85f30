#include "run/usage.hpp"

#include <istream>
#include <string>

#include "io/fortran.hpp"

namespace krel {

namespace {

constexpr const char* kUsage[] = {
    "-----------------------------------------------------",
    "- for surface simplification with greedy insertion",
    "- morphological filter to eliminate near ground nodes",
    "- makes use of Harlo'S TRIANGULATION LIBRARY",
    "",
    "Usage: krel file (file1 file2 ...) [options]",
    "",
    "File/Options:",
    "  file    = filenames containing node data in space",
    "            delimited x y z format or 1,x,y,z format",
    "            (Hint: filename can contain wildcards)",
    "  -c xxx  = for different data formats. Example:",
    "            -c 345  reads coordinates from column 3 4 5",
    "  -h name = name of hull file with polygon points",
    "            enclosing the data nodes to be processed",
    "            (x- and y-coordinates in 1st and 2nd",
    "            column)",
    "  -o name = name of result file (default=out.xyz)",
    "  -p name = prefix of result files (default=out)",
    "  -r xx   = raster width (default 0.5 m)",
    "            Special usage:",
    "            -r -1   ignores filtering",
    "  -t xx   = mean error when insertion ends [m]",
    "            (default=0.03 m). Special usage:",
    "            -t -1   stores nodes before filtering",
    "            -t -2   stores nodes after filtering",
    "  -z xx   = minimum z-value",
    "  -Z xx   = maximum z-value",
    "",
    "Example:",
    "krel data.xyz -r 0.3 -t 0.04 -p data_defl",
    "",
    "----------------------------------------------------",
};

}  // namespace

Exit help(Console& console) {
    for (const char* line : kUsage) console.out().put(io::FreeLine{}.text(line).str());
    console.out().flush();
    std::string answer;
    if (!std::getline(console.in(), answer)) {
        console.diagnostic("end of file on standard input");
        return Exit::io;
    }
    return Exit::ok;
}

}  // namespace krel
