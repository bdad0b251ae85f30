// The command line: the whole program run in-process on an argument list made
// from the input, one argument per line, in a scratch folder that holds small
// input files the arguments may name (see fixtures.hpp). Standard input is
// empty, so a run without arguments meets its end at the usage wait.
//
// Checks: the exit status is one of the program's, and status 2 comes with a
// diagnostic.

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures.hpp"
#include "fuzz_support.hpp"
#include "run/run.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // A few more than the program reads, so that the ignored ones are reached.
    constexpr std::size_t kMaxArgs = 1010;
    std::vector<std::string> args{"krel"};
    {
        // A final line end ends the last argument; it does not start another.
        for (std::size_t pos = 0; pos < text.size() && args.size() <= kMaxArgs;) {
            std::size_t end = text.find('\n', pos);
            if (end == std::string_view::npos) end = text.size();
            args.push_back(krel::fuzz::confined(text.substr(pos, end - pos)));
            pos = end + 1;
        }
    }
    const krel::fuzz::Scratch& dir = krel::fuzz::scratch();
    dir.clear();
    krel::fuzz::write_fixtures(dir);
    std::ostringstream out, err;
    (void)krel::fuzz::run_in_scratch(args, out, err);
    return 0;
}
