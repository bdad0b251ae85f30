#include "io/messages.hpp"

#include <string>

namespace krel::io {

void warning(Tally& tally, std::string_view text, TextOut& channel) {
    ++tally.nwrn;
    const std::string stars(47, '*');
    std::string out = "\n";
    out += stars;
    out += "\n**warning: ";
    out += text;
    out += '\n';
    out += stars;
    out += "\n\n";
    channel.put(out);
}

}  // namespace krel::io
