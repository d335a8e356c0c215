// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillo {

// Lines of earlier runs brought into the database from elsewhere: the old
// versions' journals, or a damaged database set aside.
struct CarriedRun {
    std::string started; // "" when not known
    std::vector<std::string> lines;
};

// One of the old versions' text journals, known by its name, size and
// change time, as the database records it once its lines are in.
struct OldJournal {
    std::string name;
    std::int64_t size = 0;
    std::int64_t mtime = 0; // ns
};

// The old journals found in a folder (kept.tape, then run-*.tape by name,
// which is by start time): what they hold within the tape's bound, oldest
// first, and which of them were read. Each journal read stays locked while
// this lives, so that an old version still running does not write to it.
class Journals {
public:
    // `taken` says whether a journal's lines are already in the database.
    Journals(const std::string& folder, const std::function<bool(const OldJournal&)>& taken);
    ~Journals();
    Journals(const Journals&) = delete;
    Journals& operator=(const Journals&) = delete;

    bool empty() const { return read.empty() && stale.empty(); }
    // Deletes the journals read and those taken earlier.
    void remove() const;

    std::vector<CarriedRun> runs;
    std::vector<OldJournal> read;  // to be recorded with their lines
    std::vector<OldJournal> stale; // taken by an earlier run, not yet deleted
    std::size_t dropped = 0;       // lines past the bound, the oldest
    // An old version holds the journals: nothing was read.
    bool busy = false;

private:
    std::string folder_;
    std::vector<int> locks_;
};

} // namespace quillo
