// SPDX-License-Identifier: MIT
// Opening the tape: what is at its path told apart, a new tape made, the
// earlier runs read, deleted text taken out of the WAL.
#include "tapefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <system_error>

// The database: `runs` (id, started), `lines` (id, run, number, size, text,
// note) and `keeping`, one row: whether the tape is switched off, and how
// many clears there were. Ids are AUTOINCREMENT, so that an id read by one
// window never names a newer line.

namespace quillo {
namespace {

constexpr std::int64_t kApplicationId = 0x51756c6f;
constexpr std::int64_t kSchema = 2;

// Every later version reads this schema: a column is added to it in place.
constexpr const char* kSchemaSql = R"(
CREATE TABLE IF NOT EXISTS runs(id INTEGER PRIMARY KEY AUTOINCREMENT, started TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS lines(id INTEGER PRIMARY KEY AUTOINCREMENT, run INTEGER NOT NULL,
    number INTEGER NOT NULL, size INTEGER NOT NULL, text TEXT NOT NULL,
    note TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS lines_by_number ON lines(run, number);
CREATE TABLE IF NOT EXISTS keeping(off INTEGER NOT NULL, clears INTEGER NOT NULL);
INSERT INTO keeping SELECT 0, 0 WHERE NOT EXISTS (SELECT 1 FROM keeping);
)";
static_assert(kApplicationId == 1366649967);

// What a file is, read in one statement.
constexpr const char* kWhat =
    "SELECT (SELECT count(*) FROM sqlite_schema), (SELECT application_id FROM "
    "pragma_application_id), (SELECT user_version FROM pragma_user_version)";

// What is at `path`, looked at without following a link or taking SQLite's
// locks (an O_PATH descriptor's close drops none). A plain file of its own
// is made private when found wider; anything else gets its words.
struct Found {
    int error = 0;             // ENOENT when there is none
    const char* odd = nullptr; // why it is set aside
    off_t size = 0;
};
Found look(const std::string& path) {
    const int fd = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const int error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        return {error};
    }
    ::close(fd);
    if (S_ISLNK(st.st_mode)) {
        return {0, "was a symbolic link, which is not followed"};
    }
    if (S_ISDIR(st.st_mode)) {
        return {0, "was a folder"};
    }
    if (!S_ISREG(st.st_mode)) {
        return {0, "was not a file"};
    }
    if (st.st_nlink > 1) {
        return {0, "was a hard link, which is not written through"};
    }
    if ((st.st_mode & 07177) != 0 && st.st_uid == ::geteuid()) {
        // Rare (restored from a backup): a real descriptor, for fchmod.
        const int rw = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (rw >= 0) {
            ::fchmod(rw, 0600);
            ::close(rw);
        }
    }
    return {0, nullptr, st.st_size};
}

// The folder and missing parents, 0700; the folder itself made private again.
int makeFolder(const std::string& folder) {
    for (auto slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        if (::mkdir(folder.substr(0, slash).c_str(), 0700) == 0) {
            ::chmod(folder.substr(0, slash).c_str(), 0700); // whatever the umask
        } else if (errno != EEXIST) {
            return errno;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const int error = errno;
        return fd >= 0 ? (::close(fd), error) : error;
    }
    if ((st.st_mode & 077) != 0 && st.st_uid == ::geteuid()) {
        ::fchmod(fd, 0700);
    }
    ::close(fd);
    return 0;
}

// A path in a file: URI, which reads ?, # and % as its own.
std::string uri(const std::string& path, const char* query) {
    std::string out = "file:";
    for (const char c : path) {
        out += c == '?' ? "%3f" : c == '#' ? "%23" : c == '%' ? "%25" : std::string(1, c);
    }
    return out + "?" + query;
}

} // namespace

std::string errnoReason(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return "the disk is full";
    case EROFS:
        return "the disk is read-only";
    case EACCES:
    case EPERM:
        return "you are not allowed to read or write it (permission denied)";
    default:
        return std::generic_category().message(error);
    }
}

bool damaged(int rc) {
    return (rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB;
}

bool busy(int rc) {
    return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
}

std::string sqlReason(int rc, int error) {
    if (error != 0 && error != ENOENT &&
        ((rc & 0xff) == SQLITE_IOERR || (rc & 0xff) == SQLITE_CANTOPEN ||
         (rc & 0xff) == SQLITE_READONLY)) {
        return errnoReason(error);
    }
    switch (rc & 0xff) {
    case SQLITE_FULL:
        return "the disk is full";
    case SQLITE_READONLY:
    case SQLITE_PERM:
        return "the tape's file or folder is read-only";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "another window or program held the tape too long";
    case SQLITE_NOMEM:
        return "there was not enough memory";
    case SQLITE_INTERRUPT:
        return "the exit wait ran out";
    default:
        return sql::errorString(rc);
    }
}

TapeFile::TapeFile(std::string folder, const std::atomic<Clock::rep>* exitBy)
    : folder_(std::move(folder)), exitBy_(exitBy) {
    if (!folder_.empty()) {
        path_ = folder_ + "/" + std::string(TapeStore::kFileName);
    }
}

TapeFile::Outcome TapeFile::open(bool make) {
    if (db_) {
        // Set aside by another window: the tape at the path is opened anew.
        int moved = 0;
        sql::lib().file_control(db_.get(), "main", SQLITE_FCNTL_HAS_MOVED, &moved);
        if (moved == 0) {
            waitFor(std::chrono::seconds(1));
            return Outcome::Done;
        }
        db_.close();
    }
    if (path_.empty() || sql::library() == nullptr) {
        notice(std::string("The tape is not kept: ") +
               (path_.empty() ? "there is no home folder to keep it in."
                              : "the SQLite library (libsqlite3.so.0) could not be loaded."));
        return Outcome::Failed;
    }
    if (const int error = makeFolder(folder_); error != 0) {
        reason = folder_ + " cannot be used: " + errnoReason(error);
        return Outcome::Retry;
    }
    // Again when what was at the path was set aside meanwhile.
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (const auto outcome = openOnce(make)) {
            for (const std::string& aside :
                 *outcome == Outcome::Done ? std::exchange(damaged_, {}) : decltype(damaged_)()) {
                carryOver(aside);
            }
            return *outcome;
        }
    }
    reason = "the tape's file kept changing while it was opened";
    return Outcome::Retry;
}

std::optional<TapeFile::Outcome> TapeFile::openOnce(bool make) {
    // SQLite refuses a link at the database, but would follow one at -wal or -shm.
    for (const char* suffix : {"-wal", "-shm", ""}) {
        const Found found = look(path_ + suffix);
        if (found.odd != nullptr) {
            return setAside(path_ + suffix, found.odd) ? std::nullopt
                                                       : std::optional(Outcome::Retry);
        }
        if (*suffix != '\0' || found.error == 0) {
            continue;
        }
        if (found.error != ENOENT) {
            reason = path_ + ": " + errnoReason(found.error);
            return Outcome::Retry;
        }
        if (!make) {
            return Outcome::Off;
        }
        // 0600 whatever the umask: SQLite gives -wal and -shm the database's mode.
        const int fd =
            ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) {
            reason = path_ + " cannot be made: " + errnoReason(errno);
            return Outcome::Retry;
        }
        if (fd >= 0) {
            ::fchmod(fd, 0600);
            ::close(fd);
        }
    }
    // Another program's file, or another version's, is told apart
    // read-only and without its WAL: never written to.
    sql::Database probe;
    if (probe.open(uri(path_, "immutable=1"),
                   SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW) == SQLITE_OK) {
        sql::Statement what = probe.prepare(kWhat);
        const int rc = what ? what.step() : probe.error();
        if ((rc & 0xff) == SQLITE_NOTADB) {
            probe.close();
            return setAside(path_, "was damaged") ? std::nullopt : std::optional(Outcome::Retry);
        }
        if (rc == SQLITE_ROW && what.integer(0) > 0 &&
            (what.integer(1) != kApplicationId || what.integer(2) != kSchema)) {
            const bool ours = what.integer(1) == kApplicationId;
            what.reset();
            probe.close();
            return setAside(path_, ours ? "was written by another version of the calculator"
                                        : "was not the calculator's tape")
                       ? std::nullopt
                       : std::optional(Outcome::Retry);
        }
    }
    probe.close();
    int rc = db_.open(path_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX);
    if (rc == SQLITE_OK && sql::lib().db_readonly(db_.get(), "main") == 1) {
        rc = SQLITE_READONLY; // a read-only disk, or a file the user may only read
    }
    if (rc == SQLITE_OK) {
        sql::lib().db_config(db_.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sql::lib().db_config(db_.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        // A statement still running at the exit deadline ends there.
        sql::lib().progress_handler(
            db_.get(), 1000,
            [](void* exitBy) -> int {
                const auto by = static_cast<const std::atomic<Clock::rep>*>(exitBy)->load();
                return by != 0 && Clock::now().time_since_epoch().count() >= by ? 1 : 0;
            },
            const_cast<std::atomic<Clock::rep>*>(exitBy_));
        waitFor(std::chrono::seconds(1));
        rc = db_.exec("PRAGMA secure_delete=ON");
    }
    if (rc == SQLITE_OK) {
        // Damage found now, not by a query halfway through a change.
        sql::Statement check = db_.prepare("PRAGMA quick_check(1)");
        rc = !check ? db_.error() : check.step();
        if (rc == SQLITE_ROW) {
            rc = check.text(0) == "ok" ? SQLITE_OK : SQLITE_CORRUPT;
            check.reset();
        }
    }
    if (rc == SQLITE_OK) {
        if (const auto told = tellApart(); told || !db_) {
            return told;
        }
        // The tape is made in rollback mode, so that a reader without its
        // WAL sees its header: WAL from here on.
        rc = db_.exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL");
    }
    if (rc != SQLITE_OK) {
        const int error = db_.systemErrno();
        db_.close();
        if (damaged(rc)) {
            return setAside(path_, "was damaged") ? std::nullopt : std::optional(Outcome::Retry);
        }
        reason = sqlReason(rc, error);
        return busy(rc) ? Outcome::Busy : Outcome::Retry;
    }
    // Deleted text a reader held back at the end of an earlier run goes
    // first, when no reader holds it now.
    waitFor(std::chrono::milliseconds(0));
    sql::lib().wal_checkpoint_v2(db_.get(), "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    waitFor(std::chrono::seconds(1));
    return Outcome::Done;
}

// What the file is, and the schema made or brought up to date, in one
// transaction: busy is never taken for foreign or damaged. Nothing when the
// tape is ready; closed when it went aside.
std::optional<TapeFile::Outcome> TapeFile::tellApart() {
    int rc = db_.exec("BEGIN IMMEDIATE");
    sql::Statement what = db_.prepare(kWhat);
    rc = rc != SQLITE_OK ? rc : what ? what.step() : db_.error();
    const bool empty = rc == SQLITE_ROW && what.integer(0) == 0;
    if (rc == SQLITE_ROW && !empty &&
        (what.integer(1) != kApplicationId || what.integer(2) != kSchema)) {
        what.reset();
        db_.exec("ROLLBACK");
        db_.close();
        return setAside(path_, "was not the calculator's tape") ? std::nullopt
                                                                : std::optional(Outcome::Retry);
    }
    what.reset();
    rc = rc == SQLITE_ROW ? db_.exec(kSchemaSql) : rc;
    if (rc == SQLITE_OK && empty) {
        rc = db_.exec("PRAGMA application_id = 1366649967; PRAGMA user_version = 2");
    }
    sql::Statement note =
        db_.prepare("SELECT 1 FROM pragma_table_info('lines') WHERE name = 'note'");
    if (rc == SQLITE_OK && (rc = note ? note.step() : db_.error()) == SQLITE_DONE) {
        rc = db_.exec("ALTER TABLE lines ADD COLUMN note TEXT NOT NULL DEFAULT ''");
    }
    note.reset();
    rc = rc == SQLITE_ROW || rc == SQLITE_OK ? db_.exec("COMMIT") : rc;
    if (rc != SQLITE_OK) {
        const int error = db_.systemErrno();
        db_.exec("ROLLBACK");
        db_.close();
        if (damaged(rc)) {
            return setAside(path_, "was damaged") ? std::nullopt : std::optional(Outcome::Retry);
        }
        reason = sqlReason(rc, error);
        return busy(rc) ? Outcome::Busy : Outcome::Retry;
    }
    return std::nullopt;
}

bool TapeFile::setAsideDamaged() {
    db_.close();
    return setAside(path_, "was damaged");
}

void TapeFile::waitFor(std::chrono::milliseconds wait) {
    if (const auto by = exitBy_->load(); by != 0) {
        wait = std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(
                              Clock::duration(by) - Clock::now().time_since_epoch()),
                          std::chrono::milliseconds(0), wait);
    }
    if (db_) {
        sql::lib().busy_timeout(db_.get(), static_cast<int>(wait.count()));
    }
}

TapeFile::Outcome TapeFile::read(std::int64_t run, Earlier& out) {
    out = {};
    Outcome outcome = open();
    sql::Database readOnly;
    sql::Database* db = &db_;
    if (outcome == Outcome::Retry) {
        // A read-only folder or disk: the lines are shown all the same, the
        // WAL read when it is there, else the file alone.
        for (const char* query : {"mode=ro", "immutable=1"}) {
            if (readOnly.open(uri(path_, query), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI |
                                                     SQLITE_OPEN_NOFOLLOW) == SQLITE_OK &&
                readOnly.exec("SELECT 1 FROM lines LIMIT 1") == SQLITE_OK) {
                db = &readOnly;
                outcome = Outcome::Done;
                notice("The tape can only be read: " + reason +
                       ". Its earlier lines are shown; "
                       "this run's are kept once it can be written.");
                break;
            }
        }
    }
    if (outcome != Outcome::Done) {
        if (outcome == Outcome::Busy || outcome == Outcome::Retry) {
            notice("The earlier runs' lines could not be read: " + reason + ".");
        }
        return outcome;
    }
    std::map<std::int64_t, std::size_t> runs;
    int rc;
    sql::Statement& lines =
        db->cached("SELECT l.id, l.run, r.started, l.text, l.note FROM lines l LEFT JOIN runs r "
                   "ON r.id = l.run WHERE l.run <> ?1 ORDER BY l.run, l.id");
    for (lines.bind(1, run); (rc = lines ? lines.step() : db->error()) == SQLITE_ROW;) {
        const auto [it, added] = runs.try_emplace(lines.integer(1), out.runs.size());
        if (added) {
            out.runs.push_back({it->first, std::string(lines.text(2))});
        }
        out.lines.push_back(
            {it->second, lines.integer(0), std::string(lines.text(3)), std::string(lines.text(4))});
    }
    // Switched off in another window: the lines are gone already.
    sql::Statement& keeping = db->cached("SELECT off FROM keeping");
    if (rc == SQLITE_DONE && keeping && keeping.step() == SQLITE_ROW) {
        const bool off = keeping.integer(0) != 0;
        keeping.reset();
        return off ? Outcome::Off : Outcome::Done;
    }
    if (rc == SQLITE_DONE) {
        return Outcome::Done;
    }
    out = {};
    if (damaged(rc) && db == &db_) {
        return setAsideDamaged() ? read(run, out) : Outcome::Retry;
    }
    notice("The earlier runs' lines could not be read: " + sqlReason(rc, 0) + ".");
    return busy(rc) ? Outcome::Busy : Outcome::Retry;
}

// secure_delete zeroed the text in the pages; the frames that held it
// leave the WAL with a checkpoint that no reader's snapshot holds back.
bool TapeFile::scrub(std::chrono::milliseconds wait) {
    if (!scrubDue || !db_) {
        return !scrubDue;
    }
    waitFor(wait);
    int log = 0, done = 0;
    const int rc =
        sql::lib().wal_checkpoint_v2(db_.get(), "main", SQLITE_CHECKPOINT_TRUNCATE, &log, &done);
    waitFor(std::chrono::seconds(1));
    scrubDue = rc != SQLITE_OK || log != done;
    if (scrubDue) {
        failure = "A deleted or cleared line is still in " + path_ +
                  "-wal while another window reads the tape; it goes once that window lets go.";
    } else if (failure.starts_with("A deleted or cleared")) {
        failure.clear();
    }
    return !scrubDue;
}

void TapeFile::close() {
    db_.close();
}

void TapeFile::notice(std::string text) {
    if (notices_.size() < 8 &&
        std::find(notices_.begin(), notices_.end(), text) == notices_.end()) {
        notices_.push_back(std::move(text));
    }
}

std::string TapeFile::problem() const {
    std::string out;
    for (const std::string& text : notices_) {
        out += (out.empty() ? "" : "\n") + text;
    }
    if (!failure.empty()) {
        out += (out.empty() ? "" : "\n") + failure;
    }
    return out;
}

} // namespace quillo
