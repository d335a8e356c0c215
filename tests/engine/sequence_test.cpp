// SPDX-License-Identifier: MIT
// Key sequences and what the display shows after each key. An expected
// display of "!kind" means the key raises that error and the display stays;
// "?text" means the zero-divisor warning was shown and the display is text.

#include "sequence.h"

#include <gtest/gtest.h>

#include <new>

namespace quillo::test {
namespace {

struct Row {
    const char* name;
    const char* keys; // captions separated by single spaces
    std::vector<std::string> displays;
    std::vector<std::string> tape; // the lines the keys leave on it
};

std::vector<std::string_view> split(std::string_view list) {
    std::vector<std::string_view> out;
    while (!list.empty()) {
        const auto end = list.find(' ');
        out.push_back(list.substr(0, end));
        list = end == std::string_view::npos ? std::string_view{} : list.substr(end + 1);
    }
    return out;
}

void check(const Row& row) {
    SCOPED_TRACE(row.name);
    Calc calc;
    const auto keys = split(row.keys);
    ASSERT_EQ(keys.size(), row.displays.size()) << "table row is malformed";
    std::string before = calc.surface.display();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const State stateBefore = calc.state();
        const auto out = calc.press(keys[i]);
        const std::string& want = row.displays[i];
        SCOPED_TRACE("key " + std::to_string(i + 1) + " '" + std::string(keys[i]) + "'");
        if (!want.empty() && want[0] == '!') {
            ASSERT_TRUE(out.error.has_value());
            EXPECT_EQ(name(*out.error), want.substr(1));
            EXPECT_EQ(out.display, before);
            EXPECT_EQ(calc.state(), stateBefore);
        } else {
            EXPECT_FALSE(out.error.has_value()) << name(*out.error);
            const bool warned = !want.empty() && want[0] == '?';
            EXPECT_EQ(out.warning, warned);
            EXPECT_EQ(out.display, warned ? want.substr(1) : want);
        }
        before = out.display;
    }
    const Tape& tape = calc.engine.tape();
    std::vector<std::string> lines;
    for (std::uint64_t n = tape.first(); n < tape.end(); ++n) {
        lines.push_back(tape.at(n));
    }
    EXPECT_EQ(lines, row.tape);
}

class Sequences : public ::testing::TestWithParam<Row> {};
TEST_P(Sequences, DisplayAfterEachKey) {
    check(GetParam());
}

std::string rowName(const ::testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(
    NumberEntry, Sequences,
    ::testing::Values(
        Row{"DigitsThenPoint", "1 2 . 5", {"1.", "12.", "12.", "12.5"}, {}},
        Row{"LeadingZerosStay", "0 0", {"0.", "00."}, {}},
        Row{"PointAgainChangesNothing", ". . 5 . 6", {"0.", "0.", "0.5", "0.5", "0.56"}, {}},
        Row{"SignThenDigits", "- 3 4", {"-0.", "-3.", "-34."}, {}},
        Row{"SignThenPoint", "- . 5", {"-0.", "-0.", "-0.5"}, {}},
        Row{"SignAloneThenPoint", "5 + - .", {"5.", "5.", "-", "-0."}, {}},
        Row{"PointAfterOperator", "5 + . 2", {"5.", "5.", "0.", "0.2"}, {}},
        Row{"PointAfterPercent", "5 % .", {"5.", "500", "0."}, {"5 % = 5 X 100 = 500"}},
        Row{"PointAfterClearEntry", "5 CE .", {"5.", "0.", "0."}, {}},
        Row{"DigitAfterSquareWithPoint", "3 x^2 . 5", {"3.", " 9", " 9", " 95"}, {"3 x^2 = 9"}},
        Row{"DigitAfterSquareWithoutPoint",
            "3 x^2 5",
            {"3.", " 9", "!invalid-argument"},
            {"3 x^2 = 9"}},
        Row{"DigitAfterRoot",
            "2 Sqrt 5",
            {"2.", " 1.4142135623731", " 15."},
            {"Sqrt 2 = 1.4142135623731"}},
        Row{"DigitAfterExponentForm",
            "1 0 0 0 0 0 0 0 0 0 0 x^2 x^2 . 5",
            {"1.", "10.", "100.", "1000.", "10000.", "100000.", "1000000.", "10000000.",
             "100000000.", "1000000000.", "10000000000.", " 1E+20", " 1E+40", " 1E+40", " 1E+405"},
            {"10000000000 x^2 = 1E+20", "1E+20 x^2 = 1E+40"}},
        Row{"NewNumberAfterResult", "1 + 2 = 7", {"1.", "1.", "2.", "3", "7."}, {"1 + 2 = 3"}},
        Row{"GoesOnAfterError",
            "3 x^2 5 . 5",
            {"3.", " 9", "!invalid-argument", " 9", " 95"},
            {"3 x^2 = 9"}},
        Row{"SignBeforeSignedZero", "CE x^2 - 2", {"0.", " 0", "- 0", "-2."}, {"0 x^2 = 0"}},
        Row{"SignBeforeSignedZeroIsNoNumber",
            "CE x^2 - x^2",
            {"0.", " 0", "- 0", "!type-mismatch"},
            {"0 x^2 = 0"}}),
    rowName);

INSTANTIATE_TEST_SUITE_P(
    Operators, Sequences,
    ::testing::Values(
        Row{"SumThenProduct",
            "1 2 + 3 = X 2 =",
            {"1.", "12.", "12.", "3.", "15", "15", "2.", "30"},
            {"12 + 3 = 15", "15 X 2 = 30"}},
        Row{"Chaining",
            "5 + 3 + 2 =",
            {"5.", "5.", "3.", "8", "2.", "10"},
            {"5 + 3 = 8", "8 + 2 = 10"}},
        Row{"LeftToRightNoPrecedence",
            "2 + 3 X 4 =",
            {"2.", "2.", "3.", "5", "4.", "20"},
            {"2 + 3 = 5", "5 X 4 = 20"}},
        Row{"ZeroDivisor", "8 / 0 =", {"8.", "8.", "0.", "?8."}, {"8 / 0: Can't divide by zero"}},
        Row{"ZeroDivisorNegativeZero",
            "8 / - . =",
            {"8.", "8.", "-", "-0.", "?8."},
            {"8 / 0: Can't divide by zero"}},
        Row{"ZeroDivisorAfterResult",
            "2 + 6 / 0 =",
            {"2.", "2.", "6.", "8", "0.", "?8"},
            {"2 + 6 = 8", "8 / 0: Can't divide by zero"}},
        Row{"Power", "2 x^y 1 0 =", {"2.", "2.", "1.", "10.", "1024"}, {"2 x^y 10 = 1024"}},
        Row{"PowerNegativeFraction",
            "8 x^y - . 5 =",
            {"8.", "8.", "-", "-0.", "-0.5", "0.353553390593274"},
            {"8 x^y -0.5 = 0.353553390593274"}},
        Row{"MinusAtStart", "- - 4", {"-0.", "-0.", "-4."}, {}},
        Row{"MinusAfterOperator", "5 + - 3 =", {"5.", "5.", "-", "-3.", "2"}, {"5 + -3 = 2"}},
        Row{"SignCapturedThenUsed",
            "5 + - = 4 =",
            {"5.", "5.", "-", "-", "-4.", "!type-mismatch"},
            {}},
        Row{"SignCapturedThenCleared",
            "5 + - = 4 = C 1 + 1 =",
            {"5.", "5.", "-", "-", "-4.", "!type-mismatch", "0.", "1.", "1.", "1.", "2"},
            {"1 + 1 = 2"}},
        Row{"EqualsWithNothingPending", "7 = 2 =", {"7.", "7.", "2.", "2"}, {"= 2"}},
        Row{"OperatorReplacesOperator",
            "5 + X 2 =",
            {"5.", "5.", "5.", "2.", "10"},
            {"5 X 2 = 10"}},
        Row{"MinusAfterEqualsIsOperator",
            "5 + 3 = - 1 =",
            {"5.", "5.", "3.", "8", "8", "1.", "7"},
            {"5 + 3 = 8", "8 - 1 = 7"}},
        Row{"OperatorAtStartOnlyPends", "+ 5 + 3 =", {"0.", "5.", "5.", "3.", "8"}, {"5 + 3 = 8"}},
        Row{"Subtraction", "1 - 3 =", {"1.", "1.", "3.", "-2"}, {"1 - 3 = -2"}},
        Row{"Division",
            "1 / 3 =",
            {"1.", "1.", "3.", "0.333333333333333"},
            {"1 / 3 = 0.333333333333333"}},
        Row{"NegativeZeroResult", "- 1 X 0 =", {"-0.", "-1.", "-1.", "0.", "0"}, {"-1 X 0 = 0"}},
        Row{"TinyResultInExponentForm",
            "1 / 1 0 0 0 0 0 =",
            {"1.", "1.", "1.", "10.", "100.", "1000.", "10000.", "100000.", "1E-05"},
            {"1 / 100000 = 1E-05"}},
        Row{"ProductOverflows",
            "1 0 x^y 3 0 0 = X 1 0 x^y 9 =",
            {"1.", "10.", "10.", "3.", "30.", "300.", "1E+300", "1E+300", "1.", "10.", "1E+301",
             "9.", "!overflow"},
            {"10 x^y 300 = 1E+300", "1E+300 X 10 = 1E+301"}},
        Row{"PowerOverflows",
            "1 0 x^y 4 0 0 =",
            {"1.", "10.", "10.", "4.", "40.", "400.", "!overflow"},
            {}},
        Row{"ZeroToNegativePower", "0 x^y - 1 =", {"0.", "0.", "-", "-1.", "!overflow"}, {}},
        Row{"NegativeBaseFractionalPower",
            "- 8 x^y . 5 =",
            {"-0.", "-8.", "-8.", "0.", "0.5", "!invalid-argument"},
            {}}),
    rowName);

INSTANTIATE_TEST_SUITE_P(
    OneOperandAndClearing, Sequences,
    ::testing::Values(
        Row{"SquareReplacesFirstNumber",
            "5 + 3 x^2 =",
            {"5.", "5.", "3.", " 9", "18"},
            {"3 x^2 = 9", "9 + 9 = 18"}},
        Row{"SquareTwice", "4 x^2 x^2", {"4.", " 16", " 256"}, {"4 x^2 = 16", "16 x^2 = 256"}},
        Row{"Cube", "2 x^3", {"2.", " 8"}, {"2 x^3 = 8"}},
        Row{"CubeNegative", "- 2 x^3", {"-0.", "-2.", "-8"}, {"-2 x^3 = -8"}},
        Row{"RootOfQuarter",
            "0 . 2 5 Sqrt",
            {"0.", "0.", "0.2", "0.25", " .5"},
            {"Sqrt 0.25 = 0.5"}},
        Row{"RootOfNegative", "- 4 Sqrt", {"-0.", "-4.", "!invalid-argument"}, {}},
        Row{"SquareOfSign", "5 + - x^2", {"5.", "5.", "-", "!type-mismatch"}, {}},
        Row{"SquareOverflows",
            "1 0 x^y 2 0 0 = x^2",
            {"1.", "10.", "10.", "2.", "20.", "200.", "1E+200", "!overflow"},
            {"10 x^y 200 = 1E+200"}},
        Row{"PercentAtStart", "% 7", {"0", "7."}, {"0 % = 0 X 100 = 0"}},
        Row{"PercentMultiplies", "1 5 %", {"1.", "15.", "1500"}, {"15 % = 15 X 100 = 1500"}},
        Row{"PercentOfHalf", "0 . 5 %", {"0.", "0.", "0.5", "50"}, {"0.5 % = 0.5 X 100 = 50"}},
        Row{"PercentPendingProduct",
            "2 0 0 X 1 5 % =",
            {"2.", "20.", "200.", "200.", "1.", "15.", "1500", "300000"},
            {"15 % = 15 X 100 = 1500", "200 X 1500 = 300000"}},
        Row{"PercentTwiceFromStart",
            "5 % % =",
            {"5.", "500", "50000", "0"},
            {"5 % = 5 X 100 = 500", "500 % = 500 X 100 = 50000", "0 X 50000 = 0"}},
        Row{"PercentTwiceAfterClear",
            "C 5 % % =",
            {"0.", "5.", "500", "50000", "0"},
            {"5 % = 5 X 100 = 500", "500 % = 500 X 100 = 50000", "0 X 50000 = 0"}},
        Row{"PercentStopsEvaluation",
            "5 + 3 % 4 = 2 + 1 =",
            {"5.", "5.", "3.", "300", "4.", "4.", "2.", "2.", "1.", "1."},
            {"3 % = 3 X 100 = 300"}},
        Row{"PercentOfSign", "5 + - %", {"5.", "5.", "-", "!type-mismatch"}, {}},
        Row{"PercentOverflows",
            "1 0 x^y 3 0 7 = %",
            {"1.", "10.", "10.", "3.", "30.", "307.", "1E+307", "!overflow"},
            {"10 x^y 307 = 1E+307"}},
        Row{"ClearEntryKeepsSum",
            "5 + 3 CE 4 =",
            {"5.", "5.", "3.", "0.", "4.", "9"},
            {"5 + 4 = 9"}},
        Row{"ClearEntryThenOperator",
            "5 + CE + 3 =",
            {"5.", "5.", "0.", "0.", "3.", "3"},
            {"0 + 3 = 3"}},
        Row{"ClearRestarts",
            "5 + 3 C 2 + 2 =",
            {"5.", "5.", "3.", "0.", "2.", "2.", "2.", "4"},
            {"2 + 2 = 4"}},
        Row{"ClearEndsPercentLock",
            "5 + 3 % 4 = C 1 + 1 =",
            {"5.", "5.", "3.", "300", "4.", "4.", "0.", "1.", "1.", "1.", "2"},
            {"3 % = 3 X 100 = 300", "--------", "1 + 1 = 2"}}),
    rowName);

TEST(Fields, StartValues) {
    Calc calc;
    const State& s = calc.state();
    EXPECT_EQ(calc.surface.display(), "0.");
    EXPECT_TRUE(s.FirstNumber.isEmpty());
    EXPECT_TRUE(s.SecondNumber.isEmpty());
    EXPECT_TRUE(s.DisplayValue.isEmpty());
    EXPECT_FALSE(s.DecimalTyped);
    EXPECT_EQ(s.OperandCount, 0);
    EXPECT_EQ(s.EntryState, Variant::text("NONE"));
    EXPECT_EQ(s.PendingOperator, Variant::text(" "));
}

struct FieldRow {
    const char* name;
    const char* keys;
    State want;
};

Variant T(const char* s) {
    return Variant::text(s);
}
Variant D(double d) {
    return Variant::number(d);
}

class FieldsAfter : public ::testing::TestWithParam<FieldRow> {};
TEST_P(FieldsAfter, Keys) {
    Calc calc;
    calc.keys(GetParam().keys);
    const State& got = calc.state();
    const State& want = GetParam().want;
    EXPECT_EQ(got.FirstNumber, want.FirstNumber);
    EXPECT_EQ(got.FirstNumber.kind(), want.FirstNumber.kind());
    EXPECT_EQ(got.SecondNumber, want.SecondNumber);
    EXPECT_EQ(got.DecimalTyped, want.DecimalTyped);
    EXPECT_EQ(got.OperandCount, want.OperandCount);
    EXPECT_EQ(got.EntryState, want.EntryState);
    EXPECT_EQ(got.PendingOperator, want.PendingOperator);
    EXPECT_EQ(got.DisplayValue, want.DisplayValue);
}

// Fields: First, Second, DecimalTyped, Count, Entry, Pending, DisplayValue.
INSTANTIATE_TEST_SUITE_P(
    Engine, FieldsAfter,
    ::testing::Values(
        FieldRow{"FirstOperatorHoldsText",
                 "1 2 +",
                 {T("12."), {}, false, 1, T("OPS"), T("+"), T("12.")}},
        FieldRow{"EvaluationStoresDouble",
                 "1 2 + 3 =",
                 {D(15), T("3."), false, 1, T("OPS"), T("="), T("3.")}},
        FieldRow{"ZeroDivisorKeepsFirst",
                 "8 / 0 =",
                 {T("8."), T("0."), false, 1, T("OPS"), T("="), T("0.")}},
        FieldRow{"EqualsAlone", "7 =", {T("7."), {}, false, 1, T("OPS"), T("="), T("7.")}},
        FieldRow{"MinusAtStartIsSign", "-", {{}, {}, false, 0, T("NEG"), T(" "), T("0.")}},
        FieldRow{"SignKeepsPending", "5 + - X", {T("-"), {}, false, 1, T("NEG"), T("+"), T("-")}},
        FieldRow{"SignCaptured", "5 + - =", {T("-"), {}, false, 1, T("NEG"), T("+"), T("-")}},
        FieldRow{"PercentCounts", "5 + 3 %", {T("5."), {}, true, 2, T("Ops"), T("%"), T("5.")}},
        FieldRow{"PercentLock", "5 + 3 % 4 =", {T("5."), {}, false, 3, T("OPS"), T("="), T("4.")}},
        FieldRow{
            "SquareUsesFirstNumber", "5 + 3 x^2", {D(9), {}, false, 1, T("NUMS"), T("+"), T("5.")}},
        FieldRow{"RootOfQuarter", "0 . 2 5 Sqrt", {D(0.5), {}, true, 0, T("NUMS"), T(" "), {}}},
        FieldRow{"ClearEntry", "5 + 3 CE", {T("5."), {}, false, 1, T("CE"), T("+"), T("5.")}},
        FieldRow{"ClearStoresIntegerZero",
                 "5 + 3 = C",
                 {Variant::integer(0), Variant::integer(0), false, 0, T("NONE"), T(" "), T("3.")}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Fields, ClearRestoresStartAfterAnything) {
    Calc calc;
    calc.keys("5 + - . 3 % x^2 Sqrt / 0 = CE 4 x^y 2 =");
    calc.press("C");
    EXPECT_EQ(calc.surface.display(), "0.");
    EXPECT_EQ(calc.state().EntryState, Variant::text("NONE"));
    EXPECT_EQ(calc.state().OperandCount, 0);
    EXPECT_EQ(calc.state().PendingOperator, Variant::text(" "));
    EXPECT_FALSE(calc.state().DecimalTyped);
}

TEST(Fields, OperandCountOverflowsAt32767) {
    Calc calc;
    for (int i = 0; i < 32767; ++i) {
        ASSERT_FALSE(calc.press("%").error) << i;
    }
    EXPECT_EQ(calc.state().OperandCount, 32767);
    const State before = calc.state();
    const auto out = calc.press("%");
    EXPECT_EQ(out.error, ErrorKind::Overflow);
    EXPECT_EQ(calc.state(), before);
    // The calculator goes on: "C" resets the count.
    calc.press("C");
    calc.keys("2 + 2 =");
    EXPECT_EQ(calc.surface.display(), "4");
}

// A surface whose display write fails once, as an allocation might.
class FailingSurface final : public Surface {
public:
    std::string displayText() const override { return inner.displayText(); }
    void setDisplayText(const std::string& text) override {
        if (failNext) {
            failNext = false;
            throw std::bad_alloc();
        }
        inner.setDisplayText(text);
    }
    std::string numberCaption(int i) const override { return inner.numberCaption(i); }
    std::string operatorCaption(int i) const override { return inner.operatorCaption(i); }
    void showWarning(std::string_view, std::string_view) override {}

    StandardSurface inner;
    bool failNext = false;
};

TEST(Fields, FailedDisplayWriteUndoesTheWholeKey) {
    // Every key family, each failing once in the middle of a sum.
    for (const Key key : {Key::D7, Key::Decimal, Key::Plus, Key::Equals, Key::Percent, Key::Square,
                          Key::Sqrt, Key::Clear, Key::ClearEntry}) {
        SCOPED_TRACE(std::string(caption(key)));
        FailingSurface surface;
        Engine engine(surface);
        engine.Form_Load();
        for (const Key k : {Key::D1, Key::D2, Key::Plus, Key::D3}) {
            press(engine, k);
        }
        const State before = engine.state();
        const std::string display = surface.displayText();
        const std::string tape = engine.tape().text();
        surface.failNext = true;
        EXPECT_THROW(press(engine, key), std::bad_alloc);
        EXPECT_EQ(engine.state(), before);
        EXPECT_EQ(surface.displayText(), display);
        EXPECT_EQ(engine.tape().text(), tape);
        // Pressed again, the key lands as if the failure had never been.
        press(engine, key);
        Calc reference;
        reference.keys("1 2 + 3");
        reference.press(caption(key));
        EXPECT_EQ(engine.state(), reference.state());
        EXPECT_EQ(surface.displayText(), reference.surface.display());
        EXPECT_EQ(engine.tape().text(), reference.engine.tape().text());
    }
}

} // namespace
} // namespace quillo::test
