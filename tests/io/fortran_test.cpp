#include "io/fortran.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string_view>

namespace {

using krel::io::format_f;
using krel::io::format_i;
using krel::io::FreeLine;

// Field widths, signs and special values; the rounding itself is checked
// against printf below.
TEST(FormatF, EditBoundaries) {
    struct Case { double v; int w, d; std::string_view want; };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {0.5, 5, 2, " 0.50"},                    // room for the leading zero
        {0.5, 4, 2, "0.50"},                     // exactly room for it
        {0.5, 3, 2, ".50"},                      // no room: the zero goes first
        {-0.5, 5, 2, "-0.50"},                   // sign and zero fit
        {-0.5, 4, 2, "-.50"},                    // the sign stays, the zero goes
        {-0.5, 3, 2, "***"},                     // not even without the zero
        {9.96, 5, 1, " 10.0"},                   // rounding carries into a new digit
        {9.96, 3, 1, "***"},                     // does not fit: asterisks
        {999.9996, 8, 3, "1000.000"},            // carry fills the field exactly
        {999.9996, 7, 3, "*******"},             // carry overflows the field
        {-0.0, 6, 2, " -0.00"},                  // negative zero keeps its sign
        {0.0, 6, 2, "  0.00"},                   // plain zero
        {0.0, 3, 2, ".00"},                      // zero without its leading zero
        {-1234.5678, 9, 3, "-1234.568"},         // fills the field exactly
        {-1234.5678, 8, 3, "********"},          // one column short
        {612345.125, 10, 3, "612345.125"},       // full-width coordinate
        {2600000.0, 11, 3, "2600000.000"},       // wide layout field
        {10000000.0, 11, 3, "***********"},      // overflows the wide field
        {1e7, 9, 2, "*********"},                // -z echo that does not fit
        {-1.0, 6, 2, " -1.00"},                  // -r -1 echo
        {std::nan(""), 5, 2, "  NaN"},           // not a number
        {std::nan(""), 2, 2, "**"},              // too narrow for NaN
        {inf, 9, 3, " Infinity"},                // room for the long form
        {inf, 7, 3, "    Inf"},                  // short form
        {-inf, 9, 3, "-Infinity"},               // long form with sign
        {-inf, 8, 3, "    -Inf"},                // short form with sign
        {-inf, 3, 3, "***"},                     // no room for the sign
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.v << " F" << c.w << '.' << c.d);
        EXPECT_EQ(format_f(c.v, c.w, c.d), c.want);
    }
}

TEST(FormatI, Widths) {
    struct Case { long long v; int w; std::string_view want; };
    const Case cases[] = {
        {5, 4, "   5"},        // right-aligned
        {1000, 4, "1000"},      // fills the field
        {1000, 3, "***"},       // tile number 1000 in i3
        {-5, 2, "-5"},          // sign counts as a column
        {-10, 2, "**"},         // negative that does not fit
        {100, 2, "**"},         // summary percentage of 100
        {0, 11, "          0"},  // free-format integer width
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.v << " I" << c.w);
        EXPECT_EQ(format_i(c.v, c.w), c.want);
    }
}

TEST(FreeLine, ItemSpacing) {
    struct Case { FreeLine line; std::string_view want; };
    const Case cases[] = {
        {FreeLine{}, "\n"},                                            // no items: empty line
        {FreeLine{}.text(""), " \n"},                                  // one empty text: one blank
        {FreeLine{}.text("->exploring ").text("a.xyz"), " ->exploring a.xyz\n"},  // texts join
        {FreeLine{}.text("ctrmesh nodes=").num(2000), " ctrmesh nodes=        2000\n"},
        {FreeLine{}.text(">found").num(3).text(" coincidental point(s)"),
         " >found           3  coincidental point(s)\n"},  // blank after the number too
        {FreeLine{}.num(1).num(-2), "           1          -2\n"},  // numbers apart
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want);
        EXPECT_EQ(c.line.str(), c.want);
    }
}

