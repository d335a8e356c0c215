// SPDX-License-Identifier: MIT
// Opening the tape: what is at its path told apart, a new tape made, the
// earlier runs read, deleted text taken out of the WAL.
#include "shared.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

// The database: `runs` (id, started), `lines` (id, run, number, size, text,
// note) and `keeping`, one row: whether the tape is switched off, and how
// many clears there were. Ids are AUTOINCREMENT, so that an id read by one
// window never names a newer line.

namespace quillo {
namespace {

using namespace std::chrono_literals;
constexpr std::int64_t kApplicationId = 0x51756c6f, kSchema = 2;

// Every later version reads this schema: a column is added to it in place.
constexpr const char* kSchemaSql = R"(
CREATE TABLE IF NOT EXISTS runs(id INTEGER PRIMARY KEY AUTOINCREMENT, started TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS lines(id INTEGER PRIMARY KEY AUTOINCREMENT, run INTEGER NOT NULL,
    number INTEGER NOT NULL, size INTEGER NOT NULL, text TEXT NOT NULL,
    note TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS lines_by_number ON lines(run, number);
CREATE TABLE IF NOT EXISTS keeping(off INTEGER NOT NULL, clears INTEGER NOT NULL);
INSERT INTO keeping SELECT 0, 0 WHERE NOT EXISTS (SELECT 1 FROM keeping);
PRAGMA application_id = 1366649967;
PRAGMA user_version = 2;
)";

// What a database holds: why it is set aside when it is not this program's
// tape (nullptr for a tape or an empty file), and what today's schema adds.
struct Look {
    const char* why = nullptr;
    bool current = false, noteless = false;
};
Look look(sql::Database& db) {
    Look out;
    db.each("SELECT (SELECT count(*) FROM sqlite_schema), (SELECT application_id FROM "
            "pragma_application_id), (SELECT user_version FROM pragma_user_version), (SELECT "
            "count(*) FROM sqlite_schema WHERE name = 'keeping'), (SELECT count(*) FROM "
            "sqlite_schema WHERE name = 'lines') - (SELECT count(*) FROM "
            "pragma_table_info('lines') WHERE name = 'note')",
            [&](sql::Row row) {
                out.why = row.integer(0) == 0                ? nullptr
                          : row.integer(1) != kApplicationId ? "was not the calculator's tape"
                          : row.integer(2) != kSchema        ? "was written by another version"
                                                             : nullptr;
                out.noteless = row.integer(4) != 0;
                out.current = row.integer(3) != 0 && !out.noteless;
            });
    return out;
}

// What is at `path`, looked at without following a link. A plain file
// of its own is made private when found wider; anything else gets its words.
const char* odd(const std::string& path, int& error) {
    struct stat st {};
    error = ::lstat(path.c_str(), &st) != 0 ? errno : 0;
    if (error == 0 && S_ISREG(st.st_mode) && (st.st_mode & 07177) != 0 &&
        st.st_uid == ::geteuid()) {
        ::fchmodat(AT_FDCWD, path.c_str(), 0600, AT_SYMLINK_NOFOLLOW); // rare: from a backup
    }
    return error != 0 || (S_ISREG(st.st_mode) && st.st_nlink == 1) ? nullptr
           : S_ISREG(st.st_mode) ? "was a hard link, which is not written through"
           : S_ISLNK(st.st_mode) ? "was a symbolic link, which is not followed"
           : S_ISDIR(st.st_mode) ? "was a folder"
                                 : "was not a file";
}

// The folder and missing parents, 0700 whatever the umask; the folder
// itself made private again when found wider.
int makeFolder(const std::string& folder) {
    for (std::size_t slash = 0; slash != std::string::npos;) {
        slash = folder.find('/', slash + 1);
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) == 0 ? ::chmod(part.c_str(), 0700) != 0 : errno != EEXIST) {
            return errno;
        }
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        return errno;
    }
    if ((st.st_mode & 077) != 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()) {
        ::chmod(folder.c_str(), 0700);
    }
    return S_ISDIR(st.st_mode) ? 0 : S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
}

// Read-only, as a file: URI (which reads ?, # and % as its own).
void openReadOnly(sql::Database& db, const std::string& path, const char* query) {
    std::string uri = "file:";
    for (const char c : path) {
        uri += c == '?' ? "%3f" : c == '#' ? "%23" : c == '%' ? "%25" : std::string(1, c);
    }
    db.open(uri + "?" + query, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW);
}

// Another program's file, or another version's, told apart read-only and
// without its WAL (so never written to); a header not SQLite's too.
Look probe(const std::string& path) {
    try {
        sql::Database db;
        openReadOnly(db, path, "immutable=1");
        return look(db);
    } catch (const sql::Error& e) {
        return {(e.rc & 0xff) == SQLITE_NOTADB ? "was damaged" : nullptr};
    }
}

} // namespace

