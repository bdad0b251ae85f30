#include "io/fortran.hpp"

#include <cmath>
#include <cstdio>
#include <string>

namespace krel::io {

namespace {

std::string fit_right(std::string_view body, int w) {
    if (w < 0) w = 0;
    if (static_cast<int>(body.size()) > w) return std::string(static_cast<std::size_t>(w), '*');
    std::string out(static_cast<std::size_t>(w) - body.size(), ' ');
    out += body;
    return out;
}

// Non-finite values: "Inf" widens to "Infinity" once the field holds it; a
// negative one needs room for its sign.
std::string format_nonfinite(double v, int w) {
    if (std::isnan(v)) return fit_right("NaN", w);
    const bool neg = std::signbit(v);
    const int sign = neg ? 1 : 0;
    if (w >= 8 + sign) return fit_right(neg ? "-Infinity" : "Infinity", w);
    return fit_right(neg ? "-Inf" : "Inf", w);
}

}  // namespace

std::string format_i(std::int64_t v, int w) { return fit_right(std::to_string(v), w); }

std::string format_f(double v, int w, int d) {
    if (!std::isfinite(v)) return format_nonfinite(v, w);
    if (d < 0) d = 0;
    // glibc prints the exact binary value rounded in the current mode (to
    // nearest, ties to even), which is the rounding the listing and result
    // files promise. 309 integer digits at most, plus the decimals.
    std::string digits(330 + static_cast<std::size_t>(d), '\0');
    const int len = std::snprintf(digits.data(), digits.size(), d == 0 ? "%#.*f" : "%.*f", d,
                                  std::fabs(v));
    digits.resize(static_cast<std::size_t>(len));
    std::string_view body = digits;
    const bool neg = std::signbit(v);
    const int width = static_cast<int>(body.size()) + (neg ? 1 : 0);
    if (width > w && body.size() > 1 && body[0] == '0' && body[1] == '.') body.remove_prefix(1);
    std::string signed_body = neg ? "-" : "";
    signed_body += body;
    return fit_right(signed_body, w);
}

std::string format_a(std::string_view text, int n) {
    if (n < 0) n = 0;
    std::string out(text.substr(0, static_cast<std::size_t>(n)));
    out.resize(static_cast<std::size_t>(n), ' ');
    return out;
}

std::string_view trim_right(std::string_view text) {
    const auto end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

FreeLine& FreeLine::text(std::string_view t) {
    if (last_ == Item::number) body_ += ' ';
    body_ += t;
    last_ = Item::text;
    return *this;
}

FreeLine& FreeLine::num(std::int64_t v) {
    if (last_ != Item::none) body_ += ' ';
    body_ += format_i(v, 11);
    last_ = Item::number;
    return *this;
}

std::string FreeLine::str() const {
    if (last_ == Item::none) return "\n";
    std::string out = " ";
    out += body_;
    out += '\n';
    return out;
}

}  // namespace krel::io
