// SPDX-License-Identifier: MIT
// A saved calculation: every kind of bad file refused with its line, and a
// good one opened as a new run that is exactly what typing its keys gives,
// saved again byte for byte.

#include "document.h"
#include "errors.h"
#include "keys.h"
#include "session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillo {
namespace {

using Why = DocumentError::Why;

// The refusal of a file, by the format or by its keys; none when it opens.
std::optional<DocumentError> refusal(std::string_view text) {
    auto parsed = parseDocument(text);
    if (auto* e = std::get_if<DocumentError>(&parsed)) {
        return *e;
    }
    auto replayed = Session::replay(std::get<Document>(parsed));
    if (auto* e = std::get_if<DocumentError>(&replayed)) {
        return *e;
    }
    return std::nullopt;
}

struct Bad {
    const char* name;
    std::string text;
    Why why;
    std::size_t line;
};

class BadFile : public ::testing::TestWithParam<Bad> {};

TEST_P(BadFile, IsRefusedWithItsLine) {
    const Bad& row = GetParam();
    const std::optional<DocumentError> e = refusal(row.text);
    ASSERT_TRUE(e) << "opened";
    EXPECT_EQ(e->why, row.why);
    EXPECT_EQ(e->line, row.line);
}

const std::string kHead = "# quillo tape 1\n";
const std::string kNote201(201, 'n');

INSTANTIATE_TEST_SUITE_P(
    Document, BadFile,
    ::testing::Values(
        Bad{"Empty", "", Why::NotATape, 1},
        Bad{"AnotherKind", std::string("\x89PNG\r\n\x1a\n\0\0", 10), Why::NotATape, 1},
        Bad{"KeysWithoutHeader", "1\n+\n2\n", Why::NotATape, 1},
        Bad{"HeaderWithoutVersion", "# quillo tape \n# end\n", Why::NotATape, 1},
        Bad{"Newer", "# quillo tape 2\n1\n# end\n", Why::Newer, 1},
        Bad{"NotUtf8", kHead + "1\n\xff\xfe\n# end\n", Why::NotText, 3},
        Bad{"ControlCharacter", kHead + "1\n\x01\n# end\n", Why::NotText, 3},
        Bad{"CutAtALine", kHead + "1\n+\n", Why::CutShort, 3},
        Bad{"CutInALine", kHead + "1\n+\n# en", Why::CutShort, 4},
        Bad{"AfterTheEnd", kHead + "1\n# end\n2\n", Why::AfterEnd, 4},
        Bad{"UnknownOwnLine", kHead + "# colour red\n# end\n", Why::UnknownLine, 2},
        Bad{"UnknownCaption", kHead + "1\nplus\n# end\n", Why::UnknownKey, 3},
        Bad{"NotANumberToUse", kHead + "use 1e5\n# end\n", Why::UnknownKey, 2},
        Bad{"UseFollowsALaterLine", kHead + "1\nuse 5 @3\n2\n# end\n", Why::UnknownKey, 3},
        Bad{"TitleAfterKeys", kHead + "1\n# title late\n# end\n", Why::Misplaced, 3},
        Bad{"NoteBeforeAnyKey", kHead + "# note early\n1\n# end\n", Why::Misplaced, 2},
        Bad{"TwoNotesOnALine", kHead + "4\nx^2\n# note a\n# note b\n# end\n", Why::Misplaced, 5},
        Bad{"NoteTooLong", kHead + "4\nx^2\n# note " + kNote201 + "\n# end\n", Why::TooLong, 4},
        Bad{"NoteWithATab", kHead + "4\nx^2\n# note a\tb\n# end\n", Why::NotText, 4},
        Bad{"NoteWithALineSeparator", kHead + "4\nx^2\n# note a\u2028b\n# end\n", Why::NotText, 4},
        Bad{"OldValueBeforeAnOperator", kHead + "1\n# was 2\n+\n# end\n", Why::NotANumber, 3},
        Bad{"OldValueAtTheEnd", kHead + "1\n# was 2\n# end\n", Why::Misplaced, 3},
        Bad{"OldValueNotANumber", kHead + "# was two\n1\n# end\n", Why::UnknownLine, 2},
        Bad{"OldValueBadTime", kHead + "# was 2 at yesterday\n1\n# end\n", Why::UnknownLine, 2},
        Bad{"KeyFailsNow", kHead + "-\n5\nSqrt\n# end\n", Why::KeyFails, 4},
        Bad{"NoteOnAKeyWithoutALine", kHead + "1\n# note x\n# end\n", Why::NoLine, 3}),
    [](const auto& info) { return std::string(info.param.name); });

// A calculation typed, partly corrected, saved; opened after other keys.
struct Typed {
    const char* name;
    std::vector<std::string> keys; // captions, "use:N", "correct:L:I:TEXT", "note:L:TEXT",
                                   // "line:L" (line L's result, following it)
};

void act(Session& session, const std::string& a) {
    if (a.starts_with("use:")) {
        ASSERT_TRUE(session.reuse(a.substr(4)));
    } else if (a.starts_with("line:")) {
        ASSERT_TRUE(session.reuseLine(std::stoull(a.substr(5))));
    } else if (a.starts_with("note:")) {
        const auto colon = a.find(':', 5);
        session.setNote(std::stoull(a.substr(5, colon - 5)), a.substr(colon + 1));
    } else if (a.starts_with("correct:")) {
        const auto c1 = a.find(':', 8);
        const auto c2 = a.find(':', c1 + 1);
        session.correct(std::stoull(a.substr(8, c1 - 8)),
                        std::stoull(a.substr(c1 + 1, c2 - c1 - 1)), a.substr(c2 + 1));
    } else {
        session.press(*keyFromCaption(a));
    }
}

std::vector<std::string> lines(const Session& s) {
    std::vector<std::string> out;
    const Tape& tape = s.engine().tape();
    for (std::uint64_t n = tape.first(); n < tape.end(); ++n) {
        if (tape.shown(n)) {
            std::string line = tape.at(n) + " #" + std::string(s.note(n));
            for (const LineNumber& number : s.numbers(n)) {
                line += number.correctable ? " [c" : " [-";
                line += number.was + "]";
            }
            out.push_back(std::move(line));
        }
    }
    return out;
}

class SavedTape : public ::testing::TestWithParam<Typed> {};

TEST_P(SavedTape, OpensAsItsKeysTypedAndSavesTheSameFile) {
    StandardSurface typedSurface;
    Session typed(typedSurface);
    typed.load();
    for (const std::string& a : GetParam().keys) {
        act(typed, a);
    }
    const std::string file = writeDocument(typed.document("March"));

    StandardSurface surface;
    Session opened(surface);
    opened.load();
    for (const char* k : {"9", "X", "9", "=", "7"}) {
        opened.press(*keyFromCaption(k));
    }
    auto parsed = parseDocument(file);
    ASSERT_TRUE(std::holds_alternative<Document>(parsed)) << file;
    auto replayed = Session::replay(std::get<Document>(parsed));
    ASSERT_TRUE(std::holds_alternative<std::shared_ptr<Session::Opened>>(replayed)) << file;
    opened.open(*std::get<std::shared_ptr<Session::Opened>>(replayed));

    EXPECT_EQ(surface.display(), typedSurface.display());
    EXPECT_EQ(opened.engine().state(), typed.engine().state());
    EXPECT_EQ(opened.log().text(), typed.log().text());
    EXPECT_EQ(lines(opened), lines(typed));
    EXPECT_FALSE(opened.canUndo());
    EXPECT_EQ(writeDocument(opened.document("March")), file);
}

INSTANTIATE_TEST_SUITE_P(
    Document, SavedTape,
    ::testing::Values(
        Typed{"Sum", {"1", "2", "+", "3", "4", ".", "5", "="}},
        Typed{"CorrectedFirstNumber", {"1", "2", "+", "3", "=", "X", "2", "=", "correct:0:0:5"}},
        Typed{"CorrectedTwice",
              {"1", "2", "+", "3", "=", "correct:0:1:4", "correct:0:0:-7", "correct:0:1:8"}},
        Typed{"ReusedAndCleared",
              {"8", "/", "0", "=", "C", "use:1.5E+20", "+", "1", "=", "C", "5", "x^2"}},
        Typed{"NotedAndCorrected",
              {"1", "2", "+", "3", "=", "note:0:the rent, “March”", "X", "2", "=", "note:1:twice",
               "correct:0:0:5", "C", "4", "x^2", "note:3:a square"}},
        Typed{"FollowedReuseCorrected",
              {"1", "2", "+", "3", "=", "C", "line:0", "X", "2", "=", "correct:0:0:5"}},
        Typed{"NegativeAndPercent", {"-", "5", "X", "2", "0", "%", "x^2", "C", "CE"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillo
