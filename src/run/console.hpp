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
    Console(std::ostream& out, std::ostream& err, std::istream& in)
        : out_(out), err_(err), in_(in), warnings_(out_, err) {}

    io::TextOut& out() { return out_; }
    // The error stream for whole diagnostic lines that do not end the run
    // (warnings about a point file), after everything already printed.
    io::TextOut& warnings() { return warnings_; }
    std::istream& in() { return in_; }
    io::Tally& tally() { return tally_; }

    // "krel: <what>" on the error stream, after everything already printed.
    void diagnostic(std::string_view what);

private:
    class ErrOut final : public io::TextOut {
    public:
        ErrOut(io::TextOut& out, std::ostream& err) : out_(out), err_(err) {}
        void put(std::string_view text) override;
        void flush() override;

    private:
        io::TextOut& out_;
        std::ostream& err_;
    };

    io::StreamOut out_;
    std::ostream& err_;
    std::istream& in_;
    io::Tally tally_;
    ErrOut warnings_;
};

}  // namespace krel
