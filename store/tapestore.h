// SPDX-License-Identifier: MIT
#pragma once

#include "tape.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

struct StoreOp;

struct KeptRun {
    std::int64_t id = 0;
    std::string started; // local time, "2026-12-07 14:30"; "" when not known
};
struct KeptLine {
    std::size_t run = 0; // index into Earlier::runs
    std::int64_t id = 0; // what removeEarlier() and noteEarlier() take
    std::string text;
    std::string note; // "" when none
};
// Runs oldest first, each run's lines in the order they were typed; at most
// TapeStore::kLines lines.
struct Earlier {
    std::vector<KeptRun> runs;
    std::vector<KeptLine> lines;
};

// The tape kept between runs: one SQLite database in a folder of its own,
// shared by every window through SQLite's locking, and a thread of the
// store's own that does all its file work. The calls hand changes over in
// order and return at once; what comes back (earlier lines, problems) is
// told to Events on the store's thread. The thread starts with the first
// call: a run that keeps nothing loads nothing.
class TapeStore {
public:
    // The same bound as the session's tape.
    static constexpr std::size_t kLines = Tape::kCapacity;
    // Past this much text the oldest lines go first, as past kLines.
    static constexpr std::uint64_t kBytes = 64u << 20;
    static constexpr std::string_view kFileName = "tape.sqlite";
    // How long the end of a run waits for another window or program that
    // holds the database: about what a logout leaves.
    static constexpr std::chrono::seconds kExitWait{10};

    struct Line {
        std::uint64_t number; // the engine's number of the line
        std::string text;
        std::string note = {}; // "" when none
    };
    // Called on the store's thread, never after the store is gone.
    struct Events {
        std::function<void(Earlier)> earlier;       // readEarlier()'s answer
        std::function<void(std::string)> problem;   // problem text, "" when none
        std::function<void()> switchedOffElsewhere; // the saved setting says off
    };

    // `wanted` says whether the saved setting still keeps the tape; it is
    // asked on the store's thread before the database is made or reopened.
    TapeStore(std::string folder, std::time_t started, std::function<bool()> wanted, Events events);
    // As finish(kExitWait).
    ~TapeStore();
    TapeStore(const TapeStore&) = delete;
    TapeStore& operator=(const TapeStore&) = delete;

    // This run's lines, by the engine's numbers.
    void add(std::vector<Line> lines);
    // Undo: this run's lines numbered `from` and above are gone.
    void cut(std::uint64_t from);
    // A correction: cut(from) then add(lines), in one transaction.
    void replace(std::optional<std::uint64_t> from, std::vector<Line> lines);
    // Delete: a line of this run by its number, or of an earlier run by KeptLine::id.
    void remove(std::uint64_t number);
    void removeEarlier(std::int64_t id);
    // A new run begins: the lines added from now on are its, and this
    // run's so far are an earlier run's.
    void beginRun(std::time_t started);
    // A line's note ("" for none): of this run by its number, of an earlier run by KeptLine::id.
    void note(std::uint64_t number, std::string text);
    void noteEarlier(std::int64_t id, std::string text);
    // Every line, earlier runs' too, gone from the disk with their text.
    void clear();
    // The other runs' lines (those still running too), told to Events::earlier.
    void readEarlier();
    // Deletes the database and its -wal and -shm; nothing is kept until enable().
    void disable();
    // Switched off in another window: as disable(), but the files are
    // deleted only while the saved setting still says off (this store may
    // have made them again just before).
    void letGo();
    void enable();

    // Waits until what was handed over has been tried once (tests, benchmarks).
    void settle();
    // Waits up to `wait` for what was handed over to be written and the
    // database closed; true when it was. What waits past it is not kept.
    bool finish(std::chrono::milliseconds wait);

    // A run's start as its heading shows it, local time "2026-12-07 14:30".
    static std::string startedText(std::time_t started);
    // $XDG_STATE_HOME/quillo (an absolute XDG_STATE_HOME only), else
    // ~/.local/state/quillo; "" without a home.
    static std::string defaultFolder();

private:
    struct Shared;
    void post(std::vector<StoreOp> ops);
    std::shared_ptr<Shared> shared_;
};

} // namespace quillo
