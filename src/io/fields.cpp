#include "io/fields.hpp"

#include <bit>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace krel::io {

namespace {

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Checks the field syntax and writes the text std::from_chars understands into
// buf: no '+', 'e' for the exponent letter. Returns the length, 0 if not a number.
std::size_t normalise_real(std::string_view s, char* buf, std::size_t cap) {
    std::size_t i = 0;
    std::size_t n = 0;
    auto put = [&](char c) {
        if (n < cap) buf[n] = c;
        ++n;
    };
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        if (s[i] == '-') put('-');
        ++i;
    }
    std::size_t mant_digits = 0;
    while (i < s.size() && is_digit(s[i])) put(s[i++]), ++mant_digits;
    if (i < s.size() && s[i] == '.') {
        put(s[i++]);
        while (i < s.size() && is_digit(s[i])) put(s[i++]), ++mant_digits;
    }
    if (mant_digits == 0) return 0;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        put('e');
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            if (s[i] == '-') put('-');
            ++i;
        }
        std::size_t exp_digits = 0;
        while (i < s.size() && is_digit(s[i])) put(s[i++]), ++exp_digits;
        if (exp_digits == 0) return 0;
    }
    if (i != s.size()) return 0;
    return n;
}

// Exact powers of ten: every one up to 1e22 is a double, up to 1e10 a float.
constexpr double kPow10d[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                              1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr float kPow10f[] = {1e0F, 1e1F, 1e2F, 1e3F, 1e4F, 1e5F, 1e6F, 1e7F, 1e8F, 1e9F, 1e10F};

// The common field (plain decimals, few digits) in one pass: with an exact
// integer mantissa and an exact power of ten, one multiplication or division
// rounds correctly.
//
// scan_plain reads [sign] digits [. digits] from s[i] on and stops at the
// first other character, returning its index; it looks at nothing beyond.
// So a record reader can scan straight through a line: where the scan stops
// at a field's end, the field was exactly the scanned text, and the value is
// the one fast_real gives for that field alone.
struct PlainScan {
    bool neg = false;
    std::uint64_t m = 0;
    int digits = 0;    // significant digits taken into m
    int decimals = 0;  // digits after the point
    bool any = false;  // a digit at all
};

// Takes the run of digits from c on (up to e) into m, as m = m * 10 + d
// digit by digit with its wrapping, and returns the run's end.
//
// Eight characters at a time where the line has them: a field's digit runs
// are short and of any length, and a test per digit went either way at its
// end. Each byte less '0' (as an exclusive or: digits have high nibble 3) is
// a digit exactly when its high nibble is 0 and its low nibble plus 6 does
// not reach 16; no step carries from one byte into the next. The run's n
// digits, moved to the top of the word behind zeros, give their value by
// three multiplications, each pairing neighbouring lanes (10 a + b, 100 a +
// b, 10^4 a + b), and m * 10^n + that value is the digit-by-digit result,
// modulo 2^64 as well.
inline const char* take_digits(const char* c, const char* const e, std::uint64_t& m) {
    if constexpr (std::endian::native == std::endian::little) {
        constexpr std::uint64_t kPow10u[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
        constexpr std::uint64_t kLow = 0x0F0F0F0F0F0F0F0FULL;
        constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ULL;
        while (e - c >= 8) {
            std::uint64_t v;
            std::memcpy(&v, c, sizeof v);
            v ^= 0x3030303030303030ULL;
            const std::uint64_t other = (v & kHigh) | (((v & kLow) + 0x0606060606060606ULL) & kHigh);
            const auto n = other == 0 ? 8U : static_cast<unsigned>(std::countr_zero(other)) / 8;
            std::uint64_t d = n == 0 ? 0 : (v & kLow) << (8 * (8 - n) & 63);
            d = (d * 10 + (d >> 8)) & 0x00FF00FF00FF00FFULL;
            d = (d * 100 + (d >> 16)) & 0x0000FFFF0000FFFFULL;
            d = (d * 10000 + (d >> 32)) & 0xFFFFFFFFULL;
            m = m * kPow10u[n] + d;
            c += n;
            if (n < 8) return c;
        }
    }
    for (; c < e; ++c) {
        const auto d = static_cast<unsigned>(static_cast<unsigned char>(*c)) - unsigned{'0'};
        if (d > 9) break;
        m = m * 10 + d;
    }
    return c;
}

inline std::size_t scan_plain(std::string_view s, std::size_t i, PlainScan& p) {
    const char* c = s.data() + i;
    const char* const e = s.data() + s.size();
    if (c < e && (*c == '+' || *c == '-')) p.neg = *c++ == '-';
    const char* const first = c;
    std::uint64_t m = 0;
    c = take_digits(c, e, m);
    int count = static_cast<int>(c - first);  // digits, leading zeros included
    if (c < e && *c == '.') {
        const char* const point = c++;
        c = take_digits(c, e, m);
        p.decimals = static_cast<int>(c - point - 1);
        count += p.decimals;
    }
    // Leading zeros, on either side of the point, are not significant.
    int zeros = 0;
    for (const char* z = first; z < c && (*z == '0' || *z == '.'); ++z) zeros += *z == '0' ? 1 : 0;
    p.m = m;
    p.any = count > 0;
    p.digits = count - zeros;
    return static_cast<std::size_t>(c - s.data());
}

// The value of a whole scanned field; false when it needs the general path
// (exponents, long mantissas).
template <class T>
bool plain_value(const PlainScan& p, T& out) {
    if (!p.any || p.digits > 15) return false;
    if constexpr (sizeof(T) == sizeof(float)) {
        if (p.m > (std::uint64_t{1} << 24) || p.decimals > 10) return false;
        const float v = static_cast<float>(p.m) / kPow10f[p.decimals];
        out = p.neg ? -v : v;
    } else {
        if (p.m > (std::uint64_t{1} << 53) || p.decimals > 22) return false;
        const double v = static_cast<double>(p.m) / kPow10d[p.decimals];
        out = p.neg ? -v : v;
    }
    return true;
}

template <class T>
bool fast_real(std::string_view s, T& out) {
    PlainScan p;
    return scan_plain(s, 0, p) == s.size() && plain_value(p, out);
}

template <class T>
std::optional<T> parse_real(std::string_view field) {
    if (T fast; fast_real(field, fast)) return fast;
    char small[128];
    std::string large;
    char* buf = small;
    std::size_t len = normalise_real(field, small, sizeof small - 1);
    if (len == 0) return std::nullopt;
    if (len > sizeof small - 1) {
        large.resize(len + 1);
        buf = large.data();
        len = normalise_real(field, buf, len);
    }
    T value{};
    const auto res = std::from_chars(buf, buf + len, value);
    if (res.ec == std::errc{} && res.ptr == buf + len) return value;
    if (res.ec != std::errc::result_out_of_range) return std::nullopt;
    // from_chars refuses both overflow and underflow to zero; strto* tells
    // them apart and rounds the underflow correctly.
    buf[len] = '\0';
    const T v = [&] {
        if constexpr (sizeof(T) == sizeof(float)) return std::strtof(buf, nullptr);
        else return std::strtod(buf, nullptr);
    }();
    if (std::isinf(v)) return std::nullopt;
    return v;
}

// A plain decimal of at most this many characters is always a finite double.
constexpr std::size_t kCheckedPlainChars = 300;

// Whether the field is a double, converting only what could overflow: a
// plain decimal of modest length always fits.
bool is_double_field(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    bool any = false;
    while (i < s.size() && is_digit(s[i])) ++i, any = true;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && is_digit(s[i])) ++i, any = true;
    }
    if (any && i == s.size() && s.size() <= kCheckedPlainChars) return true;
    return parse_real<double>(s).has_value();
}

}  // namespace

