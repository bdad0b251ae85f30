#pragma once
// Fortran-style output edits. Every message, listing line and result record of
// krel is built from these, so a field width or a rounding rule is decided in
// exactly one place.

#include <cstdint>
#include <string>
#include <string_view>

namespace krel::io {

// Iw: v right-aligned in w columns; w asterisks when it does not fit.
std::string format_i(std::int64_t v, int w);

// Fw.d: v rounded (exactly, ties to even) to d decimals, right-aligned in w
// columns. The leading zero before the point is dropped only when it does not
// fit; the minus sign appears whenever the sign bit is set (also for -0.00).
// w asterisks when the number does not fit. NaN and infinities print as "NaN",
// "Inf"/"Infinity" (with "-" when negative), right-aligned.
std::string format_f(double v, int w, int d);
// The same field appended to out.
void append_f(std::string& out, double v, int w, int d);
// The same field for d = 3 written to field[0 .. w), w at least 5, for
// a number below 2^50 in magnitude that fits with its leading digit; false
// (field unspecified) otherwise, for append_f to give the field.
bool put_f3(char* field, double v, int w);

// aN: text in n columns, cut to its first n characters or blank-padded.
std::string format_a(std::string_view text, int n);

// Text with trailing blanks removed.
std::string_view trim_right(std::string_view text);

// A free-format (list-directed) line: one leading blank, consecutive text items
// joined with nothing between them, one blank between any other two items,
// integers right-aligned in 11 columns. A line without items is empty.
class FreeLine {
public:
    FreeLine& text(std::string_view t);
    FreeLine& num(std::int64_t v);
    // The line with its LF.
    [[nodiscard]] std::string str() const;

private:
    enum class Item { none, text, number };
    std::string body_;
    Item last_ = Item::none;
};

}  // namespace krel::io
