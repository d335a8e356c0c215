// SPDX-License-Identifier: MIT
// What is found at the tape's path and is not a tape goes aside, and what
// a damaged tape still holds is read out to be carried over.
#include "tapefile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <set>

namespace quillo {
namespace {

std::string stamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H-%M-%S", &local);
    return text;
}

} // namespace

// Moves what is at `path` aside under a dated name in the same folder, never
// following or deleting it, the database with its -wal and -shm; a damaged
// tape's lines are read from there, to be carried over.
bool TapeFile::setAside(const std::string& path, bool broken, int mode) {
    const std::string base = path + (broken ? ".damaged-" : ".set-aside-") + stamp();
    std::string aside = base;
    for (int n = 2;
         ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) != 0; ++n) {
        if (errno != EEXIST || n > 100) {
            reason_ = path +
                      " is damaged or not the calculator's, and could not be moved "
                      "aside: " +
                      errnoReason(errno);
            return false;
        }
        aside = base + "-" + std::to_string(n);
    }
    if (path == path_) {
        for (const char* suffix : {"-wal", "-shm"}) {
            ::renameat2(AT_FDCWD, (path + suffix).c_str(), AT_FDCWD, (aside + suffix).c_str(),
                        RENAME_NOREPLACE);
        }
    }
    const char* what = S_ISLNK(mode)    ? "was a symbolic link, which is not followed"
                       : S_ISDIR(mode)  ? "was a folder"
                       : !S_ISREG(mode) ? "was not a file"
                       : broken         ? "was damaged"
                                        : "was not the calculator's tape";
    notice(path + " " + what + ", and was moved to " + aside + ".");
    if (broken) {
        asides_.push_back(aside);
    }
    return true;
}

// Best effort: the lines table row by row, past damaged pages too, as
// records of runs named with `prefix`, apart from the journals' runs.
void TapeFile::salvage(const std::string& aside, const std::string& prefix,
                       const std::function<void(const JournalRecord&)>& put) {
    sql::Database old;
    if (old.open(aside, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX) !=
        SQLITE_OK) {
        return;
    }
    sql::lib().db_config(old.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    // Read-only, this only lets SQLite read a file shorter than its header says.
    old.exec("PRAGMA writable_schema=ON");
    sql::Statement started = old.prepare("SELECT started FROM runs WHERE id = ?1");
    sql::Statement rows = old.prepare("SELECT id, run, text FROM lines WHERE id > ?1 ORDER BY id");
    if (!rows) {
        return;
    }
    std::set<std::int64_t> met;
    std::int64_t after = INT64_MIN;
    std::uint64_t n = 0;
    for (int skips = 0; skips < 64; ++skips) {
        int rc;
        for (rows.bind(1, after); (rc = rows.step()) == SQLITE_ROW;) {
            after = rows.integer(0);
            const std::string run = prefix + std::to_string(rows.integer(1));
            if (met.insert(rows.integer(1)).second) {
                const bool known = started && started.bind(1, rows.integer(1)).step() == SQLITE_ROW;
                put({'R', run, 0, known ? started.text(0) : std::string_view()});
                started.reset();
            }
            put({'L', run, n++, rows.text(2)});
        }
        if (rc == SQLITE_DONE || after == INT64_MAX) {
            break;
        }
        // A damaged page: on from further each time.
        const std::int64_t step = std::int64_t{1} << std::min(skips, 62); // 1 << 63 overflows
        after = after > INT64_MAX - step ? INT64_MAX : after + step;
    }
}

} // namespace quillo
