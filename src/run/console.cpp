#include "run/console.hpp"

#include <ostream>

namespace krel {

void Console::diagnostic(std::string_view what) {
    out_.flush();
    err_ << "krel: " << what << '\n';
    err_.flush();
}

void Console::ErrOut::put(std::string_view text) {
    out_.flush();
    err_.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void Console::ErrOut::flush() { err_.flush(); }

}  // namespace krel
