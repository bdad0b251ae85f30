#pragma once

#include "run/console.hpp"
#include "run/exit.hpp"

namespace krel {

// Prints the usage text and waits for one line on standard input. ok when a
// line came; io (with a diagnostic) when standard input was already at its end.
[[nodiscard]] Exit help(Console& console);

// --help: the usage text, then the options it does not list. No wait.
void full_help(Console& console);

// --version: "krel VERSION".
void version(Console& console);

}  // namespace krel
