// SPDX-License-Identifier: MIT
// What the clipboard gets from the display, what a paste types, and the log
// of keys written out for the replay tool.

#include "clipboard.h"
#include "keylog.h"
#include "replay.h"

#include <gtest/gtest.h>

#include <string>

namespace quillo {
namespace {

TEST(Clipboard, CopyText) {
    const std::pair<const char*, const char*> rows[] = {
        {"0.", "0"},       {"12.", "12"},
        {"12.5", "12.5"},  {" .5", "0.5"},
        {"-.25", "-0.25"}, {" 1E+20", "1E+20"},
        {"-", "-"},        {"-0.", "0"},
        {" 9", "9"},       {"-8", "-8"},
        {"15", "15"},      {"1E-05", "1E-05"},
        {"005.", "5"},     {"000012.50", "12.5"},
        {"-0.000", "0"},   {"-007.10", "-7.1"},
        {"100.", "100"},   {"-1.5E+20", "-1.5E+20"},
        {"00.05", "0.05"}, {"", ""},
    };
    for (const auto& [display, copied] : rows) {
        EXPECT_EQ(copyText(display), copied) << '|' << display << '|';
    }
}

// The captions a paste types, joined with spaces; "" for a refused text.
std::string typed(std::string_view text, const NumberForm& form = {}) {
    const auto keys = pasteKeys(text, form);
    if (!keys) {
        return "";
    }
    std::string out;
    for (const Key k : *keys) {
        out += out.empty() ? "" : " ";
        out += caption(k);
    }
    return out;
}

// The separators and currency signs Qt 6.4 gives for these locales.
const NumberForm kC{",", ".", ""};
const NumberForm kEnglish{",", ".", "$"};
const NumberForm kGerman{".", ",", "\u20AC"};
const NumberForm kFrench{"\u202F", ",", "\u20AC"};

TEST(Clipboard, PasteKeys) {
    const std::string longest(kPasteLimit, '7');
    const std::string longestEuro = "\u20AC" + std::string(kPasteLimit - 3, '7');
    const struct {
        const NumberForm& form;
        std::string text;
        std::string keys;
    } rows[] = {
        {kC, "12", "1 2"},
        {kC, "3.25", "3 . 2 5"},
        {kC, ".5", ". 5"},
        {kC, "5.", "5 ."},
        {kC, "  42\n", "4 2"},
        {kC, "\t0.1\r\n", "0 . 1"},
        {kC, "000012.50", "0 0 0 0 1 2 . 5 0"},
        {kC, longest, typed(longest)},
        {kC, "1,234.56", "1 2 3 4 . 5 6"},
        {kC, "12 345 678", "1 2 3 4 5 6 7 8"},
        {kC, "1'234'567", "1 2 3 4 5 6 7"},
        {kC, "1\u00A0234.5", "1 2 3 4 . 5"},
        {kC, "$5", "5"},
        {kC, "5 \u20AC", "5"},
        {kC, "\u00A3\u20091\u2009000", "1 0 0 0"},
        // Refused: signs, exponents, letters, two numbers or points, groups
        // not of three, two currency signs, nothing, too long.
        {kC, "-3", ""},
        {kC, "+3", ""},
        {kC, "1E+20", ""},
        {kC, "1e5", ""},
        {kC, "12a", ""},
        {kC, "1 2", ""},
        {kC, "1.2.3", ""},
        {kC, ".", ""},
        {kC, "", ""},
        {kC, " \n", ""},
        {kC, "1,5", ""},
        {kC, "1,2345", ""},
        {kC, "1234,567", ""},
        {kC, "1,234 567", ""},
        {kC, "1'234\u2019567", ""},
        {kC, ",234", ""},
        {kC, "$5$", ""},
        {kC, "-$5", ""},
        {kC, "$", ""},
        {kC, longest + "7", ""},
        {kEnglish, "$1,234.56", "1 2 3 4 . 5 6"},
        {kEnglish, "1.234", "1 . 2 3 4"},
        {kEnglish, "1,234.", ""},
        {kGerman, "1.234,56", "1 2 3 4 . 5 6"},
        {kGerman, "1.234.567,50\u00A0\u20AC", "1 2 3 4 5 6 7 . 5 0"},
        {kGerman, "1234,5", "1 2 3 4 . 5"},
        {kGerman, "1.5", "1 . 5"},
        {kGerman, "1\u2019234,5", "1 2 3 4 . 5"},
        {kGerman, "1.000,0", "1 0 0 0 . 0"},
        {kGerman, "1.234", ""}, // 1.234 or 1234
        {kGerman, "$1.234", ""},
        {kGerman, "1,", ""},
        {kFrench, "1\u202F234,56", "1 2 3 4 . 5 6"},
        {kFrench, "1 234,5 \u20AC", "1 2 3 4 . 5"},
        {kFrench, "1.234", "1 . 2 3 4"},
        {kFrench, "1.234,5", ""},
        {kFrench, longestEuro, typed(longestEuro.substr(3))},
        {kFrench, longestEuro + "7", ""},
    };
    for (const auto& [form, text, keys] : rows) {
        EXPECT_EQ(typed(text, form), keys) << form.decimal << " |" << text.substr(0, 20) << '|';
    }
    EXPECT_EQ(pasteKeys(longest)->size(), kPasteLimit);
}

TEST(KeyLog, ReplaysAsTheSameSession) {
    KeyLog log;
    for (const Key k : {Key::D1, Key::D2, Key::Plus, Key::D3, Key::Equals, Key::Sqrt}) {
        log.record(k);
    }
    EXPECT_EQ(log.text(), "1\n2\n+\n3\n=\nSqrt\n");
    Replay replay(false);
    std::string out;
    std::string error;
    const std::string keys = log.text();
    std::string_view text = keys;
    while (!text.empty()) {
        const auto end = text.find('\n');
        ASSERT_TRUE(replay.feed(text.substr(0, end), out, error)) << error;
        text.remove_prefix(end + 1);
    }
    EXPECT_EQ(out.substr(out.rfind("Sqrt")), "Sqrt\t| 3.87298334620742|\n");
}

} // namespace
} // namespace quillo