// The integer rounding path against glibc's printf, which rounds the exact
// binary value the same way, over values near every kind of boundary.
TEST(FormatF, AgreesWithExactDecimalRounding) {
    std::uint64_t s = 12345;
    auto next = [&] {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return s >> 11;
    };
    char want[400];
    for (int k = 0; k < 200000; ++k) {
        const int d = static_cast<int>(next() % 6);
        double v;
        switch (k % 4) {
        case 0: v = static_cast<double>(next() % 20000000) / 1000.0 - 10000.0; break;  // 3-decimal data
        case 1: v = std::ldexp(static_cast<double>(next() % 4096), -static_cast<int>(next() % 14)); break;  // ties
        case 2: v = static_cast<double>(static_cast<float>(static_cast<double>(next()) * 1e-12)); break;  // floats
        default: v = std::ldexp(static_cast<double>(next()), -static_cast<int>(next() % 120)); break;
        }
        if (k % 3 == 0) v = -v;
        std::snprintf(want, sizeof want, d == 0 ? "%#.*f" : "%.*f", d, v);
        // A field of 60 columns is placed in one piece, one of 70 piece by
        // piece.
        const std::string got = krel::io::format_f(v, 60, d);
        ASSERT_EQ(got.size(), 60U) << v << " F60." << d;
        ASSERT_EQ(got.substr(got.find_first_not_of(' ')), want) << v << " F60." << d;
        const std::string wide = krel::io::format_f(v, 70, d);
        ASSERT_EQ(wide.size(), 70U) << v << " F70." << d;
        ASSERT_EQ(wide.substr(wide.find_first_not_of(' ')), want) << v << " F70." << d;
    }
}

// The result writer's own three-decimal field gives append_f's field
// wherever it answers, and answers for the values records hold: narrow
// fields (a leading zero to drop, asterisks), signs (-0 included), ties,
// tiny and huge magnitudes, at the writer's widths and at the smallest.
TEST(FormatF, ThreeDecimalFieldAgreesWithTheGeneralOne) {
    std::uint64_t s = 777;
    auto next = [&] {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return s >> 11;
    };
    std::vector<double> values = {0.0,    -0.0,   0.0005, 0.0015, -0.0005, 0.9995, -0.9995, 9.9995,
                                  99999.9995, 1e-300, -1e-300, 5e-324, 1125899906842623.0, 1125899906842624.0,
                                  -1125899906842623.0, 123456.789, -12345.678, 0.5, -0.5};
    for (int k = 0; k < 100000; ++k) {
        double v;
        switch (k % 4) {
        case 0: v = static_cast<double>(next() % 2000000000) / 1000.0 - 1000000.0; break;  // record values
        case 1: v = std::ldexp(static_cast<double>(next() % 65536), -static_cast<int>(next() % 16)); break;  // ties
        case 2: v = static_cast<double>(static_cast<float>(static_cast<double>(next()) * 1e-9)) + 440000.0; break;
        default: v = std::ldexp(static_cast<double>(next()), -static_cast<int>(next() % 110)); break;
        }
        values.push_back(k % 3 == 0 ? -v : v);
    }
    int answered = 0;
    for (const double v : values) {
        for (const int w : {5, 6, 8, 9, 10, 11, 12}) {
            char field[16];
            const std::string want = format_f(v, w, 3);
            if (!krel::io::put_f3(field, v, w)) {
                const bool fits = want.find('*') == std::string::npos && want.find("-.") == std::string::npos &&
                                  want[want.find_first_not_of(' ')] != '.';
                ASSERT_FALSE(fits && std::fabs(v) < 0x1p50) << v << " F" << w << ".3: " << want;
                continue;
            }
            ++answered;
            ASSERT_EQ(std::string(field, static_cast<std::size_t>(w)), want) << v << " F" << w << ".3";
        }
    }
    EXPECT_GT(answered, 300000);
}

}  // namespace
