// SPDX-License-Identifier: MIT
#include "tapefile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>

// The database: `runs` (id, started), `lines` (id, run, number, size, text)
// and `journals`, the old versions' journals taken in. Ids are
// AUTOINCREMENT, so that an id read by one window never names a newer line;
// lines carried in from elsewhere get ids below all others, as the oldest.

namespace quillo {
namespace {

constexpr std::int64_t kApplicationId = 0x51756c6f;
constexpr std::int64_t kSchema = 2;

constexpr const char* kSchemaSql = R"(
CREATE TABLE IF NOT EXISTS runs(id INTEGER PRIMARY KEY AUTOINCREMENT, started TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS lines(id INTEGER PRIMARY KEY AUTOINCREMENT, run INTEGER NOT NULL,
    number INTEGER NOT NULL, size INTEGER NOT NULL, text TEXT NOT NULL,
    note TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS lines_by_number ON lines(run, number);
CREATE TABLE IF NOT EXISTS journals(name TEXT, size INTEGER, mtime INTEGER,
    PRIMARY KEY(name, size, mtime)) WITHOUT ROWID;
PRAGMA application_id = 1366649967;
PRAGMA user_version = 2;
)";
static_assert(kApplicationId == 1366649967);

// The first version kept a tally by triggers; the bound now sums `size`.
constexpr const char* kFromVersion1 = R"(
DROP TABLE tally;
CREATE TABLE lines2(id INTEGER PRIMARY KEY AUTOINCREMENT, run INTEGER NOT NULL,
    number INTEGER NOT NULL, size INTEGER NOT NULL, text TEXT NOT NULL);
INSERT INTO lines2 SELECT id, run, number, length(CAST(text AS BLOB)), text FROM lines;
DROP TABLE lines;
ALTER TABLE lines2 RENAME TO lines;
)";

// 0600 when found wider: opened without following a link, never made.
void makePrivate(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 07177) != 0) {
        ::fchmod(fd, 0600);
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

// The folder and missing parents, 0700; the folder itself made private again.
int makeFolder(const std::string& folder) {
    for (auto slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) == 0) {
            ::chmod(part.c_str(), 0700); // whatever the umask
        } else if (errno != EEXIST) {
            return errno;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return ENOTDIR;
    }
    if ((st.st_mode & 077) != 0 && st.st_uid == ::geteuid()) {
        ::chmod(folder.c_str(), 0700);
    }
    return ::access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
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
    if (sql::library() == nullptr) {
        return sql::errorString(rc);
    }
    if (error != 0 && ((rc & 0xff) == SQLITE_IOERR || (rc & 0xff) == SQLITE_CANTOPEN ||
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
    default:
        return sql::errorString(rc);
    }
}

TapeFile::TapeFile(std::string folder, std::string started, std::function<bool()> wanted)
    : folder_(std::move(folder)), started_(std::move(started)), wanted_(std::move(wanted)) {
    if (!folder_.empty()) {
        path_ = folder_ + "/" + std::string(TapeStore::kFileName);
    }
}

TapeFile::~TapeFile() {
    close();
}

// Open, and still the file at the path: one deleted by another window's
// switch-off is reopened only while the saved setting keeps the tape.
TapeFile::Outcome TapeFile::open() {
    if (disabled_) {
        return Outcome::Off;
    }
    if (db_) {
        int moved = 0;
        sql::lib().file_control(db_.get(), "main", SQLITE_FCNTL_HAS_MOVED, &moved);
        if (moved == 0) {
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
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (const auto outcome = openAt()) {
            return *outcome;
        }
    }
    reason_ = "the tape's file kept changing while it was opened";
    return Outcome::Retry;
}

// Nothing when what was at the path was set aside or replaced meanwhile: try again.
std::optional<TapeFile::Outcome> TapeFile::openAt() {
    db_.close();
    if (const int error = makeFolder(folder_); error != 0) {
        reason_ = folder_ + " cannot be used: " + errnoReason(error);
        return Outcome::Retry;
    }
    struct stat st {};
    for (const char* suffix : {"-wal", "-shm"}) {
        const std::string name = path_ + suffix;
        // SQLite would follow a link here, or fail on it for good.
        if (::lstat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode) &&
            !setAside(name, false, static_cast<int>(st.st_mode))) {
            return Outcome::Retry;
        }
    }
    if (::lstat(path_.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            reason_ = path_ + ": " + errnoReason(errno);
            return Outcome::Retry;
        }
        if (wanted_ && !wanted_()) {
            return Outcome::Off;
        }
        if (const int error = make(); error != 0) {
            reason_ = path_ + " cannot be made: " + errnoReason(error);
            return Outcome::Retry;
        }
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        return setAside(path_, false, static_cast<int>(st.st_mode)) ? std::nullopt
                                                                    : std::optional(Outcome::Retry);
    }
    for (const char* suffix : {"", "-wal", "-shm"}) {
        makePrivate(path_ + suffix);
    }
    if (::access(path_.c_str(), R_OK | W_OK) != 0) {
        reason_ = path_ + ": " + errnoReason(errno) + "; it was left as it is";
        return Outcome::Retry;
    }
    int rc = db_.open(path_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX);
    if (rc == SQLITE_OK) {
        sql::lib().busy_handler(
            db_.get(),
            [](void* self, int) -> int {
                const auto deadline = static_cast<TapeFile*>(self)->deadline_.load();
                if (Clock::now().time_since_epoch().count() >= deadline) {
                    return 0;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                return 1;
            },
            this);
        sql::lib().db_config(db_.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sql::lib().db_config(db_.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        arm();
        rc = db_.exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                      "PRAGMA secure_delete=ON");
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
        if (const auto kind = classify(rc); kind != Outcome::Done) {
            return kind;
        }
    }
    if (rc != SQLITE_OK) {
        const int error = db_ ? sql::lib().system_errno(db_.get()) : 0;
        db_.close();
        if (damaged(rc)) {
            return setAside(path_, true, S_IFREG) ? std::nullopt : std::optional(Outcome::Retry);
        }
        reason_ = sqlReason(rc, error);
        return busy(rc) ? Outcome::Busy : Outcome::Retry;
    }
    carryOver();
    return Outcome::Done;
}

// A new tape is made whole under another name and then put in place, so
// that no window ever opens it half made: in WAL mode, with its schema.
int TapeFile::make() {
    // Named by its thread, which is unique while it runs: two stores of one process too.
    const std::string fresh = path_ + ".new-" + std::to_string(::gettid());
    for (const char* suffix : {"", "-wal", "-shm"}) {
        ::unlink((fresh + suffix).c_str());
    }
    // 0600 whatever the umask: SQLite gives -wal and -shm the database's mode.
    const int fd = ::open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errno;
    }
    ::fchmod(fd, 0600);
    ::close(fd);
    sql::Database made;
    int rc = made.open(fresh, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX);
    if (rc == SQLITE_OK) {
        rc = made.exec(
            (std::string("PRAGMA journal_mode=WAL; BEGIN;") + kSchemaSql + "COMMIT;").c_str());
    }
    const int error = made ? sql::lib().system_errno(made.get()) : 0;
    made.close();
    // -wal and -shm without their database are a deleted tape's, never to be
    // read into this one. Looked at under the folder's lock, which every
    // window making a tape takes: with no database at the path, no window
    // can be writing them.
    const int folder = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::flock(folder, LOCK_EX);
    }
    struct stat st {};
    int failed = rc != SQLITE_OK ? (error != 0 ? error : EIO) : 0;
    if (failed == 0 && ::lstat(path_.c_str(), &st) != 0 && errno == ENOENT) {
        for (const char* suffix : {"-wal", "-shm"}) {
            ::unlink((path_ + suffix).c_str());
        }
        if (::renameat2(AT_FDCWD, fresh.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE) != 0) {
            failed = errno;
        }
    }
    if (folder >= 0) {
        ::close(folder);
    }
    ::unlink(fresh.c_str());              // gone already when it was put in place
    return failed == EEXIST ? 0 : failed; // another window's is there: opened next
}

// What the file is, read in one transaction, and the schema made or brought
// up to date in the same one: busy is never taken for foreign or damaged.
std::optional<TapeFile::Outcome> TapeFile::classify(int& rc) {
    if ((rc = db_.exec("BEGIN IMMEDIATE")) != SQLITE_OK) {
        return Outcome::Done;
    }
    sql::Statement what =
        db_.prepare("SELECT (SELECT count(*) FROM sqlite_schema), (SELECT application_id FROM "
                    "pragma_application_id), (SELECT user_version FROM pragma_user_version)");
    rc = what ? what.step() : db_.error();
    if (rc != SQLITE_ROW) {
        db_.exec("ROLLBACK");
        return Outcome::Done;
    }
    const std::int64_t objects = what.integer(0), id = what.integer(1), version = what.integer(2);
    what.reset();
    rc = SQLITE_OK;
    if (objects > 0 && id != kApplicationId) {
        db_.exec("ROLLBACK");
        db_.close();
        return setAside(path_, false, S_IFREG) ? std::nullopt : std::optional(Outcome::Retry);
    }
    if (version > kSchema) {
        db_.exec("ROLLBACK");
        db_.close();
        notice("The tape is not kept: it was written by a newer version of the calculator.");
        return Outcome::Failed;
    }
    if (version == 1) {
        rc = db_.exec(kFromVersion1);
    }
    if (rc == SQLITE_OK && version != kSchema) {
        rc = db_.exec(kSchemaSql);
    }
    // Columns added since are added in place: a tape written before them opens.
    sql::Statement note =
        db_.prepare("SELECT 1 FROM pragma_table_info('lines') WHERE name = 'note'");
    if (rc == SQLITE_OK && (rc = note ? note.step() : db_.error()) == SQLITE_DONE) {
        rc = db_.exec("ALTER TABLE lines ADD COLUMN note TEXT NOT NULL DEFAULT ''");
    } else if (rc == SQLITE_ROW) {
        note.reset();
        rc = SQLITE_OK;
    }
    if (rc == SQLITE_OK) {
        rc = db_.exec("COMMIT");
    }
    if (rc != SQLITE_OK) {
        db_.exec("ROLLBACK");
    }
    return Outcome::Done;
}

} // namespace quillo
