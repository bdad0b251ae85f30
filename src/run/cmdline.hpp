#pragma once

#include <optional>

#include "run/console.hpp"
#include "run/exit.hpp"
#include "run/settings.hpp"

namespace krel {

// Prints the banner, scans the arguments (argv[1..argc-1]) into settings, reads
// a hull named with -h, and prints the settings echo. Returns the status to end
// with now (usage text, unknown option, missing hull or input file, a refused
// value, a conversion failure), or nullopt when the run goes on.
[[nodiscard]] std::optional<Exit> parse_command_line(int argc, const char* const* argv,
                                                     RunSettings& settings, Console& console);

}  // namespace krel
