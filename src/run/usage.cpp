#include "run/usage.hpp"

#include <istream>
#include <span>
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

// The options added since the usage text was written, in its layout.
constexpr const char* kMoreOptions[] = {
    "Further options:",
    "  -f word = result layout: ag (X,Y,Z header per tile)",
    "            or gen (lines 1,x,y,z)",
    "  -a xx, -s name = accepted, no effect",
    "  -j n    = worker threads for filtering and",
    "            insertion (default every core, at most",
    "            4 per core); the output is the same",
    "  -m mb   = memory for points [MB]; beyond it all",
    "            points are kept in temporary files",
    "  -k list = LAS classes to read, 0 to 255, with",
    "            commas (-k 2 for ground, -k 2,9)",
    "  -w name = also write the kept nodes as name, after",
    "            the result (repeatable); the extension",
    "            gives the kind: .ply .obj .2dm .msh .xml",
    "            (a TIN mesh; with it the fit report",
    "            prefix.fit.csv) or .las (the nodes)",
    "  -e xx   = longest mesh edge [m]: longer triangles",
    "            are left out (default no limit)",
    "  --help    = this text",
    "  --version = program version",
    "",
    "Exit status: 0 done, 1 a refused option or file,",
    "2 a conversion or I/O failure, 130/143 interrupted",
    "",
    "----------------------------------------------------",
};

void put_lines(Console& console, std::span<const char* const> lines) {
    for (const char* line : lines) console.out().put(io::FreeLine{}.text(line).str());
}

}  // namespace

void full_help(Console& console) {
    put_lines(console, kUsage);
    put_lines(console, kMoreOptions);
    console.out().flush();
}

void version(Console& console) {
    console.out().line("krel " KREL_VERSION);
    console.out().flush();
}

Exit help(Console& console) {
    put_lines(console, kUsage);
    console.out().flush();
    std::string answer;
    if (!std::getline(console.in(), answer)) {
        console.diagnostic("end of file on standard input");
        return Exit::io;
    }
    return Exit::ok;
}

}  // namespace krel
