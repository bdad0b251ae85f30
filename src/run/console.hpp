#pragma once
// The run's console: standard output for every message, the error stream for
// diagnostics that are not fixed texts, standard input for the usage wait, and
// the message tally.

#include <iosfwd>
#include <string_view>

#include "io/messages.hpp"
#include "io/textout.hpp"

namespace krel {

class Console {
public:
    Console(std::ostream& out, std::ostream& err, std::istream& in) : out_(out), err_(err), in_(in) {}

    io::TextOut& out() { return out_; }
    std::istream& in() { return in_; }
    io::Tally& tally() { return tally_; }

    // "krel: <what>" on the error stream, after everything already printed.
    void diagnostic(std::string_view what);

private:
    io::StreamOut out_;
    std::ostream& err_;
    std::istream& in_;
    io::Tally tally_;
};

}  // namespace krel
