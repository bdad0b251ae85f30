// The whole run on one tiny point file, in-process, in a scratch folder.
//
// Input: four option bytes, then the point file's bytes.
//   byte 0: the raster width (store-as-loaded included)
//   byte 1: the tolerance (greedy insertion off included)
//   byte 2: result layout, z range, column selection, node-list name
//   byte 3: hull or not; the run repeated (on other threads) or not; one or
//           two threads; -m 1 or not (inputs this small stay within it);
//           a mesh and a LAS output (with an edge limit) or not
//
// Checks: the exit status is one of the program's; a run that ends normally
// writes as many result lines as the summary counts (store-as-loaded: as many
// as the explore pass counted), and each of them has the layout's width; the
// mesh and LAS outputs hold as many nodes; a repeated run on three threads without a budget gives the same bytes.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "run/run.hpp"

namespace {

constexpr const char* kRaster[] = {"0.5", "1", "0.1", "2", "-1", "0.01", "10", "1e-4", "1e4", "0.37"};
constexpr const char* kTol[] = {"0.03", "0.001", "0.1", "0", "-1", "-2", "1", "1e-6", "10", "0.3"};
constexpr const char* kColumns[] = {"", "123", "213", "345", "321"};

// The number after `label` in text, or -1.
long long number_after(const std::string& text, std::string_view label) {
    const auto at = text.find(label);
    if (at == std::string::npos) return -1;
    return std::strtoll(text.c_str() + at + label.size(), nullptr, 10);
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        lines.emplace_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

std::string slurp(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const krel::fuzz::Head head(data, size, 4);
    const krel::fuzz::Scratch& dir = krel::fuzz::scratch();
    dir.clear();
    const std::uint8_t b2 = head.byte(2);
    const std::string input = (b2 & 0x40) != 0 ? "p.node" : "p.xyz";
    dir.write(input, head.rest());

    std::vector<std::string> args{"krel", input, "-r", head.pick(0, kRaster), "-t", head.pick(1, kTol)};
    const int layout = b2 % 3;
    if (layout == 1) args.insert(args.end(), {"-f", "ag"});
    if (layout == 2) args.insert(args.end(), {"-f", "gen"});
    if ((b2 & 0x04) != 0) args.insert(args.end(), {"-z", "0", "-Z", "1000"});
    const std::string columns = kColumns[(b2 >> 3) % 5];
    if (!columns.empty()) args.insert(args.end(), {"-c", columns});
    if ((head.byte(3) & 1) != 0) {
        dir.write("h.txt", "0 0\n100 0\n100 100\n0 100\n");
        args.insert(args.end(), {"-h", "h.txt"});
    }
    const bool outputs = (head.byte(3) & 0x10) != 0 && args[3][0] != '-';
    if (outputs) args.insert(args.end(), {"-w", "m.ply", "-w", "m.las", "-e", "5"});
    // The repeat below runs on three threads and without a memory budget;
    // the first run on one or two, with or without one.
    std::vector<std::string> again_args = args;
    again_args.insert(again_args.end(), {"-j", "3"});
    args.insert(args.end(), {"-j", (head.byte(3) & 4) != 0 ? "2" : "1"});
    const bool budget = (head.byte(3) & 8) != 0;
    if (budget) args.insert(args.end(), {"-m", "1"});
    std::ostringstream out, err;
    const krel::Exit status = krel::fuzz::run_in_scratch(args, out, err);
    if (status != krel::Exit::ok) return 0;

    const std::string text = out.str();
    const bool as_loaded = args[3][0] == '-';
    long long expected;
    std::size_t width, wide;
    if (as_loaded) {
        expected = number_after(text, ">Total nodes:");
        width = wide = 31;
    } else {
        expected = number_after(text, "***KREL reduced to");
        // The wide layouts (x and y one column more) follow the origin.
        width = layout == 2 ? 32 : 30;
        wide = width + 2;
    }
    KREL_FUZZ_CHECK(expected >= 0, text);
    const std::string result = slurp(dir.file("out.xyz"));
    long long nodes = 0;
    for (const std::string& line : lines_of(result)) {
        if (!as_loaded && layout == 1 && line == "X,Y,Z") continue;
        ++nodes;
        KREL_FUZZ_CHECK(line.size() == width || line.size() == wide, line);
    }
    KREL_FUZZ_CHECK(nodes == expected, std::to_string(nodes) + " lines, expected " + std::to_string(expected));
    std::string ply;
    if (outputs) {
        ply = slurp(dir.file("m.ply"));
        const std::string count = "element vertex " + std::to_string(expected) + "\n";
        KREL_FUZZ_CHECK(ply.find(count) != std::string::npos, ply.substr(0, 200));
        // A text input: no frame to take over, so a 1.2 header and no records before the points.
        if (head.rest().substr(0, 4) != "LASF")
            KREL_FUZZ_CHECK(slurp(dir.file("m.las")).size() == 227 + 20 * static_cast<std::size_t>(expected));
    }

    // The same run again, on another thread count and without a memory
    // budget, gives the same bytes: nothing read uninitialised, nothing
    // carried over from the run before, nothing that depends on the threads
    // or on points kept on disk. Every other input, to keep the harness fast.
    if ((head.byte(3) & 2) != 0) {
        const std::string listing = slurp(dir.file("out.err"));
        std::filesystem::remove(dir.file("out.xyz"));
        std::filesystem::remove(dir.file("out.err"));
        std::ostringstream out2, err2;
        const krel::Exit again = krel::fuzz::run_in_scratch(again_args, out2, err2);
        KREL_FUZZ_CHECK(again == status);
        // A budget prints lines of its own; the rest of the console is the same.
        if (!budget) KREL_FUZZ_CHECK(out2.str() == text && err2.str() == err.str());
        KREL_FUZZ_CHECK(slurp(dir.file("out.xyz")) == result && slurp(dir.file("out.err")) == listing);
        if (outputs) KREL_FUZZ_CHECK(slurp(dir.file("m.ply")) == ply);
    }
    return 0;
}
