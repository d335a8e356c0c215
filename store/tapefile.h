// SPDX-License-Identifier: MIT
#pragma once

#include "oldjournals.h"
#include "sqlite.h"
#include "tapestore.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillo {

// SQLite's codes: a damaged file, a lock held elsewhere, and in plain words.
bool damaged(int rc);
bool busy(int rc);
std::string sqlReason(int rc, int error);
std::string errnoReason(int error);

// A change handed to the store's thread.
struct StoreOp {
    enum class Kind : unsigned char {
        Add,
        Cut,
        Remove,
        RemoveEarlier,
        Note,
        NoteEarlier,
        Clear,
        Read,
        Disable,
        Enable,
        Run // a new run begins, started at `text`
    };
    Kind kind;
    std::uint64_t value = 0; // a number, or an id's bits
    std::string text = {};
    std::string note = {};
};

// The database, on the store's thread alone. Opened when first needed:
// the folder made private, what is at the path told apart in one
// transaction (this program's tape, a new one, another program's file, a
// damaged one), anything else set aside under a dated name with what could
// be read of it carried over, as are the old versions' journals.
class TapeFile {
public:
    enum class Outcome {
        Done,
        Busy,   // another window or program held the database past the wait
        Retry,  // a full disk, a read-only folder: tried again later
        Off,    // the saved setting says the tape is not kept
        Failed, // it never will be written this run (no SQLite, no home)
    };
    using Clock = std::chrono::steady_clock;

    TapeFile(std::string folder, std::string started, std::function<bool()> wanted);
    ~TapeFile();

    // Write ops of this run, in one transaction.
    Outcome write(std::span<const StoreOp> ops);
    Outcome read(Earlier& out);
    // Cleared or deleted text still in the WAL leaves it; true when none is left.
    bool scrub();
    // Closes, deleting the files when `remove`; nothing is written until enable().
    void disable(bool remove);
    void enable() { disabled_ = false; }
    void close();
    // A transaction waits this long for another window or program's lock...
    static constexpr auto kBusyWait = std::chrono::seconds(5);
    // ...and at the end of the run until this deadline (any thread may call).
    void exitBy(Clock::time_point deadline) {
        exit_ = deadline.time_since_epoch().count();
        deadline_ = exit_.load();
    }

    // Plain words, "" when all is well; a notice stays for the run.
    std::string problem() const;
    void notice(std::string text);

private:
    void arm() {
        deadline_ =
            exit_ != 0 ? exit_.load() : (Clock::now() + kBusyWait).time_since_epoch().count();
    }
    Outcome open();
    std::optional<Outcome> openAt();
    int make();
    std::optional<Outcome> classify(int& rc);
    bool setAside(const std::string& path, bool broken, int mode);
    void salvage(const std::string& aside, const std::string& prefix,
                 const std::function<void(const JournalRecord&)>& put);
    void carryOver();
    int apply(std::span<const StoreOp> ops);
    int bound();
    bool removeFiles();

    std::string folder_, path_, started_;
    std::function<bool()> wanted_;
    sql::Database db_;
    std::int64_t run_ = 0; // this run's row, once it has a line
    bool disabled_ = false;
    bool scrubDue_ = false;
    std::vector<std::string> asides_; // damaged tapes set aside, to be read
    std::atomic<Clock::rep> deadline_{0};
    std::atomic<Clock::rep> exit_{0};
    std::vector<std::string> notices_;
    std::string reason_;  // why the database could not be had
    std::string failure_; // what waits and why, for problem()
};

} // namespace quillo
