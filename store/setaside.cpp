// SPDX-License-Identifier: MIT
// What is found at the tape's paths and is not a tape goes aside whole, and
// the rows a plain read still gets from a damaged tape are carried over.
#include "tapefile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <deque>
#include <map>
#include <string_view>

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

struct Row {
    std::int64_t run;
    std::string text, note;
};

} // namespace

// Moved under a dated name in the same folder, never followed, written to
// or deleted; the database with its -wal and -shm.
bool TapeFile::setAside(const std::string& path, const char* what) {
    const bool broken = std::string_view(what) == "was damaged";
    const std::string base = path + (broken ? ".damaged-" : ".set-aside-") + stamp();
    std::string aside = base;
    for (int n = 2;
         ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) != 0; ++n) {
        if (errno != EEXIST || n > 100) {
            reason = path + " " + what + ", and could not be moved aside: " + errnoReason(errno);
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
    notice(path + " " + what + ", and was moved to " + aside + ".");
    if (broken) {
        damaged_.push_back(aside);
    }
    return true;
}

// Best effort: the lines table row by row, on past damaged pages, the
// newest kLines kept; they go in below every id, as the oldest runs.
void TapeFile::carryOver(const std::string& aside) {
    sql::Database old;
    if (old.open(aside, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX) !=
        SQLITE_OK) {
        return;
    }
    sql::lib().db_config(old.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    // Read-only, this only lets SQLite read a file shorter than its header says.
    old.exec("PRAGMA writable_schema=ON");
    sql::Statement started = old.prepare("SELECT started FROM runs WHERE id = ?1");
    sql::Statement rows =
        old.prepare("SELECT id, run, text, note FROM lines WHERE id > ?1 ORDER BY id");
    if (!rows) {
        rows = old.prepare("SELECT id, run, text, '' FROM lines WHERE id > ?1 ORDER BY id");
    }
    std::deque<Row> read;
    std::map<std::int64_t, std::string> runs; // by the old id, with its start
    std::int64_t after = INT64_MIN;
    for (int skips = 0; rows && skips < 64; ++skips) {
        int rc;
        for (rows.bind(1, after); (rc = rows.step()) == SQLITE_ROW;) {
            after = rows.integer(0);
            read.push_back({rows.integer(1), std::string(rows.text(2)), std::string(rows.text(3))});
            if (read.size() > TapeStore::kLines) {
                read.pop_front();
            }
        }
        if (rc == SQLITE_DONE || after == INT64_MAX) {
            break;
        }
        // A damaged page: on from further each time (1 << 63 would overflow).
        const std::int64_t step = std::int64_t{1} << std::min(skips, 62);
        after = after > INT64_MAX - step ? INT64_MAX : after + step;
    }
    for (const Row& row : read) {
        if (runs.try_emplace(row.run).second && started &&
            started.bind(1, row.run).step() == SQLITE_ROW) {
            runs[row.run] = started.text(0);
            started.reset();
        }
    }
    if (read.empty()) {
        return;
    }
    // Runs and lines in the order read, each id below all others, never 0.
    int rc = db_.run("BEGIN IMMEDIATE");
    std::int64_t run = 0, line = 0;
    sql::Statement lowest =
        db_.prepare("SELECT min(0, coalesce((SELECT min(id) FROM runs), 0)), min(0, "
                    "coalesce((SELECT min(id) FROM lines), 0))");
    if (rc == SQLITE_DONE && lowest && lowest.step() == SQLITE_ROW) {
        run = lowest.integer(0) - static_cast<std::int64_t>(runs.size()) - 1;
        line = lowest.integer(1) - static_cast<std::int64_t>(read.size()) - 1;
        lowest.reset();
    }
    std::map<std::int64_t, std::int64_t> ids;
    for (const Row& row : read) {
        if (rc != SQLITE_DONE) {
            break;
        }
        const auto [it, added] = ids.try_emplace(row.run, run);
        if (added) {
            rc = db_.run("INSERT INTO runs(id, started) VALUES (?1, ?2)", run++, runs[row.run]);
        }
        if (rc == SQLITE_DONE) {
            rc = db_.run("INSERT INTO lines(id, run, number, size, text, note) VALUES (?1, ?2, "
                         "?1, length(CAST(?3 AS BLOB)) + length(CAST(?4 AS BLOB)), ?3, ?4)",
                         line++, it->second, row.text, row.note);
        }
    }
    rc = rc == SQLITE_DONE ? db_.run("COMMIT") : rc;
    if (rc != SQLITE_DONE) {
        db_.run("ROLLBACK");
        notice("The lines of the damaged file could not be carried over: " + sqlReason(rc, 0) +
               ".");
        return;
    }
    notice("The lines that could be read from the damaged file were kept.");
}

} // namespace quillo
