// SPDX-License-Identifier: MIT
#include "tapestore.h"

#include "sqlite.h"
#include "xdg.h"

#include <sqlite3.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>

// The database: `runs` (id, started), `lines` (id, run, number, text) and
// `tally`, the count and bytes of the lines, kept by triggers so that the
// bound costs no count on each add. Line and run ids are AUTOINCREMENT, so
// that an id read by one window never names a newer line. Another program's
// SQLite file is told apart by application_id; user_version is the schema.

namespace quillo {
namespace {

constexpr std::int32_t kApplicationId = 0x51756c6f;
constexpr std::int64_t kSchema = 1;
// Ids past this are damage (or a bound to be met in some thousand years):
// the file is set aside and its lines renumbered, before inserts fail.
constexpr std::int64_t kIdLimit = std::int64_t{1} << 62;
constexpr int kCloseWaitMs = 2000;
constexpr int kReadWaitMs = 250;
// flush() checkpoints past this many WAL pages (about 4 MB).
constexpr int kCheckpointPages = 1000;
// Lines that wait for the database past these are dropped, oldest first.
constexpr std::size_t kQueueLines = 2 * TapeStore::kLines;
constexpr std::uint64_t kQueueBytes = 2 * TapeStore::kBytes;

// The old text journals: what is read of them in all, and of one record.
constexpr std::string_view kOldMagic = "quillo tape 1\n";
constexpr std::string_view kOldKept = "kept.tape";
constexpr std::string_view kOldLock = "tape.lock";
constexpr std::uint64_t kOldBytes = 64u << 20;
constexpr std::size_t kOldRecordBytes = 1u << 20;
constexpr std::size_t kOldRuns = 4 * TapeStore::kLines;
constexpr std::size_t kOldMarks = 4 * TapeStore::kLines;
constexpr std::size_t kOldFiles = 4096;

constexpr const char* kSchemaSql = R"(
CREATE TABLE runs(id INTEGER PRIMARY KEY AUTOINCREMENT, started TEXT NOT NULL);
CREATE TABLE lines(id INTEGER PRIMARY KEY AUTOINCREMENT, run INTEGER NOT NULL,
                   number INTEGER NOT NULL, text TEXT NOT NULL);
CREATE INDEX lines_by_number ON lines(run, number);
CREATE TABLE tally(one INTEGER PRIMARY KEY CHECK (one = 1), lines INTEGER NOT NULL,
                   bytes INTEGER NOT NULL);
INSERT INTO tally VALUES (1, 0, 0);
CREATE TRIGGER lines_added AFTER INSERT ON lines BEGIN
  UPDATE tally SET lines = lines + 1, bytes = bytes + length(CAST(NEW.text AS BLOB));
END;
CREATE TRIGGER lines_deleted AFTER DELETE ON lines BEGIN
  UPDATE tally SET lines = lines - 1, bytes = bytes - length(CAST(OLD.text AS BLOB));
END;
PRAGMA application_id = 1366649967;
PRAGMA user_version = 1;
)";
static_assert(kApplicationId == 1366649967);

// Engine numbers go into SQLite's signed integers with their order kept
// (0 is the least), so that no number wraps below another.
std::int64_t stored(std::uint64_t number) {
    return static_cast<std::int64_t>(number ^ (std::uint64_t{1} << 63));
}

std::string errorText(int error) {
    return std::generic_category().message(error);
}

void appendNumber(std::string& out, std::uint64_t n, int width = 0) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out.append(static_cast<std::size_t>(std::max<long>(0, width - (end - digits))), '0');
    out.append(digits, end);
}

std::string localTime(std::time_t when, bool forName) {
    std::tm local{};
    ::localtime_r(&when, &local);
    std::string out;
    appendNumber(out, static_cast<std::uint64_t>(local.tm_year + 1900), 4);
    out += '-';
    appendNumber(out, static_cast<std::uint64_t>(local.tm_mon + 1), 2);
    out += '-';
    appendNumber(out, static_cast<std::uint64_t>(local.tm_mday), 2);
    out += forName ? 'T' : ' ';
    appendNumber(out, static_cast<std::uint64_t>(local.tm_hour), 2);
    out += forName ? '-' : ':';
    appendNumber(out, static_cast<std::uint64_t>(local.tm_min), 2);
    if (forName) {
        out += '-';
        appendNumber(out, static_cast<std::uint64_t>(local.tm_sec), 2);
    }
    return out;
}

