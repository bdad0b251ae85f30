#pragma once
// The message tally: boxed warnings, errors and fatal errors, counted for the
// whole run. The caller ends the run when an answer says so.

#include <cstdint>
#include <string>
#include <string_view>

#include "io/textout.hpp"

namespace krel::io {

struct Tally {
    std::int32_t nwrn = 0;  // warnings so far
    std::int32_t nerr = 0;  // errors so far
};

struct IierrAnswer {
    std::int32_t value = 0;  // nwrn after a warning, nerr after an error, else 0
    bool stop = false;       // the run must end now (status 1)
};

// code 0: summary on `console` when anything was counted (stop when errors);
// 1: warning box on `channel`; 2: error box on `channel`, stop at the 11th;
// 3: fatal-error box on `channel`, stop. Any other code does nothing.
[[nodiscard]] IierrAnswer iierr(Tally& tally, int code, std::string_view text, TextOut& channel,
                                TextOut& console);

}  // namespace krel::io
