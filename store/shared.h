// SPDX-License-Identifier: MIT
// The store's state: what the window hands over, under the mutex; the rest
// is the store's thread's own.
#pragma once

#include "sqlite.h"
#include "tapestore.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <span>
#include <thread>
#include <tuple>
#include <utility>

namespace quillo {

inline bool damaged(int rc) {
    return (rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB;
}
inline bool busy(int rc) {
    return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
}
// In plain words: a failure, or a system error alone (as {0, errno}).
std::string reasonOf(const sql::Error& failure);

struct TapeStore::Shared {
    using Clock = std::chrono::steady_clock;
    enum class Outcome {
        Done,
        Busy,   // another window or program held the database past the wait
        Retry,  // a full disk, a read-only folder: tried again later
        Off,    // nothing is kept: switched off, or no tape to change
        Failed, // it never will be written this run: no SQLite
    };
    Shared(const std::string& folder, std::string started, Events events);

    std::mutex mutex;
    std::condition_variable wake, idle;
    std::vector<Op> queue;
    std::uint64_t handed = 0, tried = 0; // hand-overs, and those the thread has tried
    bool stopping = false, finished = false;
    std::atomic<Clock::rep> exitBy{0}; // SQLite's waits and statements end there; 0 until finish()
    std::string unwritten;             // why, when the thread ended with changes waiting
    std::thread thread;

    std::string folder, path;
    sql::Database db;
    std::string started; // this run's start; a saved tape opened begins another run
    Events events;
    bool off = false;         // nothing is written until enable()
    bool enabling = false;    // switched on here, which the next change writes
    std::int64_t run = 0;     // this run's row, once it has a line
    std::int64_t clears = -1; // the clears the tape counted when last written
    // This run's lines by number, as hashes of their text: those written,
    // and those a clear in another window took, which stay gone.
    std::map<std::uint64_t, std::size_t> live, cleared;
    bool scrubDue = false;                 // deleted text may still be in the WAL
    std::string reason;                    // why the tape could not be had or written
    std::string failure, held;             // what waits and why; deleted text a reader holds
    std::vector<std::string> notices;      // each stays for the run
    std::vector<std::string> damagedAside; // their lines to be carried over

    void loop();
    Outcome work(std::vector<Op>& pending);
    Outcome step(std::span<Op> ops); // one transaction, or a switch
    Outcome write(std::span<const Op> ops);
    void apply(std::span<const Op> ops);
    void offElsewhere();
    bool late() const {
        const auto by = exitBy.load();
        return by != 0 && Clock::now().time_since_epoch().count() >= by;
    }

    // Opened for writing; `make` makes the tape when there is none (else Off).
    Outcome open(bool make = true);
    std::optional<Outcome> openOnce(bool make); // nothing when set aside: opened again
    // The other runs' lines, read-only where the tape cannot be written.
    Outcome read(Earlier& out);
    void scrub(std::chrono::milliseconds wait);
    // SQLite's wait for a lock held elsewhere, to the exit deadline at most.
    void waitFor(std::chrono::milliseconds wait);
    void notice(std::string text);
    std::string problem() const; // plain words, "" when all is well

    std::optional<Outcome> setAside(const std::string& at, const char* what);
    void carryOver(const std::string& aside);
};

} // namespace quillo
