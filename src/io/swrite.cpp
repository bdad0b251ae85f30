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

// One F w.3 field at p (exactly w columns, as append_f gives every field).
void put_field(char* p, double v, int w) {
    if (put_f3(p, v, w)) return;
    std::string f;
    append_f(f, v, w, 3);
    std::memcpy(p, f.data(), static_cast<std::size_t>(w));
}

}  // namespace

void swrite(const float* x, const float* y, const float* z, std::span<const std::int32_t> idx,
            double xorig, double yorig, std::int32_t ifmt, std::string& out) {
    if (ifmt == 2) out += "X,Y,Z\n";
    const bool wide = xorig > 899999.0 || yorig > 899999.0;
    // ifmt is 0, 2 or 4 by construction of the command line.
    const Layout& l = kLayouts[(ifmt == 2 || ifmt == 4 ? ifmt : 0) + (wide ? 1 : 0)];
    // Every field has its width, so every line the same length: the text is
    // sized once (grown by appending, a large tile's text was copied several
    // times over, each time onto fresh pages) and each line written in place.
    const std::size_t lead = std::strlen(l.lead);
    const std::size_t sep = std::strlen(l.sep);
    const std::size_t line = lead + static_cast<std::size_t>(l.wx + l.wy + l.wz) + 2 * sep + 1;
    const std::size_t at = out.size();
    out.resize(at + idx.size() * line);
    char* p = out.data() + at;
    for (const std::int32_t i : idx) {
        std::memcpy(p, l.lead, lead);
        p += lead;
        put_field(p, static_cast<double>(x[i]) + xorig, l.wx);
        p += l.wx;
        std::memcpy(p, l.sep, sep);
        p += sep;
        put_field(p, static_cast<double>(y[i]) + yorig, l.wy);
        p += l.wy;
        std::memcpy(p, l.sep, sep);
        p += sep;
        put_field(p, z[i], l.wz);
        p += l.wz;
        *p++ = '\n';
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