bool damage(int rc) {
    return (rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB;
}

std::string errnoReason(int error);

// Why a write failed, in plain words; `error` is the system's, when known.
std::string sqlReason(int rc, int error = 0) {
    if (sql::library() == nullptr) {
        return sql::errorString(rc);
    }
    if (((rc & 0xff) == SQLITE_IOERR || (rc & 0xff) == SQLITE_CANTOPEN) &&
        (error == ENOSPC || error == EDQUOT || error == EROFS || error == EACCES)) {
        return errnoReason(error);
    }
    switch (rc & 0xff) {
    case SQLITE_FULL:
        return "the disk is full";
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return "the tape's file or folder is read-only";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "another window is using the tape";
    case SQLITE_NOMEM:
        return "there was not enough memory";
    case SQLITE_CANTOPEN:
        return "the tape's file could not be opened";
    case SQLITE_IOERR:
        return "the disk reported an error";
    default:
        return sql::errorString(rc);
    }
}

std::string errnoReason(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return "the disk is full";
    case EROFS:
    case EACCES:
    case EPERM:
        return "the tape's file or folder is read-only";
    default:
        return errorText(error);
    }
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool statPath(const std::string& path, struct stat& st) {
    return ::fstatat(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// Renames without replacing anything.
bool moveTo(const std::string& from, const std::string& to) {
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

// An empty file, or SQLite's header with this program's application_id.
bool looksOurs(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    unsigned char head[100];
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const ssize_t n = regular ? ::pread(fd, head, sizeof head, 0) : -1;
    ::close(fd);
    if (n == 0) {
        return true;
    }
    if (n != static_cast<ssize_t>(sizeof head) || std::memcmp(head, "SQLite format 3", 16) != 0) {
        return false;
    }
    const std::uint32_t id = std::uint32_t{head[68]} << 24 | std::uint32_t{head[69]} << 16 |
                             std::uint32_t{head[70]} << 8 | head[71];
    return id == static_cast<std::uint32_t>(kApplicationId);
}

struct Op {
    enum class Kind : unsigned char { Add, Cut, Remove, RemoveEarlier, Clear };
    Kind kind;
    std::uint64_t value; // a number, or an id's bits
    std::string text;
};

// What a damaged database or the old journals still held, to be written
// into the database.
struct Carried {
    struct Run {
        std::string started;
        std::vector<std::pair<std::uint64_t, std::string>> lines; // by number
    };
    std::vector<Run> runs; // oldest first
    bool empty() const { return runs.empty(); }
};

// The old journals' records (a magic line first, one record a line):
//   R <run> <started>  the run the L records below belong to
//   L <n> <text>       a line; n is unique in its run
//   U <n>              this journal's run's lines numbered n and above are gone
//   D <run> <n>        line n of that run is gone
//   X <run> <n>        that run's lines numbered below n are gone
class OldTape {
public:
    // Reads one file of at most `budget` bytes; false when it is not one.
    enum class Read { Whole, Partly, NotOurs, Failed };
    Read read(int fd, std::string_view journal, std::uint64_t& budget);
    Carried carried() const;

private:
    struct Run {
        std::string started;
        std::map<std::uint64_t, std::string> lines;
        std::uint64_t clearedBelow = 0;
        std::set<std::uint64_t> deleted;
    };
    void record(std::string_view record, std::string_view journal);
    Run* run(std::string_view id);
    void trim();

    std::map<std::string, Run, std::less<>> runs_; // ids begin with their start
    Run* current_ = nullptr;
    std::size_t lines_ = 0;
    std::uint64_t bytes_ = 0;
    std::size_t marks_ = 0;
};

bool validId(std::string_view id) {
    return !id.empty() && id.size() <= 64 && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '-';
    });
}

bool parseNumber(std::string_view text, std::uint64_t& n) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

bool split(std::string_view text, std::string_view& first, std::string_view& rest) {
    const auto space = text.find(' ');
    if (space == std::string_view::npos) {
        return false;
    }
    first = text.substr(0, space);
    rest = text.substr(space + 1);
    return true;
}

OldTape::Read OldTape::read(int fd, std::string_view journal, std::uint64_t& budget) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        return Read::Failed;
    }
    current_ = nullptr;
    std::string buffer(64 * 1024, '\0');
    std::string partial;
    bool skipping = false;
    off_t offset = 0;
    for (;;) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), budget));
        if (want == 0) {
            return offset >= st.st_size ? Read::Whole : Read::Partly;
        }
        ssize_t n;
        do {
            n = ::pread(fd, buffer.data(), want, offset);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            return Read::Failed;
        }
        std::string_view data(buffer.data(), static_cast<std::size_t>(n));
        if (offset == 0) {
            if (!data.starts_with(kOldMagic)) {
                return n == 0 ? Read::Whole : Read::NotOurs;
            }
            data.remove_prefix(kOldMagic.size());
        }
        if (n == 0) {
            // A last record without its newline was cut short by a crash.
            return Read::Whole;
        }
        budget -= static_cast<std::uint64_t>(n);
        offset += n;
        while (!data.empty()) {
            const auto end = data.find('\n');
            if (end == std::string_view::npos) {
                if (!skipping && partial.size() + data.size() > kOldRecordBytes) {
                    partial.clear();
                    skipping = true;
                } else if (!skipping) {
                    partial.append(data);
                }
                break;
            }
            if (skipping) {
                skipping = false;
            } else if (partial.empty()) {
                record(data.substr(0, end), journal);
            } else {
                partial.append(data.substr(0, end));
                record(partial, journal);
                partial.clear();
            }
            data.remove_prefix(end + 1);
        }
    }
}

OldTape::Run* OldTape::run(std::string_view id) {
    if (!validId(id)) {
        return nullptr;
    }
    const auto it = runs_.find(id);
    if (it != runs_.end()) {
        return &it->second;
    }
    if (runs_.size() >= kOldRuns) {
        return nullptr;
    }
    return &runs_.emplace(std::string(id), Run{}).first->second;
}

void OldTape::record(std::string_view text, std::string_view journal) {
    if (text.size() < 3 || text[1] != ' ') {
        return;
    }
    std::string_view rest = text.substr(2);
    std::string_view first;
    std::uint64_t n = 0;
    // Lines numbered from `from` to `last`, both kept out.
    auto erase = [&](Run& owner, std::uint64_t from, std::uint64_t last) {
        for (auto it = owner.lines.lower_bound(from);
             it != owner.lines.end() && it->first <= last;) {
            bytes_ -= it->second.size();
            --lines_;
            it = owner.lines.erase(it);
        }
    };
    switch (text[0]) {
    case 'R':
        // A journal holds its own run alone.
        current_ = split(rest, first, rest) && !rest.empty() && rest.size() <= 64 &&
                           (journal.empty() || first == journal)
                       ? run(first)
                       : nullptr;
        if (current_ != nullptr && current_->started.empty()) {
            current_->started = rest;
        }
        break;
    case 'L':
        if (current_ != nullptr && split(rest, first, rest) && parseNumber(first, n) &&
            n >= current_->clearedBelow && current_->deleted.count(n) == 0) {
            auto [it, added] = current_->lines.try_emplace(n);
            if (!added) {
                bytes_ -= it->second.size();
                --lines_;
            }
            it->second = rest;
            bytes_ += rest.size();
            ++lines_;
            trim();
        }
        break;
    case 'U':
        if (current_ != nullptr && parseNumber(rest, n)) {
            erase(*current_, n, UINT64_MAX);
        }
        break;
    case 'D':
    case 'X':
        if (split(rest, first, rest) && parseNumber(rest, n)) {
            Run* owner = run(first);
            if (owner == nullptr) {
                break;
            }
            if (text[0] == 'X') {
                owner->clearedBelow = std::max(owner->clearedBelow, n);
                if (n > 0) {
                    erase(*owner, 0, n - 1);
                }
            } else {
                if (marks_ < kOldMarks && owner->deleted.insert(n).second) {
                    ++marks_;
                }
                erase(*owner, n, n);
            }
        }
        break;
    default:
        break;
    }
}

// The store's bound, oldest first, so that a damaged file holds no more.
void OldTape::trim() {
    while (lines_ > TapeStore::kLines || bytes_ > TapeStore::kBytes) {
        for (auto& [id, run] : runs_) {
            if (!run.lines.empty()) {
                bytes_ -= run.lines.begin()->second.size();
                --lines_;
                run.lines.erase(run.lines.begin());
                break;
            }
        }
    }
}

