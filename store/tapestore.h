// SPDX-License-Identifier: MIT
#pragma once

#include "tape.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

struct KeptRun {
    std::int64_t id = 0;
    std::string started; // local time, "2026-12-07 14:30"
};
struct KeptLine {
    std::size_t run = 0; // index into Earlier::runs
    std::int64_t id = 0; // what removeEarlier() takes
    std::string text;
};
// Oldest first, at most TapeStore::kLines lines.
struct Earlier {
    std::vector<KeptRun> runs;
    std::vector<KeptLine> lines;
};

// The tape kept between runs: one SQLite database in a folder of its own,
// shared by every window through SQLite's locking. Each run is a row of
// `runs`, each line a row of `lines`.
//
// No call blocks on another window: a change is written at once when the
// database is free, and otherwise waits in memory (in order) for the next
// call, flush() or close(). No call throws; what went wrong is in problem().
// Constructing a store touches no file: the first change or readEarlier()
// opens the database.
class TapeStore {
public:
    // The same bound as the session's tape.
    static constexpr std::size_t kLines = Tape::kCapacity;
    // Past this much text the oldest lines go first, as past kLines.
    static constexpr std::uint64_t kBytes = 64u << 20;
    static constexpr std::string_view kFileName = "tape.sqlite";

    struct Line {
        std::uint64_t number; // the engine's number of the line
        std::string_view text;
    };

    TapeStore(std::string folder, std::time_t started);
    ~TapeStore(); // as close()
    TapeStore(const TapeStore&) = delete;
    TapeStore& operator=(const TapeStore&) = delete;

    // This run's lines, by the engine's numbers.
    void add(std::span<const Line> lines);
    // Undo: this run's lines numbered `from` and above are gone.
    void cut(std::uint64_t from);
    // A correction: cut(from) then add(lines), in one transaction.
    void replace(std::uint64_t from, std::span<const Line> lines);
    // Delete: a line of this run by its number, or of an earlier run by KeptLine::id.
    void remove(std::uint64_t number);
    void removeEarlier(std::int64_t id);
    // Every line, earlier runs' too, gone from the disk: no cleared text is
    // left in the database or its WAL.
    void clear();
    // The other runs' lines (those still running too), oldest first.
    Earlier readEarlier();

    // Changes that wait in memory for the database.
    bool pending() const noexcept;
    // Tries to write what waits, without waiting; then, when the WAL has
    // grown, checkpoints it. For a timer off the key path.
    void flush();
    // For the end of the run: writes what waits, waiting a little for the
    // lock, checkpoints and closes. Later calls reopen.
    void close();
    // Deletes the database and its -wal and -shm (closed first); nothing is
    // kept until the next change after enable().
    void disable();
    void enable();
    // Another window deleted the database while this store had it open
    // (its disable()): this store dropped its connection without deleting
    // anything and keeps nothing more, so as not to bring the tape back,
    // until enable(). A database that another window put in its place
    // (a damaged one set aside) is opened instead, and this stays false.
    bool switchedOffElsewhere() const noexcept;

    // "" or plain words: what was not kept or not read (a full disk, a
    // clear that did not reach the disk, a damaged file set aside and
    // where it went).
    std::string problem() const;
    // Counts every change of problem(), so that a caller can tell it moved.
    std::uint64_t problemSerial() const noexcept;

    // A run's start as its heading shows it, local time "2026-12-07 14:30".
    static std::string startedText(std::time_t started);

    // $XDG_STATE_HOME/quillo (an absolute XDG_STATE_HOME only), else
    // ~/.local/state/quillo; "" without a home.
    static std::string defaultFolder();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace quillo