std::optional<double> parse_double(std::string_view field) { return parse_real<double>(field); }
std::optional<float> parse_float(std::string_view field) { return parse_real<float>(field); }

std::optional<std::int32_t> parse_int(std::string_view field) {
    std::size_t i = 0;
    bool neg = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) neg = field[i++] == '-';
    if (i == field.size()) return std::nullopt;
    for (std::size_t j = i; j < field.size(); ++j)
        if (!is_digit(field[j])) return std::nullopt;
    // Parse the magnitude wide so that -2147483648 is accepted.
    std::int64_t mag = 0;
    for (std::size_t j = i; j < field.size(); ++j) {
        mag = mag * 10 + (field[j] - '0');
        if (mag > 2147483648LL) return std::nullopt;
    }
    const std::int64_t v = neg ? -mag : mag;
    if (v > 2147483647LL) return std::nullopt;
    return static_cast<std::int32_t>(v);
}

namespace {

// The one record loop: type_at(i) is the type of field i (0-based), value_at(i)
// where its value goes.
template <class TypeAt, class ValueAt>
RecordStatus read_fields(LineSource& src, std::size_t need, TypeAt type_at, ValueAt value_at, bool* partial) {
    if (partial != nullptr) *partial = false;
    std::string_view line;
    if (!src.next(line)) return RecordStatus::end;
    std::size_t got = 0;
    std::size_t pos = 0;
    bool comma = false;  // a comma was seen since the last value
    for (;;) {
        while (pos < line.size() && is_blank(line[pos])) ++pos;
        if (pos == line.size()) {
            if (!src.next(line)) {
                if (partial != nullptr) *partial = got > 0 || comma;
                return RecordStatus::end;
            }
            pos = 0;
            continue;
        }
        const char c = line[pos];
        if (c == ',') {
            if (comma || got == 0) return RecordStatus::bad;
            comma = true;
            ++pos;
            continue;
        }
        if (c == '/') return RecordStatus::bad;
        const std::size_t start = pos;
        FieldValue& v = value_at(got);
        const FieldType type = type_at(got);
        if (type != FieldType::integer) {
            // Most fields are plain decimals: convert them while scanning.
            PlainScan p;
            pos = scan_plain(line, pos, p);
            if (pos == line.size() || ends_field(line[pos])) {
                bool done = false;
                if (type == FieldType::real32) done = plain_value(p, v.f);
                else if (type == FieldType::real64) done = plain_value(p, v.d);
                else done = p.any && pos - start <= kCheckedPlainChars;
                if (done) {
                    comma = false;
                    if (++got == need) return RecordStatus::ok;
                    continue;
                }
            }
        }
        while (pos < line.size() && !ends_field(line[pos])) ++pos;
        const std::string_view field = line.substr(start, pos - start);
        switch (type) {
        case FieldType::integer: {
            const auto i = parse_int(field);
            if (!i) return RecordStatus::bad;
            v.i = *i;
            break;
        }
        case FieldType::real32: {
            const auto f = parse_float(field);
            if (!f) return RecordStatus::bad;
            v.f = *f;
            break;
        }
        case FieldType::real64: {
            const auto d = parse_double(field);
            if (!d) return RecordStatus::bad;
            v.d = *d;
            break;
        }
        case FieldType::checked:
            if (!is_double_field(field)) return RecordStatus::bad;
            break;
        }
        comma = false;
        if (++got == need) return RecordStatus::ok;
    }
}

}  // namespace

