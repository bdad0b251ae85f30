#include "io/fields.hpp"
#include "support/lines.hpp"

#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <cstring>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace krel::io;

TEST(NumberField, Reals) {
    struct Case {
        std::string_view text;
        std::optional<double> want;  // nullopt: not a number
    };
    const Case cases[] = {
        {"1", 1.0},            {"-2.5", -2.5},        {"+3.", 3.0},         {".5", 0.5},
        {"-.5e1", -5.0},       {"1.5D2", 150.0},      {"1.5d-2", 0.015},    {"2E+3", 2000.0},
        {"007", 7.0},          {"1e-400", 0.0},       // underflow gives the rounded value
        {"", std::nullopt},    {"+", std::nullopt},   {".", std::nullopt},  {"-.", std::nullopt},
        {"1e", std::nullopt},  {"1e+", std::nullopt}, {"e5", std::nullopt}, {"1.2.3", std::nullopt},
        {"nan", std::nullopt}, {"inf", std::nullopt}, {"-Infinity", std::nullopt},
        {"0x10", std::nullopt}, {"2*1.0", std::nullopt}, {"1e400", std::nullopt},  // overflow
        {"1 ", std::nullopt},  {"1,", std::nullopt},  {"++1", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("'") + std::string(c.text) + "'");
        EXPECT_EQ(parse_double(c.text), c.want);
    }
}

TEST(NumberField, FloatRoundsOnceFromTheText) {
    // A hair above the tie between 1 and the next float: rounded once it goes
    // up; through double it first lands on the tie and then goes to even.
    const std::string_view text = "1.00000005960464477539062500000000001";
    EXPECT_EQ(parse_float(text), std::nextafter(1.0F, 2.0F));
    EXPECT_EQ(static_cast<float>(*parse_double(text)), 1.0F);
    EXPECT_EQ(parse_float("1e39"), std::nullopt);   // overflows a float, not a double
    EXPECT_EQ(parse_float("1e-46"), 0.0F);          // underflow rounds to zero
    EXPECT_TRUE(std::signbit(*parse_float("-1e-46")));
    EXPECT_EQ(parse_float("1e-45"), std::numeric_limits<float>::denorm_min());
}

TEST(NumberField, Integers) {
    struct Case { std::string_view text; std::optional<std::int32_t> want; };
    const Case cases[] = {
        {"345", 345},
        {"+12", 12},
        {"-2147483648", std::numeric_limits<std::int32_t>::min()},
        {"2147483647", std::numeric_limits<std::int32_t>::max()},
        {"2147483648", std::nullopt},  // beyond 32 bits
        {"1.0", std::nullopt},         // a decimal point is not an integer
        {"1e2", std::nullopt},         // nor an exponent
        {"", std::nullopt},
        {"-", std::nullopt},
        {"12a", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("'") + std::string(c.text) + "'");
        EXPECT_EQ(parse_int(c.text), c.want);
    }
}

using krel::test::Lines;

