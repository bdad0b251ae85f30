#include "io/fortran.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

// The digits of |v| rounded to d decimals (ties to even) as integer arithmetic
// on the binary value: |v| = m * 2^e exactly, read off its bits, so |v| * 10^d
// = m * 10^d * 2^e is rounded by one shift. Covers every value a record holds
// (|v| < 2^50, d <= 9); false for anything else (not finite included).
__extension__ typedef unsigned __int128 Wide;

// The significand of a normal double with its leading bit.
std::uint64_t significand(std::uint64_t bits) { return (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52); }

// n * 2^-k rounded to an integer, ties to even; k at least 1.
template <class T>
T shift_to_even(T n, int k) {
    T r = n >> k;
    const T rem = n - (r << k);
    const T half = static_cast<T>(1) << (k - 1);
    if (rem > half || (rem == half && (r & 1) != 0)) ++r;
    return r;
}

// The text goes to out[0 .. len), at most 48 characters.
bool exact_digits(double v, int d, char* out, int& len) {
    if (d > 9) return false;
    const auto bits = std::bit_cast<std::uint64_t>(v);
    const auto biased = static_cast<int>((bits >> 52) & 0x7FF);
    if (biased > 1072) return false;  // |v| of 2^50 and more
    Wide q = 0;
    // A subnormal |v| (or 0) is far below half a unit of the last decimal.
    if (biased != 0) {
        const std::uint64_t m = significand(bits);
        std::uint64_t p10 = 1;
        for (int i = 0; i < d; ++i) p10 *= 10;
        const int k = 1075 - biased;  // |v| = m * 2^-k, k at least 3
        // Otherwise far below half a unit of the last decimal. Up to three
        // decimals (every record field) m * 10^d stays below 2^63, and the
        // same rounding takes 64-bit words.
        if (d <= 3 && k < 64) {
            q = shift_to_even(m * p10, k);
        } else if (d > 3 && k < 126) {
            q = shift_to_even(static_cast<Wide>(m) * p10, k);
        }
    }
    char buf[48];
    int digits = 0;
    // A 128-bit division is a library call; record values leave q within 64
    // bits, where the same digits come from one machine division each.
    while (q > UINT64_MAX) {
        buf[digits++] = static_cast<char>('0' + static_cast<int>(q % 10));
        q /= 10;
    }
    auto r = static_cast<std::uint64_t>(q);
    do {
        buf[digits++] = static_cast<char>('0' + static_cast<int>(r % 10));
        r /= 10;
    } while (r != 0);
    while (digits <= d) buf[digits++] = '0';  // at least one digit before the point
    len = 0;
    for (int i = digits - 1; i >= 0; --i) {
        out[len++] = buf[i];
        if (i == d && d > 0) out[len++] = '.';
    }
    if (d == 0) out[len++] = '.';
    return true;
}

// The digits with their sign in w columns, the leading zero dropped only when
// it does not fit; w asterisks when even then they do not. A field of up to
// 64 columns goes to out in one piece.
void place(std::string& out, std::string_view body, bool neg, int w) {
    if (w < 0) w = 0;
    const int sign = neg ? 1 : 0;
    if (static_cast<int>(body.size()) + sign > w && body.size() > 1 && body[0] == '0' && body[1] == '.')
        body.remove_prefix(1);
    const int width = static_cast<int>(body.size()) + sign;
    if (width > w) {
        out.append(static_cast<std::size_t>(w), '*');
        return;
    }
    if (w <= 64) {
        char field[64];
        const auto pad = static_cast<std::size_t>(w - width);
        std::memset(field, ' ', pad);
        if (neg) field[pad] = '-';
        std::memcpy(field + pad + static_cast<std::size_t>(sign), body.data(), body.size());
        out.append(field, static_cast<std::size_t>(w));
        return;
    }
    out.append(static_cast<std::size_t>(w - width), ' ');
    if (neg) out += '-';
    out += body;
}

}  // namespace

std::string format_i(std::int64_t v, int w) { return fit_right(std::to_string(v), w); }

void append_f(std::string& out, double v, int w, int d) {
    if (!std::isfinite(v)) {
        out += format_nonfinite(v, w);
        return;
    }
    if (d < 0) d = 0;
    char digits[48];
    int len = 0;
    if (exact_digits(v, d, digits, len)) {
        place(out, std::string_view(digits, static_cast<std::size_t>(len)), std::signbit(v), w);
        return;
    }
    // Beyond the integer path: glibc prints the exact binary value rounded in
    // the current mode (to nearest, ties to even), the same rounding. 309
    // integer digits at most, plus the decimals.
    std::string wide(330 + static_cast<std::size_t>(d), '\0');
    const int n = std::snprintf(wide.data(), wide.size(), d == 0 ? "%#.*f" : "%.*f", d, std::fabs(v));
    wide.resize(static_cast<std::size_t>(n));
    place(out, wide, std::signbit(v), w);
}

bool put_f3(char* field, double v, int w) {
    // exact_digits' rounding for three decimals and |v| below 2^50, where
    // m * 1000 stays below 2^63 and k is 3 to 63 (biased 1012 and up).
    const auto bits = std::bit_cast<std::uint64_t>(v);
    const auto biased = static_cast<int>((bits >> 52) & 0x7FF);
    if (biased > 1072 || w < 5) return false;
    // Below 2^-63 (zero and subnormals too): far below half a unit.
    std::uint64_t q = biased >= 1012 ? shift_to_even(significand(bits) * 1000, 1075 - biased) : 0;
    // Right to left: three decimals, the point, at least one integer digit,
    // the sign. A number wider than the field is left to place(), which
    // drops a leading zero or gives asterisks.
    int at = w;
    for (int i = 0; i < 3; ++i) {
        field[--at] = static_cast<char>('0' + q % 10);
        q /= 10;
    }
    field[--at] = '.';
    do {
        field[--at] = static_cast<char>('0' + q % 10);
        q /= 10;
    } while (q != 0 && at > 0);
    const bool neg = (bits >> 63) != 0;
    if (q != 0 || (neg && at == 0)) return false;
    if (neg) field[--at] = '-';
    std::memset(field, ' ', static_cast<std::size_t>(at));
    return true;
}

std::string format_f(double v, int w, int d) {
    std::string out;
    append_f(out, v, w, d);
    return out;
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
