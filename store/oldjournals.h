// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

// One of the old versions' text journals, known by its name, size and
// change time, as the database records it once its lines are in.
struct OldJournal {
    std::string name;
    std::int64_t size = 0;
    std::int64_t mtime = 0; // ns
};

// A record of a journal, as the database folds it: 'R' names the run the
// 'L' (a line numbered n) and 'U' records after it belong to, and gives
// its start in `text`; 'U', 'D' and 'X' take lines away (oldjournals.cpp).
struct JournalRecord {
    char kind;
    std::string_view run;
    std::uint64_t n = 0;
    std::string_view text;
};

// The old journals in a folder (kept.tape, then run-*.tape by name, which
// is by start time), each locked while this lives, so that an old version
// still running does not write to it.
class Journals {
public:
    explicit Journals(const std::string& folder);
    ~Journals();
    Journals(const Journals&) = delete;
    Journals& operator=(const Journals&) = delete;

    bool empty() const { return found_.empty(); }
    // Each journal whose lines are not `taken` yet, oldest first, record by
    // record; those read go to `read`, those taken earlier to `stale`.
    void take(const std::function<bool(const OldJournal&)>& taken,
              const std::function<void(const JournalRecord&)>& put);
    // Deletes the journals read and those taken earlier.
    void remove() const;

    std::vector<OldJournal> read, stale;

private:
    std::string folder_;
    std::vector<std::string> found_;
    std::vector<int> locks_;
};

} // namespace quillo
