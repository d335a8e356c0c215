// SPDX-License-Identifier: MIT
#include "tapestore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

// Files in the folder: one journal per run, "run-<id>.tape", appended to by
// that run alone while it holds a flock on it; "kept.tape", the ended runs'
// lines, rewritten whole only under a flock on "tape.lock"; "*.new", such a
// file while it is written. Each is a magic line, then one record a line:
//   R <run> <started>   the run the L records below belong to
//   L <n> <text>        a line; n is the store's number, unique in its run
//   U <n>               undo: this run's lines numbered n and above are gone
//   D <run> <n>         delete: line n of that run is gone
//   X <run> <n>         clear: the lines of that run numbered below n are gone
// A record is kept once its newline is written: readers drop a last record
// cut short. U applies to what its journal held before it; D and X hold
// wherever they stand, since they name one line or what a reader saw.

namespace quillo {
namespace {

// A file without this first line is not the store's: it is never truncated,
// replaced or removed.
constexpr std::string_view kMagic = "quillo tape 1\n";
constexpr char kKept[] = "kept.tape";
constexpr char kKeptNew[] = "kept.new";
constexpr char kLock[] = "tape.lock";
constexpr std::string_view kRunPrefix = "run-";
constexpr std::string_view kJournalSuffix = ".tape";
constexpr std::string_view kNewSuffix = ".new";

constexpr std::size_t kChunk = 64 * 1024;
constexpr std::size_t kRecordBytes = TapeStore::kLineBytes + 64;
// No file the store writes comes near this: of a larger one only the end is read.
constexpr off_t kFileBytes = 16 * 1024 * 1024;
// What a damaged file can make a reader hold besides the lines.
constexpr std::size_t kTombstones = 4 * TapeStore::kLines;
constexpr std::size_t kRuns = 4 * TapeStore::kLines;
constexpr std::size_t kNames = 4096;
// At a run's first line, ended runs' journals are folded once they pile up
// this much; reading the tape folds them all.
constexpr std::size_t kPileFiles = 4;
constexpr off_t kPileBytes = 1024 * 1024;
constexpr int kLockWaitMs = 1000;

constexpr auto npos = static_cast<std::size_t>(-1);

int realOpen(int dir, const char* name, int flags, mode_t mode) {
    return ::openat(dir, name, flags, mode);
}
int realRename(int dir, const char* from, const char* to) {
    return ::renameat(dir, from, dir, to);
}

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        reset(std::exchange(other.fd_, -1));
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

std::string errorText(int error) {
    return std::generic_category().message(error);
}

// UTF-8 without NUL bytes or line breaks: what one record can hold.
bool validText(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p < end) {
        const unsigned lead = *p;
        if (lead < 0x80) {
            if (lead == 0 || lead == '\n') {
                return false;
            }
            ++p;
            continue;
        }
        const int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        if (more == 0 || lead >= 0xF8 || end - p <= more) {
            return false;
        }
        unsigned code = lead & (0x3Fu >> more);
        for (int i = 1; i <= more; ++i) {
            if ((p[i] & 0xC0) != 0x80) {
                return false;
            }
            code = code << 6 | (p[i] & 0x3Fu);
        }
        static constexpr unsigned kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (code < kLeast[more] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        p += more + 1;
    }
    return true;
}

bool validId(std::string_view id) {
    return !id.empty() && id.size() <= 64 && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '-';
    });
}

std::optional<std::uint64_t> number(std::string_view text) {
    std::uint64_t n = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return n;
}

void appendNumber(std::string& out, std::uint64_t n, int width = 0, int base = 10) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, n, base).ptr;
    out.append(static_cast<std::size_t>(std::max<long>(0, width - (end - digits))), '0');
    out.append(digits, end);
}

// "U <n>", or "D <run> <n>" and "X <run> <n>".
void appendMark(std::string& out, char type, std::string_view run, std::uint64_t n) {
    out += type;
    out += ' ';
    if (!run.empty()) {
        out.append(run);
        out += ' ';
    }
    appendNumber(out, n);
    out += '\n';
}

void appendLine(std::string& out, std::uint64_t n, std::string_view text) {
    out += "L ";
    appendNumber(out, n);
    out += ' ';
    out.append(text);
    out += '\n';
}

void appendRun(std::string& out, std::string_view run, std::string_view started) {
    out += "R ";
    out.append(run);
    out += ' ';
    out.append(started);
    out += '\n';
}

// Splits "first rest" at its first space.
bool split(std::string_view text, std::string_view& first, std::string_view& rest) {
    const auto space = text.find(' ');
    if (space == std::string_view::npos) {
        return false;
    }
    first = text.substr(0, space);
    rest = text.substr(space + 1);
    return true;
}