Carried OldTape::carried() const {
    Carried out;
    for (const auto& [id, run] : runs_) {
        if (run.lines.empty()) {
            continue;
        }
        Carried::Run& to = out.runs.emplace_back();
        to.started = run.started;
        to.lines.assign(run.lines.begin(), run.lines.end());
    }
    return out;
}

// "run-<id>.tape", with a valid id.
bool oldJournal(std::string_view name, std::string_view& run) {
    constexpr std::string_view prefix = "run-";
    constexpr std::string_view suffix = ".tape";
    if (!name.starts_with(prefix) || !name.ends_with(suffix)) {
        return false;
    }
    run = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    return validId(run);
}

} // namespace

struct TapeStore::Impl {
    Impl(std::string folderPath, std::time_t started);

    enum class Where { Same, Gone, Replaced };
    enum class Kind { Ours, Fresh, Damaged, Foreign, Newer, Failed };
    enum class Scrub { None, Remove, Clear };

    // Opening, and what is found at the path.
    bool ready(int waitMs);
    bool open(int waitMs);
    int makeFolder();
    Kind classify(int& rc);
    bool configure(bool fresh, int& rc);
    bool prepare();
    void closeDb();
    Where where() const;
    bool setAside(const struct stat& st, Kind kind);
    void salvage(const std::string& aside);
    void removeStale();
    // Salvaged lines and the old journals, in one transaction.
    void carryOver();
    bool readOldJournals(Carried& carried, std::vector<std::string>& done, std::vector<int>& locks);

    // Writing.
    void enqueue(Op op);
    void write(int waitMs);
    int apply(std::int64_t& run, std::vector<std::size_t>& tooLong);
    int insertCarried(const Carried& carried);
    int trim(std::int64_t run);
    bool checkpoint(int mode, int waitMs);
    void restartWal();
    void settle(int waitMs);
    // Every entry point goes through here: no call throws, and memory
    // running out is a problem like a full disk.
    template <typename F> void guard(F&& f) {
        try {
            f();
        } catch (const std::exception&) {
            notice("The tape could not be written: there was not enough memory.");
        }
        changed();
    }

    // What problem() says.
    void failWrite(const std::string& reason);
    void notice(std::string text);
    std::string subject() const;
    std::string problem() const;
    void changed();

    std::string folder;
    std::string path;
    std::string startedText;
    sql::Database db;
    struct Statements {
        sql::Statement begin, commit, rollback, newRun, keepRun, insert, cut, remove, removeId,
            clearLines, clearRuns, tally, oldest, trimTo, dropRun, read;
    } st;
    struct stat file {};
    std::int64_t run = 0;
    int walPages = 0;

    std::deque<Op> queue;
    std::size_t queuedLines = 0;
    std::uint64_t queuedBytes = 0;
    Scrub scrub = Scrub::None;
    Carried salvaged;
    bool carryDue = false;
    bool disabled = false;
    bool offElsewhere = false;
    int depth = 0; // of set-asides within one call

    std::string writeProblem;
    std::vector<std::string> notices;
    std::string lastProblem;
    std::uint64_t serial = 0;
};

TapeStore::Impl::Impl(std::string folderPath, std::time_t started)
    : folder(std::move(folderPath)), startedText(localTime(started, false)) {
    if (!folder.empty()) {
        path = folder + "/" + std::string(kFileName);
    }
}

// Missing parents too, 0700 as XDG Base Directory asks.
int TapeStore::Impl::makeFolder() {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    }
    for (auto slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) == 0) {
            ::chmod(part.c_str(), 0700); // whatever the umask
        } else if (errno != EEXIST) {
            return errno;
        }
        if (slash == std::string::npos) {
            return 0;
        }
    }
}

TapeStore::Impl::Where TapeStore::Impl::where() const {
    struct stat now {};
    if (!statPath(path, now)) {
        return errno == ENOENT || errno == ENOTDIR ? Where::Gone : Where::Same;
    }
    return sameFile(now, file) ? Where::Same : Where::Replaced;
}

// Open, and still the file at the path: a database deleted by another
// window's disable() is not written again, one put in its place is opened.
bool TapeStore::Impl::ready(int waitMs) {
    if (disabled || offElsewhere) {
        return false;
    }
    if (db) {
        switch (where()) {
        case Where::Same:
            return true;
        case Where::Gone:
            closeDb();
            offElsewhere = true;
            queue.clear();
            queuedLines = 0;
            queuedBytes = 0;
            scrub = Scrub::None;
            writeProblem.clear();
            return false;
        case Where::Replaced:
            closeDb();
            break;
        }
    }
    return open(waitMs);
}

void TapeStore::Impl::closeDb() {
    st = Statements{};
    db.close();
    walPages = 0;
}

// -wal and -shm left without their database were a deleted tape's: they are
// never read into a new one.
void TapeStore::Impl::removeStale() {
    for (const char* suffix : {"-wal", "-shm"}) {
        const std::string name = path + suffix;
        struct stat st {};
        if (statPath(name, st) && S_ISREG(st.st_mode)) {
            ::unlink(name.c_str());
        }
    }
}