std::string reasonOf(const sql::Error& failure) {
    const int code = failure.rc & 0xff, error = failure.system;
    // SQLite may leave the ENOENT of a file it only looked for.
    const bool system =
        error != 0 && (code == SQLITE_OK || ((code == SQLITE_IOERR || code == SQLITE_CANTOPEN ||
                                              code == SQLITE_READONLY) &&
                                             error != ENOENT));
    return system && (error == ENOSPC || error == EDQUOT) ? "the disk is full"
           : system && error == EROFS                     ? "the disk is read-only"
           : system && (error == EACCES || error == EPERM)
               ? "you are not allowed to read or write it (permission denied)"
           : system                   ? std::generic_category().message(error)
           : code == SQLITE_READONLY  ? "the tape's file or folder is read-only"
           : code == SQLITE_FULL      ? "the disk is full"
           : busy(code)               ? "another window or program held the tape too long"
           : code == SQLITE_INTERRUPT ? "the exit wait ran out"
                                      : sql::lib().errstr(failure.rc);
}

TapeStore::Shared::Shared(const std::string& folder, std::string started, Events events)
    : folder(folder), path(folder + "/" + std::string(kFileName)), started(std::move(started)),
      events(std::move(events)) {}

auto TapeStore::Shared::open(bool make) -> Outcome {
    int moved = 0;
    if (db &&
        sql::lib().file_control(db.get(), "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK &&
        moved == 0) {
        waitFor(1s);
        return Outcome::Done;
    }
    db.close(); // set aside by another window: the tape at the path is opened anew
    if (sql::library() == nullptr) {
        notice("The tape is not kept: the SQLite library (libsqlite3.so.0) could not be loaded.");
        return Outcome::Failed;
    }
    if (const int error = makeFolder(folder); error != 0) {
        reason = folder + " cannot be used: " + reasonOf({0, error});
        return Outcome::Retry;
    }
    // Again when what was at the path was set aside meanwhile.
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (const auto outcome = openOnce(make)) {
            return *outcome;
        }
    }
    reason = "the tape's file kept changing while it was opened";
    return Outcome::Retry;
}

auto TapeStore::Shared::openOnce(bool make) -> std::optional<Outcome> {
    // A link SQLite would refuse (a hard one it would write through) is set aside, named.
    int error = 0;
    for (const char* suffix : {"-wal", "-shm", ""}) {
        if (const char* why = odd(path + suffix, error)) {
            return setAside(path + suffix, why);
        }
    }
    if (error != 0 && (error != ENOENT || !make)) { // no tape to change, or none to be had
        reason = path + ": " + reasonOf({0, error});
        return error == ENOENT ? Outcome::Off : Outcome::Retry;
    }
    Look seen = probe(path);
    if (seen.why != nullptr) {
        return setAside(path, seen.why);
    }
    try {
        db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW |
                          SQLITE_OPEN_NOMUTEX);
        if (error == ENOENT) { // before SQLite gives -wal and -shm its mode
            ::fchmodat(AT_FDCWD, path.c_str(), 0600, AT_SYMLINK_NOFOLLOW);
        }
        if (sql::lib().db_readonly(db.get(), "main") == 1) { // a read-only disk or file
            throw sql::Error{SQLITE_READONLY, sql::lib().system_errno(db.get())};
        }
        sql::lib().db_config(db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        // A statement still running at the exit deadline ends there.
        sql::lib().progress_handler(
            db.get(), 1000, [](void* self) -> int { return static_cast<Shared*>(self)->late(); },
            this);
        waitFor(1s);
        // Told apart above: only a tape, or a file to be made one, gets WAL.
        db.exec("PRAGMA trusted_schema=OFF; PRAGMA secure_delete=ON; PRAGMA journal_mode=WAL; "
                "PRAGMA synchronous=NORMAL");
        // Damage found now, not by a query halfway through a change.
        db.each("PRAGMA quick_check(1)", [](sql::Row row) {
            if (row.text(0) != "ok") {
                throw sql::Error{SQLITE_CORRUPT};
            }
        });
        // Made or brought up to date in one transaction, told apart again
        // with the WAL another window may be writing: a busy tape is never
        // taken for a foreign or damaged one.
        if (!seen.current) {
            db.exec("BEGIN IMMEDIATE");
            if ((seen = look(db)).why != nullptr) {
                db.close(); // rolled back
                return setAside(path, seen.why);
            }
            db.exec(kSchemaSql);
            if (seen.noteless) { // a tape from before notes
                db.exec("ALTER TABLE lines ADD COLUMN note TEXT NOT NULL DEFAULT ''");
            }
            db.exec("COMMIT");
        }
    } catch (const sql::Error& e) {
        db.close(); // rolled back
        if (damaged(e.rc)) {
            return setAside(path, "was damaged");
        }
        reason = reasonOf(e);
        return busy(e.rc) ? Outcome::Busy : Outcome::Retry;
    }
    for (const std::string& aside : std::exchange(damagedAside, {})) {
        carryOver(aside);
    }
    // Deleted text a reader held back at the end of an earlier run goes
    // first, when no reader holds it now; quietly, when none is known of.
    if (!std::exchange(scrubDue, true)) {
        scrub(0ms);
        scrubDue = false, held.clear();
    }
    return Outcome::Done;
}

