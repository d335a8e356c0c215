// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillo {

struct KeptRun {
    std::string id;
    std::string started; // local time, "2026-12-07 14:30"
};
struct KeptLine {
    std::size_t run;      // index into Earlier::runs
    std::uint64_t number; // what remove() takes for this line
    std::string text;
};
// Oldest first, at most TapeStore::kLines lines.
struct Earlier {
    std::vector<KeptRun> runs;
    std::vector<KeptLine> lines;
};

// The system calls that change files, so that tests can make them fail; those
// left null are the real ones.
struct TapeStoreSys {
    int (*open)(int dir, const char* name, int flags, mode_t mode) = nullptr;
    ssize_t (*write)(int fd, const void* data, std::size_t size) = nullptr;
    int (*truncate)(int fd, off_t size) = nullptr;
    int (*sync)(int fd) = nullptr;
    int (*rename)(int dir, const char* from, const char* to) = nullptr;
    int (*mkdir)(const char* path, mode_t mode) = nullptr;
};
struct TapeStoreOptions {
    TapeStoreSys sys;
    // This run's journal is rewritten with only what it still holds past this size.
    std::size_t journalBytes = 4 * 1024 * 1024;
};

// The tape kept between runs, in a folder of its own: each run appends to a
// journal of its own, held under flock for the run's life; the journals of
// runs that are gone are folded into one kept file under a lock, so that two
// windows never lose each other's lines and the whole stays bounded. A line
// is on disk (in the system's cache) when add() returns.
//
// No call throws or aborts. The first write that fails stops the keeping for
// this run; problem() then says why, as does a file that could not be read.
// Constructing a store makes no system call: the first add() or
// readEarlier() opens the folder.
class TapeStore {
public:
    static constexpr std::size_t kLines = 10'000;
    // A longer line is not kept; readers skip longer records without holding them.
    static constexpr std::size_t kLineBytes = 64 * 1024;
    // The text of the kept lines, past which older lines are dropped as past kLines.
    static constexpr std::size_t kTextBytes = 2 * 1024 * 1024;

    using Sys = TapeStoreSys;
    using Options = TapeStoreOptions;

    struct Line {
        std::uint64_t number; // the engine's number of the line
        std::string_view text;
    };

    TapeStore(std::string folder, std::time_t started, Options options = {});
    ~TapeStore();
    TapeStore(const TapeStore&) = delete;
    TapeStore& operator=(const TapeStore&) = delete;

    // Each call is one write. False: not kept (after a failure, or after
    // disable(), at once; a line that is not one line of UTF-8 text or is
    // longer than kLineBytes is left out, the others kept).
    bool add(std::uint64_t number, std::string_view text);
    bool add(std::span<const Line> lines);
    // Undo: this run's lines numbered `from` and above are gone.
    bool cut(std::uint64_t from);
    // Delete: a line of this run (run "", its engine number) or of an earlier
    // one (its KeptRun::id and KeptLine::number).
    bool remove(std::string_view run, std::uint64_t number);
    // Every line this run has written or read with readEarlier() so far is gone.
    bool clear();
    // The other runs' lines, those still running included; folds the
    // journals of ended runs first when no other window is doing so.
    Earlier readEarlier();
    // Deletes what is kept (this run's and ended runs'; files that are not
    // the store's are left) and keeps nothing more.
    void disable();
    // For a normal exit: what was written reaches the disk, and ended runs'
    // journals are folded, so that the next run's first line need not.
    void sync();
    // "" or plain words, a sentence for what could not be read and one for
    // what is not being kept.
    std::string problem() const;

    // $XDG_STATE_HOME/quillo, else ~/.local/state/quillo; "" without a home.
    static std::string defaultFolder();

private:
    // Engine numbers [number, number + count) are the store's [seq, seq + count):
    // the store numbers every line it ever kept, so that a number names one line
    // even after an undo, when the engine writes the same numbers again.
    struct Span {
        std::uint64_t number, seq, count;
    };
    enum class State { Idle, Open, Failed, Disabled };

    bool begin();
    bool openFolder(bool create);
    bool createJournal();
    bool append(const std::string& records);
    bool rewriteJournal();
    // Reads the other runs' lines, or only folds ended runs' journals: at
    // once, or once they pile up.
    enum class Scan { Read, Fold, FoldPile };
    Earlier scan(Scan what);
    void fail(int error, std::string_view what = {});
    void failRead(std::string why);
    std::string folderError(int error) const;
    std::string journalName(std::string_view suffix) const;

    std::string folder_;
    std::time_t started_;
    Sys sys_;
    std::size_t journalBytes_;
    State state_ = State::Idle;
    int dir_ = -1;
    int journal_ = -1;
    std::string id_;
    std::string startedText_;
    std::uint64_t size_ = 0; // of the journal: only this run writes to it
    std::uint64_t rewriteAt_ = 0;
    std::uint64_t next_ = 0; // the store's number for this run's next line
    std::deque<Span> spans_;
    std::vector<std::pair<std::string, std::uint64_t>> seen_; // runs read: one past the last line
    std::string records_;
    std::string readProblem_;
    std::string writeProblem_;
};

} // namespace quillo
