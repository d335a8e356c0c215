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
        {"0.", "0"},       {"12.", "12"},       {"12.5", "12.5"}, {" .5", "0.5"},
        {"-.25", "-0.25"}, {" 1E+20", "1E+20"}, {"-", "-"},       {"-0.", "-0"},
        {" 9", "9"},       {"-8", "-8"},        {"15", "15"},     {"1E-05", "1E-05"},
    };
    for (const auto& [display, copied] : rows) {
        EXPECT_EQ(copyText(display), copied) << '|' << display << '|';
    }
}

// The captions a paste types, joined with spaces; "" for a refused text.
std::string typed(std::string_view text) {
    const auto keys = pasteKeys(text);
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

TEST(Clipboard, PasteKeys) {
    const std::string longest(kPasteLimit, '7');
    const std::pair<std::string, std::string> rows[] = {
        {"12", "1 2"},
        {"3.25", "3 . 2 5"},
        {".5", ". 5"},
        {"5.", "5 ."},
        {"  42\n", "4 2"},
        {"\t0.1\r\n", "0 . 1"},
        {longest, typed(longest)},
        // Refused: signs, exponents, letters, two numbers or points, nothing.
        {"-3", ""},
        {"+3", ""},
        {"1E+20", ""},
        {"1e5", ""},
        {"12a", ""},
        {"1 2", ""},
        {"1.2.3", ""},
        {".", ""},
        {"", ""},
        {" \n", ""},
        {"1,5", ""},
        {longest + "7", ""},
    };
    for (const auto& [text, keys] : rows) {
        EXPECT_EQ(typed(text), keys) << '|' << text.substr(0, 20) << '|';
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