TEST(Record, SeparatorsContinuationAndFaults) {
    constexpr std::array<FieldType, 3> xyz{FieldType::real64, FieldType::real64, FieldType::real32};
    struct Case {
        std::vector<std::string> lines;
        std::vector<RecordStatus> want;  // one status per read, until the input ends
        std::vector<double> first;       // values of the first ok record
    };
    using S = RecordStatus;
    const Case cases[] = {
        {{"1 2 3"}, {S::ok, S::end}, {1, 2, 3}},
        {{"1\t2,3 4 5"}, {S::ok, S::end}, {1, 2, 3}},       // tab, comma, extra values ignored
        {{"1 , 2 ,3"}, {S::ok, S::end}, {1, 2, 3}},         // blanks around a comma
        {{"1 2", "", "3 9", "4 5 6"}, {S::ok, S::ok, S::end}, {1, 2, 3}},  // continues over lines
        {{"1 2,", "3"}, {S::ok, S::end}, {1, 2, 3}},        // a comma before a line end
        {{"1,,2 3"}, {S::bad, S::end}, {}},                 // empty field
        {{"1 2,", ",3"}, {S::bad, S::end}, {}},             // empty field across a line end
        {{",1 2 3"}, {S::bad, S::end}, {}},                 // comma before the first value
        {{"1 2 /", "4 5 6"}, {S::bad, S::ok, S::end}, {4, 5, 6}},  // slash while values needed
        {{"1 2 3 /"}, {S::ok, S::end}, {1, 2, 3}},          // slash after the values
        {{"1 2 3/4"}, {S::ok, S::end}, {1, 2, 3}},          // a slash ends a field
        {{"1 x", "2 3 4", "5 6 7"}, {S::bad, S::ok, S::ok, S::end}, {2, 3, 4}},  // restart on next line
        {{"1 2", "x 3"}, {S::bad, S::end}, {}},             // fault found on the continuation line
        {{"1 2"}, {S::end}, {}},                            // input ends inside a record
        {{"", "  "}, {S::end}, {}},                         // blank lines only
        {{"1 2 3e"}, {S::bad, S::end}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "first line '" << c.lines.front() << "'");
        Lines src(c.lines);
        // Checking mode for the sparse reading: the same records, keeping z
        // and x only (in that order), must give the same statuses and values.
        Lines again(c.lines);
        constexpr std::array<std::size_t, 2> at{2, 0};
        constexpr std::array<FieldType, 2> kept{FieldType::real32, FieldType::real64};
        std::array<FieldValue, 3> v;
        std::array<FieldValue, 2> w;
        std::vector<RecordStatus> got;
        std::vector<double> first;
        for (;;) {
            bool part = false, part_again = false;
            const RecordStatus st = read_record(src, xyz, v, &part);
            EXPECT_EQ(read_sparse_record(again, 3, FieldType::real64, at, kept, w, &part_again), st);
            got.push_back(st);
            if (st == S::ok) {
                EXPECT_TRUE(w[0].f == v[2].f && w[1].d == v[0].d);
            }
            if (st == S::ok && first.empty()) first = {v[0].d, v[1].d, v[2].f};
            if (st == S::end) {
                EXPECT_EQ(part, part_again);
                break;
            }
        }
        EXPECT_EQ(got, c.want);
        EXPECT_EQ(first, c.first);
    }
}

TEST(Record, IntegerFieldMustBeInteger) {
    constexpr std::array<FieldType, 4> ixyz{FieldType::integer, FieldType::real64, FieldType::real64,
                                            FieldType::real32};
    std::array<FieldValue, 4> v;
    Lines ok({"1,100.5,200.5,3.25"});
    ASSERT_EQ(read_record(ok, ixyz, v), RecordStatus::ok);
    EXPECT_EQ(v[0].i, 1);
    EXPECT_EQ(v[3].f, 3.25F);
    Lines bad({"1.0,100.5,200.5,3.25"});
    EXPECT_EQ(read_record(bad, ixyz, v), RecordStatus::bad);
}

TEST(OptionValue, FirstField) {
    struct Case { std::string_view arg; OptionField want; std::string_view field; };
    const Case cases[] = {
        {"0.05", OptionField::value, "0.05"},
        {" \t0.05 junk", OptionField::value, "0.05"},  // leading blanks and tabs skipped
        {"0.05,7", OptionField::value, "0.05"},
        {"3/", OptionField::value, "3"},
        {",5", OptionField::unchanged, ""},
        {"  /", OptionField::unchanged, ""},
        {"", OptionField::empty, ""},
        {" \t ", OptionField::empty, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("'") + std::string(c.arg) + "'");
        std::string_view field;
        EXPECT_EQ(option_field(c.arg, field), c.want);
        if (c.want == OptionField::value) {
            EXPECT_EQ(field, c.field);
        }
    }
}