void TapeStore::Shared::waitFor(std::chrono::milliseconds wait) {
    if (const auto by = exitBy.load(); by != 0) {
        wait = std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(
                              Clock::duration(by) - Clock::now().time_since_epoch()),
                          0ms, wait);
    }
    if (db) {
        sql::lib().busy_timeout(db.get(), static_cast<int>(wait.count()));
    }
}

auto TapeStore::Shared::read(Earlier& out) -> Outcome {
    out = {};
    Outcome outcome = open();
    sql::Database readOnly;
    // A read-only folder or disk: the lines are shown all the same, with
    // the WAL when it is there, else from the file alone.
    for (const char* query : {"mode=ro", "immutable=1"}) {
        try {
            if (outcome == Outcome::Retry) {
                openReadOnly(readOnly, path, query);
                readOnly.exec("SELECT 1 FROM lines LIMIT 1");
                outcome = Outcome::Done;
                notice(
                    "The tape can only be read: " + reason +
                    ". Its earlier lines are shown; this run's are kept once it can be written.");
            }
        } catch (const sql::Error&) {
            readOnly.close(); // not so either: the next way, or the notice below
        }
    }
    if (outcome == Outcome::Busy || outcome == Outcome::Retry) {
        notice("The earlier runs' lines could not be read: " + reason + ".");
    }
    if (outcome != Outcome::Done) {
        return outcome;
    }
    sql::Database& from = readOnly ? readOnly : db;
    std::map<std::int64_t, std::string> started;
    bool offThere = false;
    try {
        from.each("SELECT id, started FROM runs",
                  [&](sql::Row row) { started[row.integer(0)] = row.text(1); });
        // In the table's order, with no index to follow, each line's run by
        // its id; the runs' lines put together after.
        from.each(
            "SELECT run, id, text, note FROM lines WHERE run <> ?1 ORDER BY id",
            [&](sql::Row row) {
                out.lines.push_back({std::size_t(row.integer(0)), row.integer(1),
                                     std::string(row.text(2)), std::string(row.text(3))});
            },
            run);
        // Switched off in another window: the lines are gone already.
        from.each("SELECT off FROM keeping", [&](sql::Row row) { offThere = row.integer(0); });
    } catch (const sql::Error& e) {
        out = {};
        if (damaged(e.rc) && &from == &db) {
            db.close(); // opened again, its check sets it aside
        }
        notice("The earlier runs' lines could not be read: " + reasonOf({e.rc}) + ".");
        return busy(e.rc) ? Outcome::Busy : Outcome::Retry;
    }
    std::stable_sort(out.lines.begin(), out.lines.end(),
                     [](const KeptLine& a, const KeptLine& b) { return a.run < b.run; });
    for (KeptLine& line : out.lines) {
        const auto id = static_cast<std::int64_t>(line.run);
        if (out.runs.empty() || out.runs.back().id != id) {
            out.runs.push_back({id, started[id]});
        }
        line.run = out.runs.size() - 1;
    }
    return offThere ? Outcome::Off : Outcome::Done;
}

// secure_delete zeroed the text in the pages; the frames that held it
// leave the WAL with a checkpoint that no reader's snapshot holds back.
void TapeStore::Shared::scrub(std::chrono::milliseconds wait) {
    if (!scrubDue || !db) {
        return;
    }
    waitFor(wait);
    int log = 0, done = 0;
    const int rc =
        sql::lib().wal_checkpoint_v2(db.get(), "main", SQLITE_CHECKPOINT_TRUNCATE, &log, &done);
    waitFor(1s);
    scrubDue = rc != SQLITE_OK || log != done;
    held = scrubDue ? "A deleted line's text is still in " + path +
                          "-wal while another program reads the tape; it goes once that "
                          "program lets go, or at the next start."
                    : "";
}

void TapeStore::Shared::notice(std::string text) {
    if (notices.size() < 8 && std::find(notices.begin(), notices.end(), text) == notices.end()) {
        notices.push_back(std::move(text));
    }
}

std::string TapeStore::Shared::problem() const {
    std::string out;
    for (const std::string& text : notices) {
        out += text + "\n";
    }
    out += failure.empty() ? "" : failure + "\n";
    out += held.empty() ? "" : held + "\n";
    return out.empty() ? out : out.substr(0, out.size() - 1);
}

} // namespace quillo
