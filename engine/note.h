// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <string_view>

namespace quillo {

// Why a note's text was not taken. The engine names the cause; the window
// owns the words.
enum class NoteProblem {
    TooLong,   // more than Session::kNoteLimit characters
    Tab,       // a tab
    LineBreak, // a line or paragraph break of any kind: a note is one line
    Control,   // another control character
    NotText,   // bytes that are not UTF-8
    NoLine,    // the line is not on the tape
};

// What is wrong with `text` as a note of at most `limit` code points of
// UTF-8, if anything; the first fault found from its start.
std::optional<NoteProblem> noteProblem(std::string_view text, std::size_t limit) noexcept;

class NoteRefused : public std::exception {
public:
    explicit NoteRefused(NoteProblem why) noexcept : why_(why) {}
    NoteProblem why() const noexcept { return why_; }
    const char* what() const noexcept override { return "note refused"; }

private:
    NoteProblem why_;
};

} // namespace quillo
