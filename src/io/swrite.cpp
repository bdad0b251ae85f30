#include "io/swrite.hpp"

#include <cstring>

#include "io/fortran.hpp"

namespace krel::io {

namespace {

struct Layout {
    const char* lead;  // text before x
    int wx, wy, wz;    // field widths
    const char* sep;   // between the fields
};

// Layouts 0 to 5: ifmt 0, 2, 4, each plain and wide.
constexpr Layout kLayouts[6] = {
    {"", 10, 11, 9, ""},    {"", 11, 12, 9, ""},    {"", 10, 10, 8, ","},
    {"", 11, 11, 8, ","},   {"1,", 10, 10, 8, ","}, {"1,", 11, 11, 8, ","},
};

}  // namespace

void swrite(const float* x, const float* y, const float* z, std::span<const std::int32_t> idx,
            double xorig, double yorig, std::int32_t ifmt, std::string& out) {
    if (ifmt == 2) out += "X,Y,Z\n";
    const bool wide = xorig > 899999.0 || yorig > 899999.0;
    // ifmt is 0, 2 or 4 by construction of the command line.
    const Layout& l = kLayouts[(ifmt == 2 || ifmt == 4 ? ifmt : 0) + (wide ? 1 : 0)];
    // Room for every line at once: grown by doubling, a large tile's text was
    // copied several times over, each time onto fresh pages.
    const std::size_t line = std::strlen(l.lead) + static_cast<std::size_t>(l.wx + l.wy + l.wz) + 2 * std::strlen(l.sep) + 1;
    out.reserve(out.size() + idx.size() * line);
    for (const std::int32_t i : idx) {
        const double xa = static_cast<double>(x[i]) + xorig;
        const double ya = static_cast<double>(y[i]) + yorig;
        out += l.lead;
        append_f(out, xa, l.wx, 3);
        out += l.sep;
        append_f(out, ya, l.wy, 3);
        out += l.sep;
        append_f(out, z[i], l.wz, 3);
        out += '\n';
    }
}

void write_as_loaded(const float* x, const float* y, const float* z, std::int32_t first,
                     std::int32_t last, double xorig, double yorig, std::string& out) {
    for (std::int32_t i = first; i <= last; ++i) {
        append_f(out, static_cast<double>(x[i]) + xorig, 11, 2);
        append_f(out, static_cast<double>(y[i]) + yorig, 11, 2);
        append_f(out, z[i], 9, 3);
        out += '\n';
    }
}

}  // namespace krel::io
