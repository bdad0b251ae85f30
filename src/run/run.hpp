#pragma once
// The whole program as a library call: banner, command line, run sequence.

#include <iosfwd>

#include "run/exit.hpp"
#include "run/sequence.hpp"

namespace krel {

// Runs krel with the process arguments (argv[0] is the program) on the given
// streams and returns the exit status. Never calls exit().
[[nodiscard]] Exit run(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                       std::istream& in, const RunHooks& hooks = {});

}  // namespace krel
