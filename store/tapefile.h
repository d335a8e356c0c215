// SPDX-License-Identifier: MIT
#pragma once

#include "sqlite.h"
#include "tapestore.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace quillo {

// SQLite's codes: a damaged file, a lock held elsewhere, and in plain words.
bool damaged(int rc);
bool busy(int rc);
std::string sqlReason(int rc, int error);
std::string errnoReason(int error);

// The database file on the store's thread: opened when first needed, what
// is at its paths told apart (this program's tape, a new one, another
// program's or version's file, a damaged one, a link), anything but a tape
// set aside whole under a dated name, what a damaged tape holds carried over.
class TapeFile {
public:
    enum class Outcome {
        Done,
        Busy,   // another window or program held the database past the wait
        Retry,  // a full disk, a read-only folder: tried again later
        Off,    // nothing is kept: switched off, or no tape to change
        Failed, // it never will be written this run (no SQLite, no home)
    };
    using Clock = std::chrono::steady_clock;

    // SQLite's waits and statements end at `*exitBy` once it is not 0.
    TapeFile(std::string folder, const std::atomic<Clock::rep>* exitBy);

    // Open for writing; `make` makes the tape when there is none (else Off).
    Outcome open(bool make = true);
    sql::Database& db() { return db_; }
    // The other runs' lines, read-only where the tape cannot be written.
    Outcome read(std::int64_t run, Earlier& out);
    // Deleted text still in the WAL leaves it, waiting up to `wait` for readers.
    void scrub(std::chrono::milliseconds wait);
    bool scrubDue = false;
    // SQLite's wait for a lock held elsewhere, to the exit deadline at most.
    void waitFor(std::chrono::milliseconds wait);
    // Found damaged while written: set aside whole, for a tape anew.
    bool setAsideDamaged();

    std::string reason;            // why the tape could not be had or written
    std::string failure;           // what waits and why, for problem()
    void notice(std::string text); // stays for the run
    // Plain words, "" when all is well.
    std::string problem() const;

private:
    std::optional<Outcome> openOnce(bool make);
    // Nothing once moved aside (to be opened again), else Retry.
    std::optional<Outcome> setAside(const std::string& path, const char* what);
    void carryOver(const std::string& aside);

    std::string folder_, path_;
    const std::atomic<Clock::rep>* exitBy_;
    sql::Database db_;
    std::vector<std::string> notices_;
    std::string held_;                 // deleted text a reader holds in the WAL
    std::vector<std::string> damaged_; // set aside, their lines to be carried over
};

} // namespace quillo
