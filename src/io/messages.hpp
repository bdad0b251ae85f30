#pragma once
// The message tally: boxed warnings, counted for the whole run.

#include <cstdint>
#include <string>
#include <string_view>

#include "io/textout.hpp"

namespace krel::io {

struct Tally {
    std::int32_t nwrn = 0;  // warnings so far
};

// Counts a warning and writes its box, "**warning: " and text between two
// lines of stars, to channel.
void warning(Tally& tally, std::string_view text, TextOut& channel);

}  // namespace krel::io