RecordStatus read_record(LineSource& src, std::span<const FieldType> types, std::span<FieldValue> out,
                         bool* partial) {
    return read_fields(
        src, types.size(), [&](std::size_t i) { return types[i]; }, [&](std::size_t i) -> FieldValue& { return out[i]; },
        partial);
}

RecordStatus read_sparse_record(LineSource& src, std::size_t need, FieldType rest, std::span<const std::size_t> at,
                                std::span<const FieldType> types, std::span<FieldValue> out, bool* partial) {
    FieldValue dropped{};
    auto kept = [&](std::size_t i) {
        for (std::size_t k = 0; k < at.size(); ++k)
            if (at[k] == i) return k;
        return at.size();
    };
    return read_fields(
        src, need,
        [&](std::size_t i) {
            const std::size_t k = kept(i);
            return k < at.size() ? types[k] : rest;
        },
        [&](std::size_t i) -> FieldValue& {
            const std::size_t k = kept(i);
            return k < at.size() ? out[k] : dropped;
        },
        partial);
}

OptionField option_field(std::string_view arg, std::string_view& field) {
    std::size_t pos = 0;
    while (pos < arg.size() && is_blank(arg[pos])) ++pos;
    if (pos == arg.size()) return OptionField::empty;
    if (arg[pos] == ',' || arg[pos] == '/') return OptionField::unchanged;
    const std::size_t start = pos;
    while (pos < arg.size() && !ends_field(arg[pos])) ++pos;
    field = arg.substr(start, pos - start);
    return OptionField::value;
}

}  // namespace krel::io
