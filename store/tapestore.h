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
// Runs oldest first, each run's lines as typed; at most TapeStore::kLines lines.
struct Earlier {
    std::vector<KeptRun> runs;
    std::vector<KeptLine> lines;
};

// The tape kept between runs: one SQLite database shared by every window,
// and a thread of the store's own for all its file work, started by the
// first call (a run that keeps nothing loads nothing) and joined by
// finish(). Calls hand changes over in order and return at once; what comes
// back is told to Events on that thread.
class TapeStore {
public:
    // The same bound as the session's tape.
    static constexpr std::size_t kLines = Tape::kCapacity;
    // Past this much text the oldest lines go first, as past kLines.
    static constexpr std::uint64_t kBytes = 64u << 20;
    static constexpr std::string_view kFileName = "tape.sqlite";
    // The end of a run waits this long for a window or program that holds
    // the database, or a slow disk: about what a logout leaves.
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
        std::function<void()> switchedOffElsewhere; // another window switched it off
    };

    // `started`: this run's start, as its heading shows it.
    TapeStore(std::string folder, std::string started, Events events);
    // As finish(kExitWait), saying on standard error why changes were not written.
    ~TapeStore();
    TapeStore(const TapeStore&) = delete;
    TapeStore& operator=(const TapeStore&) = delete;

    // This run's lines, by the engine's numbers.
    void add(std::vector<Line> lines) { replace(std::nullopt, std::move(lines)); }
    // Undo or a correction: this run's lines numbered `from` and above are
    // gone, and `lines` added, in one transaction.
    void replace(std::optional<std::uint64_t> from, std::vector<Line> lines);
    // Delete: a line of this run by its number, or of an earlier run by KeptLine::id.
    void remove(std::uint64_t number) { post({{Op::Remove, number}}); }
    void removeEarlier(std::int64_t id) { post({{Op::RemoveEarlier, std::uint64_t(id)}}); }
    // A new run begins: this run's lines so far are an earlier run's.
    void beginRun(std::string started) { post({{Op::Run, 0, std::move(started)}}); }
    // A line's note ("" for none): of this run by its number, of an earlier run by KeptLine::id.
    void note(std::uint64_t number, std::string text) {
        post({{Op::Note, number, {}, std::move(text)}});
    }
    void noteEarlier(std::int64_t id, std::string text) {
        post({{Op::NoteEarlier, std::uint64_t(id), {}, std::move(text)}});
    }
    // Every line, earlier runs' too, gone from the disk with their text.
    void clear() { post({{Op::Clear}}); }
    // The other runs' lines (those still running too), told to Events::earlier.
    void readEarlier() { post({{Op::Read}}); }
    // Switched off for every window: every line gone from the disk, the file
    // left in place; nothing is kept until enable().
    void disable() { post({{Op::Disable}}); }
    // Switched off in another window: this store writes nothing more until enable().
    void letGo() { post({{Op::LetGo}}); }
    // Switched on for every window.
    void enable() { post({{Op::Enable}}); }

    // Waits until what was handed over has been tried once (tests, benchmarks).
    void settle();
    // Waits up to `wait` for what was handed over to be written, then ends
    // the thread: "" when all was written, else why not.
    std::string finish(std::chrono::milliseconds wait);

private:
    // A change or a question handed to the store's thread.
    struct Op {
        // Changes up to Clear, written in one transaction with those beside them.
        // clang-format off
        enum Kind : unsigned char {
            Add, Cut, Remove, RemoveEarlier, Note, NoteEarlier, Run, Clear, Read, Disable, LetGo, Enable
            // clang-format on
        } kind;
        std::uint64_t value = 0; // a number, or an id's bits
        std::string text = {}, note = {};
        bool rewrite = false; // an Add writing a line anew: a correction, its undo or redo
    };
    struct Shared;
    void post(std::vector<Op> ops);
    std::unique_ptr<Shared> shared_;
};

} // namespace quillo