// Short decimals take a one-operation path; it must round exactly as the
// general conversion does, bit for bit.
TEST(NumberField, ShortDecimalsRoundAsTheGeneralConversion) {
    std::uint64_t s = 99;
    auto next = [&] {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return s >> 17;
    };
    for (int k = 0; k < 300000; ++k) {
        const int int_digits = static_cast<int>(next() % 9);
        const int frac_digits = static_cast<int>(next() % 9);
        std::string text = next() % 4 == 0 ? "-" : "";
        for (int d = 0; d < int_digits; ++d) text += static_cast<char>('0' + next() % 10);
        if (frac_digits > 0 || int_digits == 0) {
            text += '.';
            for (int d = 0; d < std::max(frac_digits, 1); ++d) text += static_cast<char>('0' + next() % 10);
        }
        double d_ref = 0;
        float f_ref = 0;
        std::from_chars(text.data(), text.data() + text.size(), d_ref);
        std::from_chars(text.data(), text.data() + text.size(), f_ref);
        const auto d = parse_double(text);
        const auto f = parse_float(text);
        ASSERT_TRUE(d && f) << text;
        ASSERT_EQ(std::memcmp(&*d, &d_ref, sizeof d_ref), 0) << text;
        ASSERT_EQ(std::memcmp(&*f, &f_ref, sizeof f_ref), 0) << text;
    }
}

// Fields read inside a record, where the line goes on past them: runs of
// digits of every length up to 30 (eight at a time and the rest), leading
// zeros, a point anywhere, and every kind of character after the run. Each
// value must be the general conversion's, bit for bit, and a field that is
// no number must make the record bad.
TEST(Record, DigitRunsOfEveryLengthReadAsTheGeneralConversion) {
    constexpr std::array<FieldType, 2> two{FieldType::real64, FieldType::real32};
    std::uint64_t s = 7;
    auto next = [&] {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return s >> 17;
    };
    const char* const after[] = {" 1", ",2", "\t3", "/", "x 1", ":1 2", "\x80 1", "\xff 1", ""};
    for (int k = 0; k < 40000; ++k) {
        const auto int_digits = static_cast<int>(next() % 31);
        const auto frac_digits = static_cast<int>(next() % 31);
        std::string x = next() % 5 == 0 ? "-" : "";
        const auto zeros = static_cast<int>(next() % 4 == 0 ? next() % 12 : 0);
        for (int d = 0; d < int_digits; ++d) x += static_cast<char>('0' + (d < zeros ? 0 : next() % 10));
        if (next() % 3 != 0) {
            x += '.';
            for (int d = 0; d < frac_digits; ++d) x += static_cast<char>('0' + next() % 10);
        }
        if (x.empty()) continue;  // no field at all
        const std::string tail = after[next() % std::size(after)];
        const std::string line = x + " " + x + tail;
        SCOPED_TRACE("'" + line + "'");
        krel::test::Lines src({line});
        std::array<FieldValue, 2> v{};
        const RecordStatus st = read_record(src, two, v);
        double d_ref = 0;
        float f_ref = 0;
        const auto rd = std::from_chars(x.data(), x.data() + x.size(), d_ref);
        const auto rf = std::from_chars(x.data(), x.data() + x.size(), f_ref);
        // The second field runs into the tail unless a blank, comma, slash
        // or the line end follows it.
        const bool tail_ends = tail.empty() || tail[0] == ' ' || tail[0] == ',' || tail[0] == '\t' || tail[0] == '/';
        const bool number = rd.ec == std::errc{} && rd.ptr == x.data() + x.size() && rf.ec == std::errc{} &&
                            x != "-" && x.find_first_of("0123456789") != std::string::npos;
        if (!number || !tail_ends) {
            EXPECT_EQ(st, RecordStatus::bad);
            continue;
        }
        ASSERT_EQ(st, RecordStatus::ok);
        ASSERT_EQ(std::memcmp(&v[0].d, &d_ref, sizeof d_ref), 0);
        ASSERT_EQ(std::memcmp(&v[1].f, &f_ref, sizeof f_ref), 0);
    }
}

}  // namespace
