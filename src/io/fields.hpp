#pragma once
// Free-format number input: the one place where krel turns text into numbers.
//
// A number field is [sign] digits [. [digits]] or [sign] . digits, optionally
// followed by an exponent letter (E, e, D or d), an optional sign and digits.
// No repeat counts, no "nan"/"inf", no hexadecimal. A value that overflows its
// type is not a number; an underflow gives the rounded value. An integer field
// is [sign] digits within 32 bits. Conversion is correctly rounded; a float
// field is rounded once, straight from the decimal text.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace krel::io {

[[nodiscard]] std::optional<double> parse_double(std::string_view field);
[[nodiscard]] std::optional<float> parse_float(std::string_view field);
[[nodiscard]] std::optional<std::int32_t> parse_int(std::string_view field);

// Characters that end a field inside a record.
constexpr bool is_blank(char c) { return c == ' ' || c == '\t'; }
constexpr bool ends_field(char c) { return c == ' ' || c == '\t' || c == ',' || c == '/'; }

// checked: a real64 field whose value is not needed, only whether it is a
// number (for counting records); its value is left undefined.
enum class FieldType : std::uint8_t { integer, real32, real64, checked };

struct FieldValue {
    double d = 0.0;       // real64
    float f = 0.0F;       // real32
    std::int32_t i = 0;   // integer
};

// Lines of one input, without their line ends (a CR before the LF is already
// gone). next() returns false at the end of the input.
class LineSource {
public:
    virtual ~LineSource() = default;
    [[nodiscard]] virtual bool next(std::string_view& line) = 0;
};

// A source of exactly one line (a hull line, a first line, an argument).
class OneLine final : public LineSource {
public:
    explicit OneLine(std::string_view line) : line_(line) {}
    bool next(std::string_view& line) override {
        if (used_) return false;
        used_ = true;
        line = line_;
        return true;
    }

private:
    std::string_view line_;
    bool used_ = false;
};

enum class RecordStatus { ok, bad, end };

// Reads one record with the fields `types` from the next line on.
// Separators are blanks, tabs and at most one comma; a line end counts as a
// blank, so a record that needs more values continues on the next lines.
// Values beyond those needed are ignored: the next record starts on the next
// line. bad: a field that is not a number of its type, an empty field (two
// commas with only blanks between, also across a line end), a comma before the
// first value, or a slash while values are still needed; the next record then
// starts on the line after the one where the fault was found. end: the input
// ended before the record was complete (also inside a continued record).
// partial, when given, tells on `end` whether the record had begun (a value
// or a comma was read): a record cut by the end of its input.
[[nodiscard]] RecordStatus read_record(LineSource& src, std::span<const FieldType> types,
                                       std::span<FieldValue> out, bool* partial = nullptr);

// The same reading of a record of `need` fields of which only a few are kept:
// field at[k] (0-based, each listed once) is read with types[k] into out[k],
// every other one with `rest` and dropped. A column selection far beyond what
// a record holds then costs no room for every column.
[[nodiscard]] RecordStatus read_sparse_record(LineSource& src, std::size_t need, FieldType rest,
                                              std::span<const std::size_t> at, std::span<const FieldType> types,
                                              std::span<FieldValue> out, bool* partial = nullptr);


// The first field of an option value, as the command line reads it: leading
// blanks and tabs skipped, the field ends at a blank, tab, comma or slash.
enum class OptionField { value, unchanged, empty };
[[nodiscard]] OptionField option_field(std::string_view arg, std::string_view& field);

}  // namespace krel::io
