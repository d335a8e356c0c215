// SPDX-License-Identifier: MIT
#include "convert.h"
#include "errors.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <utility>

namespace quillo {
namespace {

std::optional<ErrorKind> errorOf(auto&& f) {
    try {
        f();
    } catch (const EngineError& e) {
        return e.kind();
    }
    return std::nullopt;
}

struct TextRow {
    double value;
    const char* plain;
    const char* signedForm;
};

TEST(Conversions, WriteNumbersExactlyAsTheDisplayShowsThem) {
    const double sqrt2 = std::sqrt(2.0);
    const TextRow rows[] = {
        {8, "8", " 8"},
        {-8, "-8", "-8"},
        {15, "15", " 15"},
        {0.5, "0.5", " .5"},
        {-0.25, "-0.25", "-.25"},
        {0.1 + 0.2, "0.3", " .3"},
        {1.0 / 3, "0.333333333333333", " .333333333333333"},
        {2.0 / 3, "0.666666666666667", " .666666666666667"},
        {sqrt2, "1.4142135623731", " 1.4142135623731"},
        {0, "0", " 0"},
        {-0.0, "0", " 0"},
        {1e14, "100000000000000", " 100000000000000"},
        {1e15, "1E+15", " 1E+15"},
        {1e16, "1E+16", " 1E+16"},
        {1e20, "1E+20", " 1E+20"},
        {std::pow(2.0, 50), "1.12589990684262E+15", " 1.12589990684262E+15"},
        {0.0001, "0.0001", " .0001"},
        {0.00001, "1E-05", " 1E-05"},
        {-0.00001, "-1E-05", "-1E-05"},
        {1.5e-7, "1.5E-07", " 1.5E-07"},
        {1e100, "1E+100", " 1E+100"},
        {1e-300, "1E-300", " 1E-300"},
        {std::numeric_limits<double>::max(), "1.79769313486232E+308", " 1.79769313486232E+308"},
        {std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324",
         " 4.94065645841247E-324"},
        // Rounding to 15 digits can carry into a new exponent.
        {99999999999999.95, "100000000000000", " 100000000000000"},
        {999999999999999.5, "1E+15", " 1E+15"},
        {0.000099999999999999999, "0.0001", " .0001"},
        {123456.789, "123456.789", " 123456.789"},
        {1234567890123456.0, "1.23456789012346E+15", " 1.23456789012346E+15"},
        {-1234.5, "-1234.5", "-1234.5"},
        {300000, "300000", " 300000"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(plainText(row.value), row.plain) << row.value;
        EXPECT_EQ(signedText(row.value), row.signedForm) << row.value;
    }
}

struct ParseRow {
    const char* text;
    double value;
};

TEST(Conversions, ReadDisplayTexts) {
    const ParseRow rows[] = {
        {"12.", 12},
        {" 9", 9},
        {"-3.", -3},
        {" .5", 0.5},
        {".5", 0.5},
        {"-.5", -0.5},
        {"1500", 1500},
        {"1E+20", 1e20},
        {"-0.", 0},
        {"0.", 0},
        {"00.", 0},
        {"+4", 4},
        {"1.5E-3", 1.5e-3},
        {"  7  ", 7},
        {"12.5", 12.5},
        {" 1.4142135623731", 1.4142135623731},
        {"1E-05", 1e-5},
        {" 1E+205", 1e205},
        {"1.7976931348623E+308", 1.7976931348623e308},
        {"1e3", 1000},
        {"0.1", 0.1},
        {"-1.5E+2", -150},
        {"1E-320", 1e-320},
        {"1E-400", 0},
        {"1E-99999999999999999999", 0},
        {"0.000000000000000000000000000000000000000000000000000000000000000001E+60", 1e-6},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(parseNumber(row.text), row.value) << row.text;
    }
    EXPECT_TRUE(std::signbit(parseNumber("-0.")));
    std::string longDigits(5000, '1');
    longDigits += "E-4999";
    EXPECT_EQ(parseNumber(longDigits), parseNumber("1.11111111111111111"));
}

TEST(Conversions, RejectTextsThatAreNotNumbers) {
    const char* rows[] = {"-",   ".",   "",    " ",   "-.",     "1.2.3", "1E",
                          "E5",  "--1", "1 2", "abc", "0x10",   "1e+",   "inf",
                          "nan", "1,5", "- 5", "5-",  "1E+2.5", "\t1"};
    for (const char* text : rows) {
        EXPECT_EQ(errorOf([&] { parseNumber(text); }), ErrorKind::TypeMismatch) << text;
    }
}

TEST(Conversions, NumbersBeyondTheDoubleRangeOverflow) {
    const char* rows[] = {"1E+400",
                          "1E+205205",
                          " 1E+99999999999999999999999999",
                          "1.8E+308",
                          "1.79769313486232E+308",
                          "-1E+309"};
    for (const char* text : rows) {
        EXPECT_EQ(errorOf([&] { parseNumber(text); }), ErrorKind::Overflow) << text;
    }
    EXPECT_EQ(errorOf([] { parseNumber(std::string(400, '9') + "."); }), ErrorKind::Overflow);
}

TEST(Conversions, VariantsConvertByKind) {
    EXPECT_EQ(toNumber(Variant()), 0);
    EXPECT_EQ(toNumber(Variant::integer(0)), 0);
    EXPECT_EQ(toNumber(Variant::boolean(true)), -1);
    EXPECT_EQ(toNumber(Variant::number(2.5)), 2.5);
    EXPECT_EQ(toNumber(Variant::text("12.")), 12);
    // A held text is written back exactly as it was.
    EXPECT_EQ(plainText(Variant::text("5.")), "5.");
    EXPECT_EQ(plainText(Variant()), "");
    EXPECT_EQ(plainText(Variant::number(8)), "8");
    EXPECT_EQ(plainText(Variant::integer(0)), "0");
}

TEST(Conversions, Comparisons) {
    EXPECT_TRUE(equals(Variant::text("Ops"), "Ops"));
    EXPECT_FALSE(equals(Variant::text("Ops"), "OPS"));
    EXPECT_TRUE(equals(Variant(), ""));
    EXPECT_FALSE(equals(Variant::text(" "), ""));
    EXPECT_TRUE(equalsZero(Variant()));
    EXPECT_TRUE(equalsZero(Variant::text("-0.")));
    EXPECT_TRUE(equalsZero(Variant::text("00.")));
    EXPECT_FALSE(equalsZero(Variant::text("1E-320")));
    EXPECT_EQ(errorOf([] { equalsZero(Variant::text("-")); }), ErrorKind::TypeMismatch);
}

TEST(Conversions, TextHelpers) {
    EXPECT_EQ(positionOf("12.", "."), 3u);
    EXPECT_EQ(positionOf(" 9", "."), 0u);
    EXPECT_EQ(positionOf(" 1.4142135623731", "."), 3u);
    EXPECT_EQ(leftPart("12.", 2), "12");
    EXPECT_EQ(leftPart("12.", 0), "");
    EXPECT_EQ(leftPart("12.", 10), "12.");
    EXPECT_EQ(errorOf([] { leftPart("12.", -1); }), ErrorKind::InvalidArgument);
}

struct PowerRow {
    double base;
    double exponent;
    std::optional<double> result;
    std::optional<ErrorKind> error;
};

TEST(Conversions, PowersAndRoots) {
    const PowerRow rows[] = {
        {2, 10, 1024, {}},
        {-2, 3, -8, {}},
        {0, 0, 1, {}},
        {4, 0.5, 2, {}},
        {10, 400, {}, ErrorKind::Overflow},
        {0, -1, {}, ErrorKind::Overflow},
        {-0.0, -1, {}, ErrorKind::Overflow},
        {-8, 1.0 / 3, {}, ErrorKind::InvalidArgument},
        {10, -400, 0, {}},
        {1e200, 2, {}, ErrorKind::Overflow},
        {-0.0, -0.5, {}, ErrorKind::Overflow},
        {-1, 1e300, 1, {}},
        {0.5, 1074.5, std::numeric_limits<double>::denorm_min(), {}},
        // 4.5 + 2.4E-16 times the least subnormal: rounded to 53 bits
        // first, it would be a tie and go to 4.
        {0x1.a6a58d55e307cp-358, 3, 5 * std::numeric_limits<double>::denorm_min(), {}},
    };
    for (const auto& row : rows) {
        std::optional<double> got;
        const auto error = errorOf([&] { got = power(row.base, row.exponent); });
        EXPECT_EQ(error, row.error) << row.base << "^" << row.exponent;
        EXPECT_EQ(got, row.result) << row.base << "^" << row.exponent;
    }
    EXPECT_EQ(squareRoot(0.25), 0.5);
    EXPECT_EQ(squareRoot(0), 0);
    EXPECT_EQ(errorOf([] { squareRoot(-4); }), ErrorKind::InvalidArgument);
    EXPECT_EQ(errorOf([] { checked(1e308 * 10); }), ErrorKind::Overflow);
    EXPECT_EQ(checked(1e-320 / 1e10), 0);
}

// Exact powers halfway between two doubles come out as the even one: the
// nearest double to the exact integer, which from_chars rounds ties to even.
TEST(Conversions, HalfwayPowersRoundToEven) {
    const std::pair<long long, int> rows[] = {{1856231056, 2}, {94906315, 2}, {208069, 3},
                                              {208125, 3},     {-208069, 3},  {3, 34},
                                              {9785, 4},       {1555, 5},     {199, 7}};
    for (const auto& [base, exponent] : rows) {
        __extension__ using Exact = unsigned __int128;
        Exact exact = 1;
        for (int i = 0; i < exponent; ++i) {
            exact *= static_cast<Exact>(std::llabs(base));
        }
        int bits = 0;
        while (exact >> bits != 0) {
            ++bits;
        }
        const Exact dropped = exact & ((Exact{1} << (bits - 53)) - 1);
        ASSERT_EQ(dropped, Exact{1} << (bits - 54)) << base << " is no halfway case";
        std::string digits;
        for (Exact e = exact; e != 0; e /= 10) {
            digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(e % 10)));
        }
        double nearest = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), nearest);
        EXPECT_EQ(power(static_cast<double>(base), exponent), base < 0 ? -nearest : nearest)
            << base << "^" << exponent;
    }
}

} // namespace
} // namespace quillo
