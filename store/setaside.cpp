// SPDX-License-Identifier: MIT
// What is found at the tape's paths and is not a tape goes aside whole, and
// the rows a plain read still gets from a damaged tape are carried over.
#include "tapefile.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <deque>
#include <map>
#include <string_view>

namespace quillo {

// Moved under a dated name in the same folder, never followed, written to
// or deleted; the database with its -wal and -shm.
std::optional<TapeFile::Outcome> TapeFile::setAside(const std::string& path, const char* what) {
    const bool broken = std::string_view(what) == "was damaged";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H-%M-%S", ::localtime_r(&now, &local));
    const std::string base = path + (broken ? ".damaged-" : ".set-aside-") + stamp;
    std::string aside = base;
    for (int n = 2;
         ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) != 0; ++n) {
        if (errno != EEXIST || n > 100) {
            reason = path + " " + what + ", and could not be moved aside: " + errnoReason(errno);
            return Outcome::Retry;
        }
        aside = base + "-" + std::to_string(n);
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        if (path == path_) {
            ::renameat2(AT_FDCWD, (path + suffix).c_str(), AT_FDCWD, (aside + suffix).c_str(),
                        RENAME_NOREPLACE);
        }
    }
    notice(path + " " + what + ", and was moved to " + aside + ".");
    if (broken) {
        damaged_.push_back(aside);
    }
    return std::nullopt;
}

// Best effort: the lines table row by row, on past damaged pages, the
// newest kLines kept; they go in below every id, as the oldest runs.
void TapeFile::carryOver(const std::string& aside) {
    struct Row {
        std::int64_t run;
        std::string text, note;
    };
    std::deque<Row> read;
    std::map<std::int64_t, std::pair<std::int64_t, std::string>> runs; // new id and start
    {
        sql::Database old;
        old.open(aside, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX);
        if (old) {
            sql::lib().db_config(old.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
            // Read-only, this only lets SQLite read a file shorter than its header says.
            old.exec("PRAGMA writable_schema=ON");
        }
        sql::Statement rows =
            old ? old.prepare("SELECT id, run, text, note FROM lines WHERE id > ?1 ORDER BY id")
                : sql::Statement();
        std::int64_t after = INT64_MIN;
        for (int skips = 0, rc = SQLITE_ROW; rows && rc != SQLITE_DONE && skips < 64; ++skips) {
            for (rows.bind(1, after); (rc = rows.step()) == SQLITE_ROW;) {
                after = rows.integer(0);
                read.push_back(
                    {rows.integer(1), std::string(rows.text(2)), std::string(rows.text(3))});
                if (read.size() > TapeStore::kLines) {
                    read.pop_front();
                }
            }
            // A damaged page: on from further each time (1 << 63 would overflow).
            const std::int64_t step = std::int64_t{1} << std::min(skips, 62);
            after = after > INT64_MAX - step ? INT64_MAX : after + step;
        }
        sql::Statement started =
            old ? old.prepare("SELECT started FROM runs WHERE id = ?1") : sql::Statement();
        for (const Row& row : read) {
            if (runs.try_emplace(row.run).second && started &&
                started.bind(1, row.run).step() == SQLITE_ROW) {
                runs[row.run].second = started.text(0);
                started.reset();
            }
        }
    }
    // Runs and lines in the order read, each id below all others, never 0.
    if (read.empty()) {
        return;
    }
    int rc = db_.run("BEGIN IMMEDIATE");
    sql::Statement lowest = db_.prepare("SELECT min(0, coalesce((SELECT min(id) FROM runs), 0)), "
                                        "min(0, coalesce((SELECT min(id) FROM lines), 0))");
    rc = rc != SQLITE_DONE ? rc : lowest ? lowest.step() : db_.error();
    std::int64_t run = rc == SQLITE_ROW ? lowest.integer(0) - std::int64_t(runs.size()) - 1 : 0;
    std::int64_t line = rc == SQLITE_ROW ? lowest.integer(1) - std::int64_t(read.size()) - 1 : 0;
    rc = rc == SQLITE_ROW ? SQLITE_DONE : rc;
    lowest.reset();
    for (auto& [old, made] : runs) {
        made.first = run++;
        rc = rc == SQLITE_DONE
                 ? db_.run("INSERT INTO runs(id, started) VALUES (?1, ?2)", made.first, made.second)
                 : rc;
    }
    for (const Row& row : read) {
        rc = rc == SQLITE_DONE
                 ? db_.run("INSERT INTO lines(id, run, number, size, text, note) VALUES (?1, ?2, "
                           "?1, length(CAST(?3 AS BLOB)) + length(CAST(?4 AS BLOB)), ?3, ?4)",
                           line++, runs[row.run].first, row.text, row.note)
                 : rc;
    }
    rc = rc == SQLITE_DONE ? db_.run("COMMIT") : rc;
    if (rc != SQLITE_DONE) {
        db_.run("ROLLBACK");
    }
    notice(rc == SQLITE_DONE ? "The lines that could be read from the damaged file were kept."
                             : "The lines of the damaged file could not be carried over: " +
                                   sqlReason(rc, 0) + ".");
}

} // namespace quillo