bool TapeStore::Impl::open(int waitMs) {
    if (path.empty() || path[0] != '/') {
        failWrite("there is no home folder to keep them in");
        return false;
    }
    if (const int error = makeFolder(); error != 0) {
        failWrite(folder + " could not be made: " + errnoReason(error));
        return false;
    }
    for (int attempt = 0; attempt < 6; ++attempt) {
        struct stat found {};
        if (!statPath(path, found)) {
            if (errno != ENOENT) {
                failWrite(errnoReason(errno));
                return false;
            }
            removeStale();
            // Made here, 0600 whatever the umask: SQLite gives -wal and -shm its mode.
            const int fd =
                ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd < 0) {
                if (errno == EEXIST) {
                    continue;
                }
                failWrite(errnoReason(errno));
                return false;
            }
            ::fchmod(fd, 0600);
            ::close(fd);
            continue;
        }
        if (!S_ISREG(found.st_mode)) {
            if (!setAside(found, Kind::Foreign)) {
                return false;
            }
            continue;
        }
        // Held open while SQLite opens the path, so that what it opened is
        // known to be this file; closed before SQLite takes any lock, since
        // closing a descriptor drops the process's locks on the file.
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno == EACCES && setAside(found, Kind::Damaged)) {
                continue;
            }
            failWrite(errnoReason(errno));
            return false;
        }
        struct stat opened {};
        ::fstat(fd, &opened);
        int rc = db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX |
                                   SQLITE_OPEN_EXRESCODE);
        struct stat now {};
        const bool same = S_ISREG(opened.st_mode) && statPath(path, now) && sameFile(now, opened);
        ::close(fd);
        if (rc != SQLITE_OK) {
            failWrite(sqlReason(rc));
            return false;
        }
        if (!same) {
            closeDb();
            continue;
        }
        if (!sameFile(file, opened)) {
            run = 0; // this run's row was in another database
        }
        file = opened;
        sql::lib().busy_timeout(db.get(), waitMs);
        // A closing connection then never deletes -wal or -shm by name: they
        // may be a newer database's by then.
        int persist = 1;
        sql::lib().file_control(db.get(), "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
        sql::lib().db_config(db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sql::lib().db_config(db.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        const Kind kind = classify(rc);
        if (kind == Kind::Damaged || kind == Kind::Foreign) {
            closeDb();
            if (!setAside(opened, kind)) {
                return false;
            }
            continue;
        }
        if (kind == Kind::Newer) {
            closeDb();
            failWrite("the tape was written by a newer version of the calculator");
            return false;
        }
        if (kind == Kind::Failed || !configure(kind == Kind::Fresh, rc)) {
            closeDb();
            if (damage(rc) && setAside(opened, Kind::Damaged)) {
                continue;
            }
            if ((rc & 0xff) != SQLITE_BUSY) {
                failWrite(sqlReason(rc));
            }
            return false;
        }
        if (!prepare()) {
            closeDb();
            if (setAside(opened, Kind::Damaged)) {
                continue;
            }
            return false;
        }
        carryDue = true;
        carryOver();
        restartWal();
        return true;
    }
    failWrite("the tape's file kept changing while it was opened");
    return false;
}

TapeStore::Impl::Kind TapeStore::Impl::classify(int& rc) {
    sql::Statement objects = db.prepare("SELECT count(*) FROM sqlite_master", false);
    if (!objects) {
        rc = db.error();
        return damage(rc) ? Kind::Damaged : Kind::Failed;
    }
    rc = objects.step();
    if (rc != SQLITE_ROW) {
        return damage(rc) ? Kind::Damaged : Kind::Failed;
    }
    const std::int64_t count = objects.integer(0);
    objects.reset();
    const std::int64_t id = db.integer("PRAGMA application_id", -1);
    const std::int64_t version = db.integer("PRAGMA user_version", -1);
    if (id == 0 && version == 0 && count == 0) {
        return Kind::Fresh;
    }
    if (id != kApplicationId) {
        return Kind::Foreign;
    }
    if (version > kSchema) {
        return Kind::Newer;
    }
    const std::int64_t seq = db.integer("SELECT max(seq) FROM sqlite_sequence", -1);
    if (version != kSchema || seq < 0 || seq > kIdLimit) {
        return Kind::Damaged;
    }
    return Kind::Ours;
}

bool TapeStore::Impl::configure(bool fresh, int& rc) {
    {
        sql::Statement mode = db.prepare("PRAGMA journal_mode=WAL", false);
        rc = mode ? mode.step() : db.error();
        if (rc != SQLITE_ROW) {
            return false;
        }
        if (mode.text(0) != "wal") {
            rc = SQLITE_BUSY; // another window is making it a WAL database
            return false;
        }
        mode.reset();
    }
    // The WAL is cut back to journal_size_limit when a checkpoint lets it restart.
    rc = db.exec("PRAGMA synchronous=NORMAL; PRAGMA secure_delete=ON; "
                 "PRAGMA wal_autocheckpoint=0; PRAGMA trusted_schema=OFF; "
                 "PRAGMA journal_size_limit=4194304");
    if (rc != SQLITE_OK) {
        return false;
    }
    sql::lib().wal_hook(
        db.get(),
        [](void* self, sqlite3*, const char*, int pages) {
            static_cast<Impl*>(self)->walPages = pages;
            return SQLITE_OK;
        },
        this);
    if (!fresh) {
        return true;
    }
    rc = db.exec("BEGIN IMMEDIATE");
    if (rc != SQLITE_OK) {
        return false;
    }
    // Another window may have made it meanwhile.
    if (db.integer("SELECT count(*) FROM sqlite_master", -1) == 0) {
        rc = db.exec(kSchemaSql);
    }
    if (rc == SQLITE_OK) {
        rc = db.exec("COMMIT");
    }
    if (rc != SQLITE_OK) {
        db.exec("ROLLBACK");
        return false;
    }
    // The header with the application_id goes into the file itself at once:
    // until then it is in the WAL, and another window would not know the
    // file for this program's (its switch-off would leave it).
    sql::lib().wal_checkpoint_v2(db.get(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    return true;
}

bool TapeStore::Impl::prepare() {
    st.begin = db.prepare("BEGIN IMMEDIATE");
    st.commit = db.prepare("COMMIT");
    st.rollback = db.prepare("ROLLBACK");
    st.newRun = db.prepare("INSERT INTO runs(started) VALUES (?1)");
    // Put back when another window's clear or bound took this run's row.
    st.keepRun = db.prepare("INSERT OR IGNORE INTO runs(id, started) VALUES (?1, ?2)");
    st.insert = db.prepare("INSERT INTO lines(run, number, text) VALUES (?1, ?2, ?3)");
    st.cut = db.prepare("DELETE FROM lines WHERE run = ?1 AND number >= ?2");
    st.remove = db.prepare("DELETE FROM lines WHERE run = ?1 AND number = ?2");
    st.removeId = db.prepare("DELETE FROM lines WHERE id = ?1");
    st.clearLines = db.prepare("DELETE FROM lines");
    st.clearRuns = db.prepare("DELETE FROM runs WHERE id <> ?1");
    st.tally = db.prepare("SELECT lines, bytes FROM tally");
    st.oldest = db.prepare("SELECT id, run, length(CAST(text AS BLOB)) FROM lines ORDER BY id");
    st.trimTo = db.prepare("DELETE FROM lines WHERE id <= ?1");
    st.dropRun = db.prepare("DELETE FROM runs WHERE id = ?1 AND id <> ?2 AND NOT EXISTS "
                            "(SELECT 1 FROM lines WHERE run = ?1)");
    st.read = db.prepare("SELECT l.id, l.run, coalesce(r.started, ''), l.text FROM lines l "
                         "LEFT JOIN runs r ON r.id = l.run WHERE l.run <> ?1 ORDER BY l.id");
    const sql::Statement* all[] = {&st.begin,    &st.commit,     &st.rollback,  &st.newRun,
                                   &st.keepRun,  &st.insert,     &st.cut,       &st.remove,
                                   &st.removeId, &st.clearLines, &st.clearRuns, &st.tally,
                                   &st.oldest,   &st.trimTo,     &st.dropRun,   &st.read};
    return std::all_of(std::begin(all), std::end(all), [](const auto* s) { return bool(*s); });
}

// Moves what is at the path aside under a dated name in the same folder,
// never following or deleting it, with its -wal and -shm; a damaged tape's
// lines are read from there into the new database.
bool TapeStore::Impl::setAside(const struct stat& found, Kind kind) {
    if (++depth > 3) {
        failWrite("the tape's file could not be set aside");
        return false;
    }
    const std::string stamp = localTime(std::time(nullptr), true);
    std::string aside;
    for (int n = 1;; ++n) {
        aside = path + (kind == Kind::Damaged ? ".damaged-" : ".set-aside-") + stamp;
        if (n > 1) {
            aside += '-';
            appendNumber(aside, static_cast<std::uint64_t>(n));
        }
        if (moveTo(path, aside)) {
            break;
        }
        if (errno != EEXIST || n >= 100) {
            failWrite("the tape's file, which is damaged or not the calculator's, could not be "
                      "moved aside: " +
                      errnoReason(errno));
            return false;
        }
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        moveTo(path + suffix, aside + suffix);
    }
    std::string what;
    if (S_ISLNK(found.st_mode)) {
        what = "was a symbolic link, which is not followed";
    } else if (S_ISDIR(found.st_mode)) {
        what = "was a folder";
    } else if (!S_ISREG(found.st_mode)) {
        what = "was not a file";
    } else if (kind == Kind::Foreign) {
        what = "was not the calculator's tape";
    } else {
        what = "was damaged";
    }
    std::string text = path + " " + what + ", and was moved to " + aside + ".";
    if (kind == Kind::Damaged && S_ISREG(found.st_mode)) {
        const std::size_t before = salvaged.runs.size();
        salvage(aside);
        std::size_t lines = 0;
        for (std::size_t i = before; i < salvaged.runs.size(); ++i) {
            lines += salvaged.runs[i].lines.size();
        }
        if (lines > 0) {
            text += " The lines that could be read from it were kept.";
        }
    }
    notice(std::move(text));
    return true;
}

// Best effort: the lines table row by row, skipping past damaged rows.
void TapeStore::Impl::salvage(const std::string& aside) {
    sql::Database old;
    if (old.open(aside, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX) !=
        SQLITE_OK) {
        return;
    }
    // Read-only: writable_schema only makes SQLite read a file shorter than
    // its header says instead of refusing it.
    sql::lib().db_config(old.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    old.exec("PRAGMA writable_schema=ON");
    if (old.integer("PRAGMA application_id", -1) != kApplicationId) {
        return;
    }
    std::map<std::int64_t, std::string> started;
    if (sql::Statement runs = old.prepare("SELECT id, started FROM runs", false)) {
        while (runs.step() == SQLITE_ROW && started.size() < kOldRuns) {
            started.emplace(runs.integer(0), runs.text(1));
        }
    }
    sql::Statement rows =
        old.prepare("SELECT id, run, text FROM lines WHERE id > ?1 ORDER BY id", false);
    if (!rows) {
        return;
    }
    std::deque<std::tuple<std::int64_t, std::int64_t, std::string>> found;
    std::uint64_t bytes = 0;
    std::int64_t after = INT64_MIN;
    for (int skips = 0; skips < 64;) {
        rows.bind(1, after);
        int rc;
        while ((rc = rows.step()) == SQLITE_ROW) {
            after = rows.integer(0);
            found.emplace_back(after, rows.integer(1), rows.text(2));
            bytes += std::get<2>(found.back()).size();
            while (found.size() > kLines || (bytes > kBytes && found.size() > 1)) {
                bytes -= std::get<2>(found.front()).size();
                found.pop_front();
            }
        }
        if (rc == SQLITE_DONE || after == INT64_MAX) {
            break;
        }
        // A damaged page: try further on, further each time.
        ++skips;
        after = after > INT64_MAX - (std::int64_t{1} << skips) ? INT64_MAX
                                                               : after + (std::int64_t{1} << skips);
    }
    std::map<std::int64_t, std::size_t> index;
    for (auto& [id, runId, text] : found) {
        auto [it, added] = index.try_emplace(runId, salvaged.runs.size());
        if (added) {
            const auto s = started.find(runId);
            salvaged.runs.push_back({s != started.end() ? s->second : std::string(), {}});
        }
        auto& lines = salvaged.runs[it->second].lines;
        lines.emplace_back(lines.size(), std::move(text));
    }
}

bool TapeStore::Impl::readOldJournals(Carried& carried, std::vector<std::string>& done,
                                      std::vector<int>& locks) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return false;
    }
    std::vector<std::string> journals;
    bool kept = false;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        std::string_view run;
        if (name == kOldKept) {
            kept = true;
        } else if (oldJournal(name, run) && journals.size() < kOldFiles) {
            journals.emplace_back(name);
        }
    }
    ::closedir(dir);
    if (!kept && journals.empty()) {
        return false;
    }
    // Held while an old version folds its journals into kept.tape.
    const std::string lockName = folder + "/" + std::string(kOldLock);
    const int lock = ::open(lockName.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (lock >= 0) {
        locks.push_back(lock);
        if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
            return false;
        }
    }
    std::sort(journals.begin(), journals.end());
    if (kept) {
        journals.insert(journals.begin(), std::string(kOldKept));
    }
    OldTape tape;
    std::uint64_t budget = kOldBytes;
    for (const std::string& name : journals) {
        const std::string full = folder + "/" + name;
        const int fd = ::open(full.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        locks.push_back(fd);
        // An old version still running holds its journal's lock.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            continue;
        }
        std::string_view run;
        oldJournal(name, run);
        const auto read = tape.read(fd, name == kOldKept ? std::string_view() : run, budget);
        if (read == OldTape::Read::Whole) {
            done.push_back(full);
        } else if (read == OldTape::Read::Partly) {
            // What was not read is not lost: the file stays, set aside.
            const std::string aside = full + ".too-large-" + localTime(std::time(nullptr), true);
            if (moveTo(full, aside)) {
                notice(full +
                       " was too large to read whole; its first lines were kept, and it "
                       "was moved to " +
                       aside + ".");
            }
        }
    }
    carried = tape.carried();
    return true;
}

// Lines read from a damaged database, and the old journals' lines, go in as
// earlier runs; the journals are removed once their lines are committed.
void TapeStore::Impl::carryOver() {
    if (!carryDue || !db) {
        return;
    }
    Carried old;
    std::vector<std::string> done;
    std::vector<int> locks;
    const bool journals = readOldJournals(old, done, locks);
    auto unlock = [&] {
        for (const int fd : locks) {
            ::close(fd);
        }
    };
    if (salvaged.empty() && old.empty() && done.empty()) {
        carryDue = false;
        unlock();
        return;
    }
    int rc = st.begin.run();
    if (rc == SQLITE_DONE) {
        rc = insertCarried(old);
    }
    if (rc == SQLITE_DONE) {
        rc = insertCarried(salvaged);
    }
    if (rc == SQLITE_DONE) {
        rc = trim(run);
    }
    if (rc == SQLITE_DONE) {
        rc = st.commit.run();
    }
    if (rc != SQLITE_DONE) {
        st.rollback.run();
        unlock();
        if ((rc & 0xff) != SQLITE_BUSY) {
            notice("Earlier lines could not be carried over into " + path + ": " + sqlReason(rc) +
                   ".");
        }
        return;
    }
    for (const std::string& name : done) {
        ::unlink(name.c_str());
    }
    if (journals) {
        struct stat lock {};
        const std::string lockName = folder + "/" + std::string(kOldLock);
        if (statPath(lockName, lock) && S_ISREG(lock.st_mode) && lock.st_size == 0) {
            ::unlink(lockName.c_str());
        }
    }
    unlock();
    salvaged = {};
    carryDue = false;
}

int TapeStore::Impl::insertCarried(const Carried& carried) {
    for (const Carried::Run& from : carried.runs) {
        int rc = st.newRun.bind(1, from.started).run();
        if (rc != SQLITE_DONE) {
            return rc;
        }
        const std::int64_t id = sql::lib().last_insert_rowid(db.get());
        for (const auto& [number, text] : from.lines) {
            rc = st.insert.bind(1, id).bind(2, stored(number)).bind(3, text).run();
            if (rc != SQLITE_DONE) {
                return rc;
            }
        }
    }
    return SQLITE_DONE;
}

// Past either bound the oldest lines go, of any run, but never the newest:
// a line of any length is kept.
int TapeStore::Impl::trim(std::int64_t own) {
    int rc = st.tally.step();
    if (rc != SQLITE_ROW) {
        return rc;
    }
    std::int64_t lines = st.tally.integer(0) - static_cast<std::int64_t>(kLines);
    std::int64_t bytes = st.tally.integer(1) - static_cast<std::int64_t>(kBytes);
    st.tally.reset();
    if (lines <= 0 && bytes <= 0) {
        return SQLITE_DONE;
    }
    std::int64_t last = INT64_MIN;
    std::set<std::int64_t> runs;
    while ((lines > 0 || bytes > 0) && (rc = st.oldest.step()) == SQLITE_ROW) {
        const std::int64_t id = st.oldest.integer(0);
        runs.insert(st.oldest.integer(1));
        --lines;
        bytes -= st.oldest.integer(2);
        last = id;
        if (lines <= 0 && bytes <= 0) {
            break;
        }
    }
    if (rc == SQLITE_ROW) {
        // The walk stopped early; the newest line is kept below.
        st.oldest.reset();
    } else if (rc != SQLITE_DONE) {
        return rc;
    }
    const std::int64_t newest = db.integer("SELECT max(id) FROM lines", INT64_MIN);
    if (last == INT64_MIN || newest == INT64_MIN) {
        return SQLITE_DONE;
    }
    last = std::min(last, newest - 1);
    rc = st.trimTo.bind(1, last).run();
    for (auto r = runs.begin(); rc == SQLITE_DONE && r != runs.end(); ++r) {
        rc = st.dropRun.bind(1, *r).bind(2, own).run();
    }
    return rc;
}

void TapeStore::Impl::enqueue(Op op) {
    if (disabled || offElsewhere) {
        return;
    }
    if (op.kind == Op::Kind::Clear) {
        // Whatever waited is gone with everything else.
        queue.clear();
        queuedLines = 0;
        queuedBytes = 0;
    }
    if (op.kind == Op::Kind::Add) {
        ++queuedLines;
        queuedBytes += op.text.size();
    }
    queue.push_back(std::move(op));
    bool dropped = false;
    while ((queuedLines > kQueueLines || queuedBytes > kQueueBytes) && queuedLines > 1) {
        const auto it = std::find_if(queue.begin(), queue.end(),
                                     [](const Op& o) { return o.kind == Op::Kind::Add; });
        --queuedLines;
        queuedBytes -= it->text.size();
        queue.erase(it);
        dropped = true;
    }
    if (dropped) {
        notice("Some lines of this run were not kept: the tape could not be written for too "
               "long.");
    }
}

int TapeStore::Impl::apply(std::int64_t& own, std::vector<std::size_t>& tooLong) {
    const bool adds = std::any_of(queue.begin(), queue.end(),
                                  [](const Op& op) { return op.kind == Op::Kind::Add; });
    int rc = SQLITE_DONE;
    if (adds && own == 0) {
        rc = st.newRun.bind(1, startedText).run();
        own = sql::lib().last_insert_rowid(db.get());
    } else if (adds) {
        rc = st.keepRun.bind(1, own).bind(2, startedText).run();
    }
    for (std::size_t i = 0; rc == SQLITE_DONE && i < queue.size(); ++i) {
        const Op& op = queue[i];
        switch (op.kind) {
        case Op::Kind::Add:
            rc = st.insert.bind(1, own).bind(2, stored(op.value)).bind(3, op.text).run();
            if ((rc & 0xff) == SQLITE_TOOBIG) {
                tooLong.push_back(i);
                rc = SQLITE_DONE;
            }
            break;
        case Op::Kind::Cut:
            rc = st.cut.bind(1, own).bind(2, stored(op.value)).run();
            break;
        case Op::Kind::Remove:
            rc = st.remove.bind(1, own).bind(2, stored(op.value)).run();
            break;
        case Op::Kind::RemoveEarlier:
            rc = st.removeId.bind(1, static_cast<std::int64_t>(op.value)).run();
            break;
        case Op::Kind::Clear:
            rc = st.clearLines.run();
            if (rc == SQLITE_DONE) {
                rc = st.clearRuns.bind(1, own).run();
            }
            break;
        }
    }
    return rc == SQLITE_DONE ? trim(own) : rc;
}

// Writes what waits in one transaction, without waiting for the lock unless
// told to.
void TapeStore::Impl::write(int waitMs) {
    if (queue.empty() || !ready(waitMs)) {
        return;
    }
    if (sql::lib().db_readonly(db.get(), "main") == 1) {
        // Opened read-only: reopened next time, when it may be writable again.
        closeDb();
        failWrite(sqlReason(SQLITE_READONLY));
        return;
    }
    sql::lib().busy_timeout(db.get(), waitMs);
    int rc = st.begin.run();
    std::int64_t own = run;
    std::vector<std::size_t> tooLong;
    if (rc == SQLITE_DONE) {
        rc = apply(own, tooLong);
        if (rc == SQLITE_DONE) {
            rc = st.commit.run();
        }
        if (rc != SQLITE_DONE) {
            st.rollback.run();
        }
    }
    sql::lib().busy_timeout(db.get(), 0);
    if (rc != SQLITE_DONE) {
        if (damage(rc)) {
            // Set aside; what waits goes into the new database.
            const struct stat found = file;
            closeDb();
            if (setAside(found, Kind::Damaged) && ready(waitMs)) {
                write(waitMs);
            }
            return;
        }
        const bool quiet = (rc & 0xff) == SQLITE_BUSY &&
                           std::none_of(queue.begin(), queue.end(), [](const Op& op) {
                               return op.kind != Op::Kind::Add && op.kind != Op::Kind::Cut;
                           });
        if (!quiet) {
            failWrite(sqlReason(rc, sql::lib().system_errno(db.get())));
        }
        return;
    }
    run = own;
    for (const Op& op : queue) {
        if (op.kind == Op::Kind::Clear) {
            scrub = Scrub::Clear;
        } else if ((op.kind == Op::Kind::Remove || op.kind == Op::Kind::RemoveEarlier) &&
                   scrub == Scrub::None) {
            scrub = Scrub::Remove;
        }
    }
    queue.clear();
    queuedLines = 0;
    queuedBytes = 0;
    writeProblem.clear();
    if (!tooLong.empty()) {
        notice("A line was too long to keep.");
    }
}

bool TapeStore::Impl::checkpoint(int mode, int waitMs) {
    if (!ready(waitMs)) {
        return false;
    }
    sql::lib().busy_timeout(db.get(), waitMs);
    const int rc = sql::lib().wal_checkpoint_v2(db.get(), "main", mode, nullptr, nullptr);
    sql::lib().busy_timeout(db.get(), 0);
    if (rc != SQLITE_OK) {
        if (scrub != Scrub::None) {
            failWrite(sqlReason(rc));
        }
        return false;
    }
    walPages = 0;
    return true;
}

// The first frame written after a checkpoint starts the WAL over, and SQLite
// syncs its new header then: done here, so that it is not on the add path.
void TapeStore::Impl::restartWal() {
    if (db && db.exec("BEGIN IMMEDIATE") == SQLITE_OK) {
        if (db.exec("UPDATE tally SET one = one") != SQLITE_OK || db.exec("COMMIT") != SQLITE_OK) {
            db.exec("ROLLBACK");
        }
    }
}

// Deleted text leaves the WAL (secure_delete has zeroed it in the pages);
// otherwise a WAL grown large is checkpointed.
void TapeStore::Impl::settle(int waitMs) {
    if (!queue.empty() || !db) {
        return;
    }
    if (scrub != Scrub::None) {
        if (checkpoint(SQLITE_CHECKPOINT_TRUNCATE, waitMs)) {
            scrub = Scrub::None;
            writeProblem.clear();
            restartWal();
        }
    } else if (walPages > kCheckpointPages && checkpoint(SQLITE_CHECKPOINT_PASSIVE, 0)) {
        restartWal();
    }
}

std::string TapeStore::Impl::subject() const {
    bool clears = scrub == Scrub::Clear;
    bool removes = scrub == Scrub::Remove;
    for (const Op& op : queue) {
        clears |= op.kind == Op::Kind::Clear;
        removes |= op.kind == Op::Kind::Remove || op.kind == Op::Kind::RemoveEarlier;
    }
    if (clears) {
        return "The clear has not reached the disk yet";
    }
    if (removes) {
        return "A deleted line is not deleted from the disk yet";
    }
    return "This run's last lines are not kept yet";
}

void TapeStore::Impl::failWrite(const std::string& reason) {
    if (queue.empty() && scrub == Scrub::None) {
        return; // nothing waits: a later change will say so if it fails too
    }
    writeProblem = subject() + ": " + reason + ".";
}

void TapeStore::Impl::notice(std::string text) {
    if (notices.size() < 8 && std::find(notices.begin(), notices.end(), text) == notices.end()) {
        notices.push_back(std::move(text));
    }
}

std::string TapeStore::Impl::problem() const {
    std::string out;
    for (const std::string& text : notices) {
        out += out.empty() ? "" : "\n";
        out += text;
    }
    if (!writeProblem.empty()) {
        out += out.empty() ? "" : "\n";
        out += writeProblem;
    }
    return out;
}

void TapeStore::Impl::changed() {
    depth = 0;
    std::string now = problem();
    if (now != lastProblem) {
        lastProblem = std::move(now);
        ++serial;
    }
}

TapeStore::TapeStore(std::string folder, std::time_t started)
    : impl_(std::make_unique<Impl>(std::move(folder), started)) {}

TapeStore::~TapeStore() {
    close();
}

void TapeStore::add(std::span<const Line> lines) {
    impl_->guard([&] {
        for (const Line& line : lines) {
            impl_->enqueue({Op::Kind::Add, line.number, std::string(line.text)});
        }
        impl_->write(0);
    });
}

void TapeStore::cut(std::uint64_t from) {
    impl_->guard([&] {
        impl_->enqueue({Op::Kind::Cut, from, {}});
        impl_->write(0);
    });
}

void TapeStore::replace(std::uint64_t from, std::span<const Line> lines) {
    impl_->guard([&] {
        impl_->enqueue({Op::Kind::Cut, from, {}});
        for (const Line& line : lines) {
            impl_->enqueue({Op::Kind::Add, line.number, std::string(line.text)});
        }
        impl_->write(0);
    });
}

void TapeStore::remove(std::uint64_t number) {
    impl_->guard([&] {
        impl_->enqueue({Op::Kind::Remove, number, {}});
        impl_->write(0);
    });
}

void TapeStore::removeEarlier(std::int64_t id) {
    impl_->guard([&] {
        impl_->enqueue({Op::Kind::RemoveEarlier, static_cast<std::uint64_t>(id), {}});
        impl_->write(0);
    });
}

void TapeStore::clear() {
    impl_->guard([&] {
        impl_->enqueue({Op::Kind::Clear, 0, {}});
        impl_->write(0);
        impl_->settle(0);
    });
}

Earlier TapeStore::readEarlier() {
    Earlier earlier;
    impl_->guard([&] {
        Impl& s = *impl_;
        s.write(0);
        // Changes that still wait are shown as made.
        std::set<std::int64_t> removed;
        for (const Op& op : s.queue) {
            if (op.kind == Op::Kind::Clear) {
                return;
            }
            if (op.kind == Op::Kind::RemoveEarlier) {
                removed.insert(static_cast<std::int64_t>(op.value));
            }
        }
        // A second time after a damaged database was set aside.
        for (int attempt = 0; attempt < 2 && s.ready(kReadWaitMs); ++attempt) {
            s.carryOver();
            sql::lib().busy_timeout(s.db.get(), kReadWaitMs);
            earlier = {};
            std::map<std::int64_t, std::size_t> runs;
            s.st.read.bind(1, s.run);
            int rc;
            while ((rc = s.st.read.step()) == SQLITE_ROW) {
                const std::int64_t id = s.st.read.integer(0);
                if (removed.count(id) != 0) {
                    continue;
                }
                const std::int64_t run = s.st.read.integer(1);
                const auto [it, added] = runs.try_emplace(run, earlier.runs.size());
                if (added) {
                    earlier.runs.push_back({run, std::string(s.st.read.text(2))});
                }
                earlier.lines.push_back({it->second, id, std::string(s.st.read.text(3))});
            }
            s.st.read.reset();
            sql::lib().busy_timeout(s.db.get(), 0);
            if (rc == SQLITE_DONE) {
                return;
            }
            earlier = {};
            if (!damage(rc)) {
                s.notice("Earlier lines could not be read: " + sqlReason(rc) + ".");
                return;
            }
            const struct stat found = s.file;
            s.closeDb();
            if (!s.setAside(found, Impl::Kind::Damaged)) {
                return;
            }
        }
    });
    return earlier;
}

bool TapeStore::pending() const noexcept {
    return !impl_->queue.empty() || impl_->scrub != Impl::Scrub::None;
}

void TapeStore::flush() {
    impl_->guard([&] {
        impl_->write(0);
        if (impl_->db) {
            impl_->carryOver();
        }
        impl_->settle(0);
    });
}

void TapeStore::close() {
    impl_->guard([&] {
        Impl& s = *impl_;
        s.write(kCloseWaitMs);
        if (s.db) {
            s.carryOver();
            s.settle(kCloseWaitMs);
            // Truncated when no other window reads, so that a closed tape is one small file.
            if (s.scrub == Impl::Scrub::None && s.queue.empty() &&
                !s.checkpoint(SQLITE_CHECKPOINT_TRUNCATE, 0)) {
                s.checkpoint(SQLITE_CHECKPOINT_PASSIVE, 0);
            }
        }
        if (!s.queue.empty() && s.writeProblem.empty()) {
            s.failWrite("another window held the tape too long");
        }
        s.closeDb();
    });
}

void TapeStore::disable() {
    impl_->guard([&] {
        Impl& s = *impl_;
        s.queue.clear();
        s.queuedLines = 0;
        s.queuedBytes = 0;
        s.scrub = Impl::Scrub::None;
        s.writeProblem.clear();
        s.salvaged = {};
        s.disabled = true;
        if (s.path.empty()) {
            return;
        }
        // Only this tape's files: not a newer database that another window
        // made after this one's was deleted.
        struct stat db {};
        bool ours = false;
        if (s.db) {
            const auto where = s.where();
            s.closeDb();
            ours =
                where == Impl::Where::Same || (where == Impl::Where::Replaced && looksOurs(s.path));
        } else {
            ours = looksOurs(s.path);
        }
        if (!ours || !statPath(s.path, db)) {
            return;
        }
        struct stat wal {};
        struct stat shm {};
        const bool hasWal = statPath(s.path + "-wal", wal) && S_ISREG(wal.st_mode);
        const bool hasShm = statPath(s.path + "-shm", shm) && S_ISREG(shm.st_mode);
        ::unlink(s.path.c_str());
        // A database made meanwhile deletes a -wal left without one, and has its own.
        struct stat now {};
        if (hasWal && statPath(s.path + "-wal", now) && sameFile(now, wal)) {
            ::unlink((s.path + "-wal").c_str());
        }
        if (hasShm && statPath(s.path + "-shm", now) && sameFile(now, shm)) {
            ::unlink((s.path + "-shm").c_str());
        }
    });
}

void TapeStore::enable() {
    impl_->guard([&] {
        impl_->disabled = false;
        impl_->offElsewhere = false;
    });
}

bool TapeStore::switchedOffElsewhere() const noexcept {
    return impl_->offElsewhere;
}

std::string TapeStore::problem() const {
    try {
        return impl_->problem();
    } catch (const std::exception&) {
        return "There was not enough memory.";
    }
}

std::uint64_t TapeStore::problemSerial() const noexcept {
    return impl_->serial;
}

std::string TapeStore::startedText(std::time_t started) {
    return localTime(started, false);
}

std::string TapeStore::defaultFolder() {
    const std::string state = xdgFolder("XDG_STATE_HOME", ".local/state");
    return state.empty() ? state : state + "/quillo";
}

} // namespace quillo
