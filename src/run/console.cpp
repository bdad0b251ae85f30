#include "run/console.hpp"

#include <ostream>

namespace krel {

void Console::diagnostic(std::string_view what) {
    out_.flush();
    err_ << "krel: " << what << '\n';
    err_.flush();
}

}  // namespace krel
