#include "io/messages.hpp"

#include "io/fortran.hpp"

namespace krel::io {

namespace {

void box(TextOut& channel, std::string_view label, std::string_view text) {
    const std::string stars(47, '*');
    std::string out = "\n";
    out += stars;
    out += '\n';
    out += label;
    out += text;
    out += '\n';
    out += stars;
    out += "\n\n";
    channel.put(out);
}

}  // namespace

IierrAnswer iierr(Tally& tally, int code, std::string_view text, TextOut& channel, TextOut& console) {
    switch (code) {
    case 0: {
        if (tally.nwrn + tally.nerr < 1) {
            tally = {};
            return {};
        }
        std::string line = "\n >>warnings";
        line += format_i(tally.nwrn, 4);
        line += ", errors";
        line += format_i(tally.nerr, 3);
        line += " ->check output listing\n\n";
        console.put(line);
        if (tally.nerr > 0) return {0, true};
        tally = {};
        return {};
    }
    case 1:
        ++tally.nwrn;
        box(channel, "**warning: ", text);
        return {tally.nwrn, false};
    case 2:
        ++tally.nerr;
        box(channel, "**error: ", text);
        if (tally.nerr > 10) {
            console.put(FreeLine{}.text(">>program aborted after 10 errors").str());
            return {tally.nerr, true};
        }
        return {tally.nerr, false};
    case 3:
        box(channel, "**fatal error: ", text);
        console.put(FreeLine{}.text("***fatal error detected").str());
        return {0, true};
    default:
        return {};
    }
}

}  // namespace krel::io
