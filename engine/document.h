// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quillo {

// A calculation saved as a file: UTF-8 text that quillo-keys replays as it
// is. Key lines are those Copy keys writes; the file's own lines start with
// "#", which the replay passes over:
//
//   # quillo tape 1            first line: the format and its version
//   # title TEXT               optional, before the first key
//   # was OLD at TIME          the number whose first key follows was OLD,
//                              corrected at TIME (UTC, 2026-12-08T09:40:05Z)
//   KEY                        a key: 7, +, x^2, use 15, ...
//   # note TEXT                the note of the line the key above wrote
//   # end                      last line: the file is whole
//
// Copy keys' "# the keys before this line were not kept" may come first
// after the title.
struct Document {
    static constexpr int kVersion = 1;
    // A file past this many bytes is refused before it is read.
    static constexpr std::size_t kSizeLimit = 64u << 20;
    // A title or a note, in Unicode code points.
    static constexpr std::size_t kTextLimit = 200;

    struct Key {
        std::string text;     // the line as Copy keys writes it
        std::size_t line = 0; // in the file, from 1
    };
    struct Note {
        std::string text;
        std::size_t line = 0;
    };
    struct Was {
        std::string text;
        std::int64_t at = 0; // seconds since the Unix epoch; 0: not known
        std::size_t line = 0;
    };

    std::string title;
    bool cut = false; // the keys before the first were not kept
    std::vector<Key> keys;
    std::map<std::size_t, Note> notes; // by the index of the key whose line it is
    std::map<std::size_t, Was> was;    // by the index of the number's first key

    bool operator==(const Document&) const = default;
};

// Why a file is not opened, and where. The engine names the cause; the
// window owns the words.
struct DocumentError {
    enum class Why {
        NotATape,    // the first line is not "# quillo tape N"
        Newer,       // a version this program does not know; `detail` has it
        NotText,     // not UTF-8 text, or holds a control character
        CutShort,    // no "# end" line: the file stops early
        AfterEnd,    // lines after "# end"
        UnknownLine, // a "#" line of no kind this version writes
        Misplaced,   // a title after the keys, a note before any key, ...
        TooLong,     // a title or a note past kTextLimit
        UnknownKey,  // a key line that is no key; `detail` has it
        KeyFails,    // a key raises an error opened that did not when saved
        NoLine,      // a note after a key that writes no line
        NotANumber,  // an old value before a key that starts no typed number
        TooLarge,    // past kSizeLimit
    };
    Why why = Why::NotATape;
    std::size_t line = 0; // 0: the file as a whole
    std::string detail;
    bool operator==(const DocumentError&) const = default;
};

// Reads a whole file; either the document or why not.
std::variant<Document, DocumentError> parseDocument(std::string_view text);
// The file's text; parseDocument(writeDocument(d)) gives d back, lines aside.
std::string writeDocument(const Document& document);

// "2026-12-08T09:40:05Z" and back; false for anything else.
std::string utcText(std::int64_t seconds);
bool parseUtc(std::string_view text, std::int64_t& seconds);

} // namespace quillo
