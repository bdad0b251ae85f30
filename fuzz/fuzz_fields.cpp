// Free-format number fields and records.
//
// Input: one byte choosing the record's field types, then text. The text is
// parsed whole as a number field of each type and checked against the C
// library's conversion of the same field; then its lines are read as records
// until the end, and every line as an option value.

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "io/fields.hpp"

namespace {

using krel::io::FieldType;

bool digit(char c) { return c >= '0' && c <= '9'; }

// The field as the C library reads it when it is a number field, else nullopt:
// [sign] digits [. [digits]] or [sign] . digits, then an optional exponent
// (letter E, e, D or d, optional sign, digits). D becomes e for strtod.
std::optional<std::string> c_form(std::string_view s) {
    std::size_t i = 0;
    std::string out;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) out += s[i++];
    std::size_t mant = 0;
    while (i < s.size() && digit(s[i])) out += s[i++], ++mant;
    if (i < s.size() && s[i] == '.') {
        out += s[i++];
        while (i < s.size() && digit(s[i])) out += s[i++], ++mant;
    }
    if (mant == 0) return std::nullopt;
    if (i < s.size() && s[i] != '\0' && std::strchr("EeDd", s[i]) != nullptr) {
        out += 'e';
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) out += s[i++];
        std::size_t exp = 0;
        while (i < s.size() && digit(s[i])) out += s[i++], ++exp;
        if (exp == 0) return std::nullopt;
    }
    if (i != s.size()) return std::nullopt;
    return out;
}

template <class T>
bool same_bits(T a, T b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void check_numbers(std::string_view field) {
    const std::optional<std::string> c = c_form(field);
    const auto d = krel::io::parse_double(field);
    const auto f = krel::io::parse_float(field);
    if (!c) {
        KREL_FUZZ_CHECK(!d && !f, std::string(field));
    } else {
        // Correctly rounded, straight from the text (a float is not rounded
        // through a double); an overflow is not a number.
        const double cd = std::strtod(c->c_str(), nullptr);
        const float cf = std::strtof(c->c_str(), nullptr);
        if (std::isinf(cd)) KREL_FUZZ_CHECK(!d, std::string(field));
        else KREL_FUZZ_CHECK(d && same_bits(*d, cd), std::string(field));
        if (std::isinf(cf)) KREL_FUZZ_CHECK(!f, std::string(field));
        else KREL_FUZZ_CHECK(f && same_bits(*f, cf), std::string(field));
    }

    // An integer field: [sign] digits within 32 bits.
    const auto i = krel::io::parse_int(field);
    bool int_form = !field.empty();
    std::size_t k = 0;
    if (int_form && (field[0] == '+' || field[0] == '-')) k = 1;
    if (k == field.size()) int_form = false;
    for (std::size_t j = k; j < field.size(); ++j)
        if (!digit(field[j])) int_form = false;
    if (!int_form) {
        KREL_FUZZ_CHECK(!i, std::string(field));
        return;
    }
    const std::string text(field);
    errno = 0;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    const bool fits = errno != ERANGE && v >= INT32_MIN && v <= INT32_MAX;
    if (fits) KREL_FUZZ_CHECK(i && *i == v, text);
    else KREL_FUZZ_CHECK(!i, text);
}

// The record reader in its plain form: each field cut at its end first, then
// converted on its own. The reader converts common fields while scanning
// them; both must agree on every status, value and line taken.
krel::io::RecordStatus reference_record(krel::io::LineSource& src, const std::vector<FieldType>& types,
                                        std::vector<krel::io::FieldValue>& out, bool& partial) {
    using krel::io::RecordStatus;
    partial = false;
    std::string_view line;
    if (!src.next(line)) return RecordStatus::end;
    std::size_t got = 0, pos = 0;
    bool comma = false;
    for (;;) {
        while (pos < line.size() && krel::io::is_blank(line[pos])) ++pos;
        if (pos == line.size()) {
            if (!src.next(line)) {
                partial = got > 0 || comma;
                return RecordStatus::end;
            }
            pos = 0;
            continue;
        }
        if (line[pos] == ',') {
            if (comma || got == 0) return RecordStatus::bad;
            comma = true;
            ++pos;
            continue;
        }
        if (line[pos] == '/') return RecordStatus::bad;
        const std::size_t start = pos;
        while (pos < line.size() && !krel::io::ends_field(line[pos])) ++pos;
        const std::string_view field = line.substr(start, pos - start);
        krel::io::FieldValue& v = out[got];
        if (types[got] == FieldType::integer) {
            const auto i = krel::io::parse_int(field);
            if (!i) return RecordStatus::bad;
            v.i = *i;
        } else if (types[got] == FieldType::real32) {
            const auto f = krel::io::parse_float(field);
            if (!f) return RecordStatus::bad;
            v.f = *f;
        } else {
            const auto d = krel::io::parse_double(field);
            if (!d) return RecordStatus::bad;
            if (types[got] == FieldType::real64) v.d = *d;
        }
        comma = false;
        if (++got == types.size()) return RecordStatus::ok;
    }
}

void check_records(std::string_view text, std::uint8_t choice) {
    // 1 to 8 fields, each of one of the four types.
    const std::size_t need = 1 + (choice & 7U);
    std::vector<FieldType> types(need);
    for (std::size_t j = 0; j < need; ++j) {
        const unsigned t = ((choice >> 3) + j * 7U) % 4U;
        types[j] = t == 0   ? FieldType::integer
                   : t == 1 ? FieldType::real32
                   : t == 2 ? FieldType::real64
                            : FieldType::checked;
    }
    std::vector<krel::io::FieldValue> v(need), w(need);
    krel::fuzz::MemoryLines lines(text), same(text);
    const std::size_t total = lines.total();
    std::size_t calls = 0;
    for (;;) {
        const std::size_t before = lines.handed();
        bool partial = false, partial_ref = false;
        const auto st = krel::io::read_record(lines, types, v, &partial);
        const auto ref = reference_record(same, types, w, partial_ref);
        KREL_FUZZ_CHECK(st == ref && partial == partial_ref && lines.handed() == same.handed(), std::string(text));
        ++calls;
        if (st == krel::io::RecordStatus::end) break;
        // Every record takes at least one line, so the loop ends.
        KREL_FUZZ_CHECK(lines.handed() > before);
        if (st == krel::io::RecordStatus::ok) {
            for (std::size_t j = 0; j < need; ++j) {
                if (types[j] == FieldType::real32)
                    KREL_FUZZ_CHECK(std::isfinite(v[j].f) && same_bits(v[j].f, w[j].f), std::string(text));
                if (types[j] == FieldType::real64)
                    KREL_FUZZ_CHECK(std::isfinite(v[j].d) && same_bits(v[j].d, w[j].d), std::string(text));
                if (types[j] == FieldType::integer) KREL_FUZZ_CHECK(v[j].i == w[j].i, std::string(text));
            }
        }
    }
    KREL_FUZZ_CHECK(calls <= total + 1);
}

void check_option(std::string_view arg) {
    std::string_view field;
    if (krel::io::option_field(arg, field) == krel::io::OptionField::value) {
        KREL_FUZZ_CHECK(!field.empty());
        for (const char c : field) KREL_FUZZ_CHECK(!krel::io::ends_field(c));
        check_numbers(field);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const krel::fuzz::Head head(data, size, 1);
    const std::string_view text = head.rest();
    check_numbers(text);
    check_records(text, head.byte(0));
    krel::fuzz::MemoryLines lines(text);
    std::string_view line;
    while (lines.next(line)) check_option(line);
    return 0;
}