// errno set on failure; a write that writes nothing is an I/O error.
bool writeAll(const TapeStore::Sys& sys, int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = sys.write(fd, data.data(), data.size());
        if (n > 0) {
            data.remove_prefix(static_cast<std::size_t>(n));
        } else if (n == 0) {
            errno = EIO;
            return false;
        } else if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

ssize_t readAt(int fd, char* buffer, std::size_t size, off_t offset) {
    ssize_t n;
    do {
        n = ::pread(fd, buffer, size, offset);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool sameFile(int dir, const char* name, int fd) {
    struct stat named {};
    struct stat opened {};
    return ::fstatat(dir, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(fd, &opened) == 0 &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

bool ours(int fd) {
    char head[kMagic.size()];
    return readAt(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
           std::string_view(head, sizeof head) == kMagic;
}

off_t sizeOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_size : 0;
}

// "<id>" of "run-<id><suffix>", or "".
std::string_view runOf(std::string_view name, std::string_view suffix) {
    if (!name.starts_with(kRunPrefix) || !name.ends_with(suffix)) {
        return {};
    }
    const auto id = name.substr(kRunPrefix.size(), name.size() - kRunPrefix.size() - suffix.size());
    return validId(id) ? id : std::string_view();
}

// Buffers records and writes them in chunks.
class Out {
public:
    Out(const TapeStore::Sys& sys, int fd) : sys_(sys), fd_(fd) {}
    std::string& text() { return buffer_; }
    void next() {
        if (buffer_.size() >= kChunk) {
            flush();
        }
    }
    bool flush() {
        if (ok_ && !buffer_.empty()) {
            ok_ = writeAll(sys_, fd_, buffer_);
            error_ = ok_ ? 0 : errno;
            size_ += buffer_.size();
        }
        buffer_.clear();
        return ok_;
    }
    int error() const { return error_; }
    std::uint64_t size() const { return size_; }

private:
    const TapeStore::Sys& sys_;
    int fd_;
    std::string buffer_;
    bool ok_ = true;
    int error_ = 0;
    std::uint64_t size_ = 0;
};

struct Run {
    std::string id;
    std::string started;
    std::uint64_t end = 0; // one past the highest number read
    std::uint64_t clearedBelow = 0;
    bool kept = false;   // in the kept file, or folded into it now
    bool folded = false; // folded now from its journal
};

struct Key {
    std::size_t run;
    std::uint64_t number;
};

// Runs in the order they started (their ids begin with the time), each run's
// lines by number.
struct Older {
    const std::vector<Run>* runs;
    bool operator()(const Key& a, const Key& b) const {
        if (a.run != b.run) {
            return (*runs)[a.run].id < (*runs)[b.run].id;
        }
        return a.number < b.number;
    }
};

// What reading one file found. `why`: it was not read at all.
struct FileRead {
    std::string why;
    bool foreign = false;
    bool damaged = false; // records left out
    bool cut = false;     // its last record had no end
    bool tail = false;    // too large: only its end was read
};

// The lines of the files read, at most kLines of them and kTextBytes of
// text: past that the oldest go. Records are streamed, never held whole
// beyond kRecordBytes.
class Collector {
public:
    // The lines of run `skip` are not collected (a run reading the others').
    explicit Collector(std::string_view skip) : skip_(skip), buffer_(kChunk, '\0') {}

    // `journal`: the run a journal belongs to; "" for the kept file.
    FileRead read(int fd, std::string_view journal);
    bool has(std::string_view id) const {
        const auto it = index_.find(std::string(id));
        return it != index_.end() && runs[it->second].kept;
    }
    void fold(std::string_view id) {
        const std::size_t run = index(id);
        if (run != npos) {
            runs[run].kept = runs[run].folded = true;
        }
    }
    // The kept file: the runs it holds and those folded now, and what the
    // runs in `live` are still to lose.
    void writeKept(Out& out, const std::unordered_set<std::string>& live) const;
    // Run `id`'s journal, with what it asked of other runs.
    void writeJournal(Out& out, std::string_view id) const;

    std::vector<Run> runs;
    std::map<Key, std::string, Older> lines{Older{&runs}};
    std::set<std::pair<std::size_t, std::uint64_t>> deleted;

private:
    void feed(std::string_view data, FileRead& file);
    void record(std::string_view record, FileRead& file);
    bool openRun(std::string_view id, std::string_view started);
    void add(std::size_t run, std::uint64_t number, std::string_view text);
    void erase(std::size_t run, std::uint64_t from, std::uint64_t to);
    std::size_t index(std::string_view id);
    template <typename Keep> void writeMarks(Out& out, Keep keep) const;

    std::string skip_;
    std::unordered_map<std::string, std::size_t> index_;
    std::size_t bytes_ = 0;
    std::string buffer_;
    std::string partial_;
    bool skipping_ = false; // through the rest of a record too long to hold
    std::string_view journal_;
    bool inKept_ = false;
    bool sawRun_ = false;
    std::size_t current_ = npos;
    bool wanted_ = false;
};

FileRead Collector::read(int fd, std::string_view journal) {
    FileRead file;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        file.why = errorText(errno);
        return file;
    }
    if (!S_ISREG(st.st_mode)) {
        file.why = S_ISDIR(st.st_mode) ? "is a folder, not a file" : "is not a plain file";
        return file;
    }
    journal_ = journal;
    inKept_ = journal.empty();
    sawRun_ = false;
    current_ = npos;
    partial_.clear();
    skipping_ = false;
    off_t offset = 0;
    for (bool first = true;; first = false) {
        const ssize_t n = readAt(fd, buffer_.data(), buffer_.size(), offset);
        if (n < 0) {
            file.why = errorText(errno);
            return file;
        }
        std::string_view data(buffer_.data(), static_cast<std::size_t>(n));
        if (first) {
            // An empty file is a journal being made, or nothing.
            if (n > 0 && !data.starts_with(kMagic)) {
                file.foreign = true;
                file.why = "was not written by the calculator, and was left as it is";
                return file;
            }
            data.remove_prefix(std::min(data.size(), kMagic.size()));
            if (st.st_size > kFileBytes) {
                // The first record names a journal's run; then the end.
                const auto end = data.find('\n');
                if (end != std::string_view::npos) {
                    record(data.substr(0, end), file);
                }
                file.tail = true;
                skipping_ = true;
                offset = st.st_size - kFileBytes;
                continue;
            }
        }
        if (n == 0) {
            break;
        }
        feed(data, file);
        offset += n;
    }
    file.cut = !partial_.empty() || skipping_;
    return file;
}

void Collector::feed(std::string_view data, FileRead& file) {
    while (!data.empty()) {
        const auto end = data.find('\n');
        if (end == std::string_view::npos) {
            if (!skipping_ && partial_.size() + data.size() > kRecordBytes) {
                partial_.clear();
                skipping_ = true;
                file.damaged = true;
            } else if (!skipping_) {
                partial_.append(data);
            }
            return;
        }
        if (skipping_) {
            skipping_ = false;
        } else if (partial_.empty()) {
            record(data.substr(0, end), file);
        } else {
            partial_.append(data.substr(0, end));
            record(partial_, file);
            partial_.clear();
        }
        data.remove_prefix(end + 1);
    }
}

void Collector::record(std::string_view record, FileRead& file) {
    std::string_view rest = record.size() > 2 ? record.substr(2) : std::string_view();
    std::string_view first;
    std::optional<std::uint64_t> n;
    bool ok =
        record.size() > 2 && record.size() <= kRecordBytes && record[1] == ' ' && validText(record);
    if (ok) {
        switch (record[0]) {
        case 'R':
            ok =
                split(rest, first, rest) && validId(first) && !rest.empty() && openRun(first, rest);
            break;
        case 'L':
            ok = current_ != npos && split(rest, first, rest) && (n = number(first));
            if (ok && wanted_) {
                add(current_, *n, rest);
            }
            break;
        case 'U':
            ok = current_ != npos && (n = number(rest));
            if (ok) {
                erase(current_, *n, UINT64_MAX);
            }
            break;
        case 'D':
        case 'X': {
            ok = split(rest, first, rest) && validId(first) && (n = number(rest));
            const std::size_t run = ok ? index(first) : npos;
            if (run == npos) {
                break;
            }
            if (record[0] == 'X') {
                runs[run].clearedBelow = std::max(runs[run].clearedBelow, *n);
                erase(run, 0, *n);
            } else if (deleted.size() < kTombstones) {
                deleted.emplace(run, *n);
                erase(run, *n, *n + 1);
            }
            break;
        }
        default:
            ok = false;
        }
    }
    file.damaged |= !ok;
}

bool Collector::openRun(std::string_view id, std::string_view started) {
    // A journal holds one run, its own.
    if (!journal_.empty() && (sawRun_ || id != journal_)) {
        current_ = npos;
        return false;
    }
    sawRun_ = true;
    current_ = index(id);
    wanted_ = id != skip_;
    if (current_ != npos) {
        Run& run = runs[current_];
        if (run.started.empty()) {
            run.started = started;
        }
        run.kept |= inKept_;
    }
    return true;
}

void Collector::add(std::size_t run, std::uint64_t number, std::string_view text) {
    Run& owner = runs[run];
    owner.end = std::max(owner.end, number + 1);
    if (number < owner.clearedBelow || deleted.count({run, number}) != 0) {
        return;
    }
    const std::size_t before = lines.size();
    lines.try_emplace(lines.end(), Key{run, number}, text);
    if (lines.size() != before) {
        bytes_ += text.size();
    }
    while (lines.size() > TapeStore::kLines || bytes_ > TapeStore::kTextBytes) {
        bytes_ -= lines.begin()->second.size();
        lines.erase(lines.begin());
    }
}

void Collector::erase(std::size_t run, std::uint64_t from, std::uint64_t to) {
    for (auto it = lines.lower_bound(Key{run, from});
         it != lines.end() && it->first.run == run && it->first.number < to;) {
        bytes_ -= it->second.size();
        it = lines.erase(it);
    }
}

std::size_t Collector::index(std::string_view id) {
    const auto [it, added] = index_.try_emplace(std::string(id), runs.size());
    if (added) {
        if (runs.size() == kRuns) {
            index_.erase(it);
            return npos;
        }
        runs.push_back(Run{std::string(id), {}, 0, 0, false, false});
    }
    return it->second;
}

template <typename Keep> void Collector::writeMarks(Out& out, Keep keep) const {
    for (const auto& [run, n] : deleted) {
        if (keep(runs[run])) {
            appendMark(out.text(), 'D', runs[run].id, n);
            out.next();
        }
    }
    for (const Run& run : runs) {
        if (run.clearedBelow > 0 && keep(run)) {
            appendMark(out.text(), 'X', run.id, run.clearedBelow);
            out.next();
        }
    }
}

void Collector::writeKept(Out& out, const std::unordered_set<std::string>& live) const {
    out.text() += kMagic;
    // A run folded now is named even with no line left, so that a journal
    // whose removal was cut short is not read again (one that named no run
    // had no line).
    for (const Run& run : runs) {
        if (run.folded && !run.started.empty()) {
            appendRun(out.text(), run.id, run.started);
        }
    }
    std::size_t current = npos;
    for (const auto& [key, text] : lines) {
        const Run& run = runs[key.run];
        if (!run.kept) {
            continue;
        }
        if (key.run != current) {
            appendRun(out.text(), run.id, run.started);
            current = key.run;
        }
        appendLine(out.text(), key.number, text);
        out.next();
    }
    writeMarks(out, [&](const Run& run) { return live.count(run.id) != 0; });
}

void Collector::writeJournal(Out& out, std::string_view id) const {
    out.text() += kMagic;
    const auto it = index_.find(std::string(id));
    if (it == index_.end()) {
        return;
    }
    appendRun(out.text(), id, runs[it->second].started);
    for (const auto& [key, text] : lines) {
        if (key.run == it->second) {
            appendLine(out.text(), key.number, text);
            out.next();
        }
    }
    writeMarks(out, [&](const Run& run) { return run.id != id; });
}

Fd openToRead(const TapeStore::Sys& sys, int dir, const char* name) {
    return Fd(sys.open(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0));
}

// The names of the store's files in the folder.
struct Listing {
    bool kept = false;
    bool keptNew = false;
    std::vector<std::string> journals;
    std::vector<std::string> temps;
};

Listing list(int dir) {
    Listing found;
    Fd fd(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* stream = fd ? ::fdopendir(fd.get()) : nullptr;
    if (stream == nullptr) {
        return found;
    }
    fd.release();
    while (const dirent* entry = ::readdir(stream)) {
        const std::string_view name = entry->d_name;
        if (name == kKept) {
            found.kept = true;
        } else if (name == kKeptNew) {
            found.keptNew = true;
        } else if (found.journals.size() + found.temps.size() >= kNames) {
            break;
        } else if (!runOf(name, kJournalSuffix).empty()) {
            found.journals.emplace_back(name);
        } else if (!runOf(name, kNewSuffix).empty()) {
            found.temps.emplace_back(name);
        }
    }
    ::closedir(stream);
    return found;
}

// Held by the run that wrote it, or left by one that ended: it is ended if
// its flock can be had and the name is still that file's.
bool ended(int dir, const char* name, int fd) {
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0 && sameFile(dir, name, fd);
}

// The folder's lock: one run at a time folds, and no reader sees a fold half
// done. A lock file that disable() removed meanwhile is made again.
Fd takeLock(const TapeStore::Sys& sys, int dir, bool wait) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        Fd lock(sys.open(dir, kLock, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
        if (!lock) {
            return {};
        }
        for (int waited = 0; ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0; waited += 5) {
            if (!wait || waited >= kLockWaitMs) {
                return {};
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (sameFile(dir, kLock, lock.get())) {
            return lock;
        }
    }
    return {};
}

// Why a file could not be opened.
FileRead notOpened(int error) {
    return {error == ELOOP ? "is a symbolic link, which is not followed"
                           : "could not be opened: " + errorText(error)};
}

} // namespace

TapeStore::TapeStore(std::string folder, std::time_t started, Options options)
    : folder_(std::move(folder)), started_(started), sys_(options.sys),
      journalBytes_(options.journalBytes), rewriteAt_(options.journalBytes) {
    if (!sys_.open) {
        sys_.open = realOpen;
    }
    if (!sys_.write) {
        sys_.write = ::write;
    }
    if (!sys_.truncate) {
        sys_.truncate = ::ftruncate;
    }
    if (!sys_.sync) {
        sys_.sync = ::fsync;
    }
    if (!sys_.rename) {
        sys_.rename = realRename;
    }
    if (!sys_.mkdir) {
        sys_.mkdir = ::mkdir;
    }
}

TapeStore::~TapeStore() {
    closeFd(journal_);
    closeFd(dir_);
}

std::string TapeStore::defaultFolder() {
    // A relative path is ignored, as XDG Base Directory asks.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return std::string(state) + "/quillo";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/state/quillo";
    }
    return {};
}

std::string TapeStore::problem() const {
    if (readProblem_.empty() || writeProblem_.empty()) {
        return readProblem_ + writeProblem_;
    }
    return readProblem_ + "\n" + writeProblem_;
}

void TapeStore::fail(int error, std::string_view what) {
    if (state_ == State::Disabled) {
        return;
    }
    if (writeProblem_.empty()) {
        writeProblem_ = "This run's lines are not being kept";
        if (!folder_.empty()) {
            writeProblem_ += " in " + folder_;
        }
        writeProblem_ += ": ";
        writeProblem_ += what.empty() ? errorText(error) : std::string(what);
        writeProblem_ += '.';
    }
    // The journal stays open and locked, so that no one folds this run's
    // lines while it runs.
    state_ = State::Failed;
}

void TapeStore::failRead(std::string why) {
    if (readProblem_.empty()) {
        readProblem_ = std::move(why);
    }
}

// O_NOFOLLOW with O_DIRECTORY reports a link as ELOOP or as ENOTDIR.
std::string TapeStore::folderError(int error) const {
    struct stat st {};
    if ((error == ELOOP || error == ENOTDIR) &&
        ::fstatat(AT_FDCWD, folder_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode)) {
        return "it is a symbolic link, which is not followed";
    }
    return errorText(error);
}

std::string TapeStore::journalName(std::string_view suffix) const {
    std::string name(kRunPrefix);
    name += id_;
    name += suffix;
    return name;
}

bool TapeStore::openFolder(bool create) {
    if (dir_ >= 0) {
        return true;
    }
    if (folder_.empty() || folder_[0] != '/') {
        errno = ENOENT;
        return false;
    }
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    dir_ = sys_.open(AT_FDCWD, folder_.c_str(), flags, 0);
    if (dir_ < 0 && errno == ENOENT && create) {
        // Missing parents too, 0700 as XDG Base Directory asks.
        for (auto slash = folder_.find('/', 1);; slash = folder_.find('/', slash + 1)) {
            const std::string part = folder_.substr(0, slash);
            if (sys_.mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                return false;
            }
            if (slash == std::string::npos) {
                break;
            }
        }
        dir_ = sys_.open(AT_FDCWD, folder_.c_str(), flags, 0);
    }
    return dir_ >= 0;
}

bool TapeStore::begin() {
    if (state_ == State::Open) {
        return true;
    }
    if (state_ != State::Idle) {
        return false;
    }
    if (folder_.empty()) {
        fail(0, "there is no home folder to keep them in");
        return false;
    }
    if (!openFolder(true)) {
        fail(0, folderError(errno));
        return false;
    }
    if (!createJournal()) {
        return false;
    }
    state_ = State::Open;
    scan(Scan::FoldPile);
    return true;
}

bool TapeStore::createJournal() {
    std::tm utc{};
    std::tm local{};
    ::gmtime_r(&started_, &utc);
    ::localtime_r(&started_, &local);
    // Ids sort as the runs started; the random part keeps them apart
    // wherever pids repeat (a shared home, a restart within the second).
    std::uint64_t random = 0;
    if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        random ^=
            static_cast<std::uint64_t>(::getpid()) << 32 ^ reinterpret_cast<std::uintptr_t>(this);
    }
    id_.clear();
    appendNumber(id_, static_cast<std::uint64_t>(utc.tm_year + 1900), 4);
    appendNumber(id_, static_cast<std::uint64_t>(utc.tm_mon + 1), 2);
    appendNumber(id_, static_cast<std::uint64_t>(utc.tm_mday), 2);
    id_ += '-';
    appendNumber(id_, static_cast<std::uint64_t>(utc.tm_hour), 2);
    appendNumber(id_, static_cast<std::uint64_t>(utc.tm_min), 2);
    appendNumber(id_, static_cast<std::uint64_t>(utc.tm_sec), 2);
    id_ += '-';
    appendNumber(id_, static_cast<std::uint64_t>(::getpid()));
    id_ += '-';
    appendNumber(id_, random, 16, 16);
    startedText_.clear();
    appendNumber(startedText_, static_cast<std::uint64_t>(local.tm_year + 1900), 4);
    startedText_ += '-';
    appendNumber(startedText_, static_cast<std::uint64_t>(local.tm_mon + 1), 2);
    startedText_ += '-';
    appendNumber(startedText_, static_cast<std::uint64_t>(local.tm_mday), 2);
    startedText_ += ' ';
    appendNumber(startedText_, static_cast<std::uint64_t>(local.tm_hour), 2);
    startedText_ += ':';
    appendNumber(startedText_, static_cast<std::uint64_t>(local.tm_min), 2);

    const std::string temp = journalName(kNewSuffix);
    const std::string name = journalName(kJournalSuffix);
    journal_ = sys_.open(dir_, temp.c_str(),
                         O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (journal_ < 0) {
        fail(errno);
        return false;
    }
    // Locked before it has its name, so that no one takes it for an ended run's.
    std::string header(kMagic);
    appendRun(header, id_, startedText_);
    if (::flock(journal_, LOCK_EX) != 0 || !writeAll(sys_, journal_, header) ||
        sys_.rename(dir_, temp.c_str(), name.c_str()) != 0) {
        const int error = errno;
        ::unlinkat(dir_, temp.c_str(), 0);
        closeFd(journal_);
        fail(error);
        return false;
    }
    size_ = header.size();
    return true;
}

bool TapeStore::append(const std::string& records) {
    if (!writeAll(sys_, journal_, records)) {
        const int error = errno;
        // Back to where the journal ended, so that no record is half kept; if
        // even that fails, the part stays last, without its newline, and
        // readers drop it.
        sys_.truncate(journal_, static_cast<off_t>(size_));
        fail(error);
        return false;
    }
    size_ += records.size();
    return size_ <= rewriteAt_ || rewriteJournal();
}

bool TapeStore::rewriteJournal() {
    Collector own{std::string_view()};
    const FileRead read = own.read(journal_, id_);
    if (!read.why.empty()) {
        fail(0, "this run's file " + read.why);
        return false;
    }
    const std::string temp = journalName(kNewSuffix);
    const std::string name = journalName(kJournalSuffix);
    Fd fd(sys_.open(dir_, temp.c_str(),
                    O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) {
        fail(errno);
        return false;
    }
    // Locked before it is written and takes the journal's name; on disk before it does.
    Out out(sys_, fd.get());
    const bool locked = ::flock(fd.get(), LOCK_EX) == 0;
    if (locked) {
        own.writeJournal(out, id_);
    }
    if (!locked || !out.flush() || sys_.sync(fd.get()) != 0 ||
        sys_.rename(dir_, temp.c_str(), name.c_str()) != 0) {
        const int error = out.error() != 0 ? out.error() : errno;
        ::unlinkat(dir_, temp.c_str(), 0);
        fail(error);
        return false;
    }
    closeFd(journal_);
    journal_ = fd.release();
    size_ = out.size();
    // What the journal still holds is bounded; twice that keeps rewrites rare.
    rewriteAt_ = std::max<std::uint64_t>(journalBytes_, 2 * size_);
    return true;
}

Earlier TapeStore::scan(Scan what) {
    const bool read = what == Scan::Read;
    Earlier earlier;
    if (!openFolder(false)) {
        if (errno != ENOENT) {
            failRead("Earlier lines could not be read from " + folder_ + ": " + folderError(errno) +
                     ".");
        }
        return earlier;
    }
    const std::string path = folder_ + "/";
    auto report = [&](std::string_view name, const FileRead& file, bool crashCuts) {
        std::string why = file.why;
        if (why.empty() && file.tail) {
            why = "is far larger than a kept tape can be, and only its end was read";
        } else if (why.empty() && file.damaged) {
            why = "has damaged lines, which were left out";
        } else if (why.empty() && file.cut && !crashCuts) {
            why = "was cut short, and its last line was left out";
        }
        if (!why.empty()) {
            failRead("Earlier lines could not be read: " + path + std::string(name) + " " + why +
                     ".");
        }
    };

    Fd lock = takeLock(sys_, dir_, read);

    const Listing names = list(dir_);
    struct Journal {
        std::string_view name;
        std::string_view run;
        Fd fd;
        int error;
        bool ended;
    };
    std::vector<Journal> journals;
    std::unordered_set<std::string> live;
    std::vector<std::string_view> stale; // ended runs' half-made files
    std::size_t endedFiles = 0;
    off_t endedBytes = 0;
    for (const std::string& name : names.journals) {
        const std::string_view run = runOf(name, kJournalSuffix);
        if (run == id_) {
            live.emplace(run);
            continue;
        }
        // Open for writing only so that its flock can be had over NFS too.
        Fd fd(sys_.open(dir_, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
        if (!fd) {
            fd = openToRead(sys_, dir_, name.c_str());
        }
        const int error = fd ? 0 : errno;
        const bool over = fd && lock && ended(dir_, name.c_str(), fd.get());
        if (over) {
            ++endedFiles;
            endedBytes += sizeOf(fd.get());
        } else {
            live.emplace(run);
        }
        journals.push_back({name, run, std::move(fd), error, over});
    }
    for (const std::string& name : names.temps) {
        Fd fd = openToRead(sys_, dir_, name.c_str());
        if (fd && lock && runOf(name, kNewSuffix) != id_ && ended(dir_, name.c_str(), fd.get()) &&
            ours(fd.get())) {
            stale.push_back(name);
        }
    }
    if (what == Scan::FoldPile ? endedFiles < kPileFiles && endedBytes < kPileBytes
                               : what == Scan::Fold && endedFiles == 0) {
        return earlier;
    }

    Collector tape(read ? std::string_view(id_) : std::string_view());
    bool foldable = lock.get() >= 0;
    bool rewrite = false;
    if (names.kept) {
        Fd fd = openToRead(sys_, dir_, kKept);
        const FileRead file = fd ? tape.read(fd.get(), {}) : notOpened(errno);
        report(kKept, file, false);
        // Its lines are all whole again once rewritten; a file that could not
        // be read is left alone.
        foldable &= file.why.empty();
        rewrite = file.damaged || file.cut || file.tail;
    }
    std::vector<std::string_view> folded;
    for (Journal& journal : journals) {
        if (journal.ended && tape.has(journal.run)) {
            folded.push_back(journal.name); // folded before, its removal cut short
            continue;
        }
        if (!read && !journal.ended) {
            continue;
        }
        const FileRead file =
            journal.fd ? tape.read(journal.fd.get(), journal.run) : notOpened(journal.error);
        report(journal.name, file, true);
        if (journal.ended && file.why.empty() && foldable) {
            tape.fold(journal.run);
            folded.push_back(journal.name);
            rewrite = true;
        }
    }
    if (read && journal_ >= 0) {
        tape.read(journal_, id_); // for what this run asked of others
    }

    if (foldable && rewrite) {
        // A kept.new is left by a fold that was cut short: the lock says no one writes it.
        if (names.keptNew) {
            Fd old = openToRead(sys_, dir_, kKeptNew);
            if (old && (sizeOf(old.get()) == 0 || ours(old.get()))) {
                ::unlinkat(dir_, kKeptNew, 0);
            }
        }
        Fd fd(
            sys_.open(dir_, kKeptNew, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        Out out(sys_, fd.get());
        if (fd) {
            tape.writeKept(out, live);
        }
        if (!fd || !out.flush() || sys_.sync(fd.get()) != 0 ||
            sys_.rename(dir_, kKeptNew, kKept) != 0 || sys_.sync(dir_) != 0) {
            const int error = out.error() != 0 ? out.error() : errno;
            if (fd) {
                ::unlinkat(dir_, kKeptNew, 0);
            }
            failRead("Earlier runs' lines could not be folded together in " + folder_ + ": " +
                     errorText(error) + ".");
            folded.clear();
        }
    }
    if (foldable) {
        for (const std::string_view name : folded) {
            ::unlinkat(dir_, std::string(name).c_str(), 0);
        }
        for (const std::string_view name : stale) {
            ::unlinkat(dir_, std::string(name).c_str(), 0);
        }
    }
    lock.reset();
    if (!read) {
        return earlier;
    }

    seen_.clear();
    for (const Run& run : tape.runs) {
        if (run.end > 0 && run.id != id_) {
            seen_.emplace_back(run.id, run.end);
        }
    }
    std::vector<std::size_t> shown(tape.runs.size(), npos);
    earlier.lines.reserve(tape.lines.size());
    for (auto& [key, text] : tape.lines) {
        if (shown[key.run] == npos) {
            shown[key.run] = earlier.runs.size();
            earlier.runs.push_back({tape.runs[key.run].id, tape.runs[key.run].started});
        }
        earlier.lines.push_back({shown[key.run], key.number, std::move(text)});
    }
    return earlier;
}

bool TapeStore::add(std::uint64_t number, std::string_view text) {
    const Line line{number, text};
    return add(std::span(&line, 1));
}

bool TapeStore::add(std::span<const Line> lines) {
    try {
        if (!begin()) {
            return false;
        }
        records_.clear();
        bool all = true;
        for (const Line& line : lines) {
            if (line.text.size() > kLineBytes || !validText(line.text)) {
                all = false;
                continue;
            }
            if (!spans_.empty() && spans_.back().number + spans_.back().count == line.number &&
                spans_.back().seq + spans_.back().count == next_) {
                ++spans_.back().count;
            } else {
                spans_.push_back({line.number, next_, 1});
            }
            appendLine(records_, next_++, line.text);
        }
        // Older lines than the engine can take back need no number.
        while (!spans_.empty() &&
               next_ - (spans_.front().seq + spans_.front().count) > 2 * kLines) {
            spans_.pop_front();
        }
        return (records_.empty() || append(records_)) && all;
    } catch (const std::exception&) {
        fail(ENOMEM);
        return false;
    }
}

bool TapeStore::cut(std::uint64_t from) {
    if (state_ == State::Failed || state_ == State::Disabled) {
        return false;
    }
    std::optional<std::uint64_t> seq;
    while (!spans_.empty()) {
        Span& span = spans_.back();
        if (span.number >= from) {
            seq = span.seq;
            spans_.pop_back();
            continue;
        }
        if (span.number + span.count > from) {
            seq = span.seq + (from - span.number);
            span.count = from - span.number;
        }
        break;
    }
    if (!seq) {
        return true;
    }
    try {
        records_.clear();
        appendMark(records_, 'U', {}, *seq);
        return begin() && append(records_);
    } catch (const std::exception&) {
        fail(ENOMEM);
        return false;
    }
}

bool TapeStore::remove(std::string_view run, std::uint64_t number) {
    if (state_ == State::Failed || state_ == State::Disabled) {
        return false;
    }
    std::optional<std::uint64_t> seq;
    if (!run.empty()) {
        if (!validId(run)) {
            return false;
        }
        seq = number;
    }
    for (auto span = spans_.rbegin(); run.empty() && span != spans_.rend(); ++span) {
        if (number >= span->number && number < span->number + span->count) {
            seq = span->seq + (number - span->number);
            break;
        }
    }
    if (!seq) {
        return true; // never kept
    }
    try {
        records_.clear();
        appendMark(records_, 'D', run.empty() ? std::string_view(id_) : run, *seq);
        if (run.empty()) {
            return append(records_); // a line of this run: the journal is open
        }
        return begin() && append(records_);
    } catch (const std::exception&) {
        fail(ENOMEM);
        return false;
    }
}

bool TapeStore::clear() {
    if (state_ == State::Failed || state_ == State::Disabled) {
        return false;
    }
    if (next_ == 0 && seen_.empty()) {
        return true;
    }
    try {
        if (!begin()) {
            return false;
        }
        records_.clear();
        if (next_ > 0) {
            appendMark(records_, 'X', id_, next_);
        }
        for (const auto& [run, end] : seen_) {
            appendMark(records_, 'X', run, end);
        }
        spans_.clear();
        seen_.clear();
        return append(records_);
    } catch (const std::exception&) {
        fail(ENOMEM);
        return false;
    }
}

Earlier TapeStore::readEarlier() {
    if (state_ == State::Disabled) {
        return {};
    }
    try {
        return scan(Scan::Read);
    } catch (const std::exception&) {
        failRead("Earlier lines could not be read: there was not enough memory.");
        return {};
    }
}

void TapeStore::sync() {
    if (journal_ < 0) {
        return;
    }
    if (sys_.sync(journal_) != 0 || sys_.sync(dir_) != 0) {
        fail(errno);
    }
    try {
        scan(Scan::Fold);
    } catch (const std::exception&) {
        failRead("Earlier runs' lines could not be folded together: there was not enough memory.");
    }
}

void TapeStore::disable() {
    if (state_ == State::Disabled) {
        return;
    }
    state_ = State::Disabled;
    if (journal_ >= 0) {
        ::unlinkat(dir_, journalName(kJournalSuffix).c_str(), 0);
        closeFd(journal_);
    }
    if (!openFolder(false)) {
        return;
    }
    Fd lock = takeLock(sys_, dir_, true);
    if (!lock) {
        failRead("The kept tape could not all be deleted from " + folder_ + ": " +
                 errorText(errno) + ".");
        return;
    }
    try {
        const Listing names = list(dir_);
        std::vector<std::string> gone = names.journals;
        gone.insert(gone.end(), names.temps.begin(), names.temps.end());
        bool others = false;
        for (const std::string& name : gone) {
            Fd fd(sys_.open(dir_, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
            if (fd && ended(dir_, name.c_str(), fd.get()) && ours(fd.get())) {
                ::unlinkat(dir_, name.c_str(), 0);
            } else {
                others |= fd && ours(fd.get());
            }
        }
        for (const char* name : {kKept, kKeptNew}) {
            Fd fd = openToRead(sys_, dir_, name);
            if (fd && ours(fd.get())) {
                ::unlinkat(dir_, name, 0);
            }
        }
        // Another window's run still needs the lock; an empty one is all this is.
        if (!others && sizeOf(lock.get()) == 0) {
            ::unlinkat(dir_, kLock, 0);
        }
    } catch (const std::exception&) {
        failRead("The kept tape could not all be deleted: there was not enough memory.");
    }
}

} // namespace quillo
