// SPDX-License-Identifier: MIT
// What is found at the tape's paths and is not a tape goes aside whole, and
// the rows a plain read still gets from a damaged tape are carried over.
#include "shared.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <tuple>

namespace quillo {

// Moved under a dated name in the same folder, never followed, written to
// or deleted; the database with its -wal and -shm. Nothing once moved
// aside (to be opened again), else Retry.
auto TapeStore::Shared::setAside(const std::string& at, const char* what)
    -> std::optional<Outcome> {
    const bool broken = std::string_view(what) == "was damaged";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H-%M-%S", ::localtime_r(&now, &local));
    const std::string base = at + (broken ? ".damaged-" : ".set-aside-") + stamp;
    std::string aside = base;
    for (int n = 2;
         ::renameat2(AT_FDCWD, at.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) != 0; ++n) {
        if (errno != EEXIST || n > 100) {
            reason = at + " " + what + ", and could not be moved aside: " + reasonOf({0, errno});
            return Outcome::Retry;
        }
        aside = base + "-" + std::to_string(n);
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        if (at == path) {
            ::renameat2(AT_FDCWD, (at + suffix).c_str(), AT_FDCWD, (aside + suffix).c_str(),
                        RENAME_NOREPLACE);
        }
    }
    notice(at + " " + what + ", and was moved to " + aside + ".");
    if (broken) {
        damagedAside.push_back(aside);
    }
    return std::nullopt;
}

// Best effort: the lines a read gets, on past damaged pages, into the new
// tape (made just now, so its oldest runs) in one transaction.
void TapeStore::Shared::carryOver(const std::string& aside) {
    std::map<std::int64_t, std::string> started;
    std::vector<std::tuple<std::int64_t, std::int64_t, std::string, std::string>> lines;
    sql::Database old;
    std::int64_t after = INT64_MIN;
    for (int skips = 0; skips < 64; ++skips) {
        try {
            if (!old) {
                old.open(aside, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX);
                sql::lib().db_config(old.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
                // Read-only, this only lets SQLite read a file shorter than its header says.
                old.exec("PRAGMA writable_schema=ON");
                old.each("SELECT id, started FROM runs",
                         [&](sql::Row row) { started[row.integer(0)] = row.text(1); });
            }
            old.each(
                "SELECT id, run, text, note FROM lines WHERE id > ?1 ORDER BY id",
                [&](sql::Row row) {
                    after = row.integer(0);
                    lines.emplace_back(row.integer(1), after, row.text(2), row.text(3));
                },
                after);
            break;
        } catch (const sql::Error&) {
            // A damaged page: on from further each time (1 << 63 would overflow).
            const std::int64_t step = std::int64_t{1} << std::min(skips, 62);
            after = after > INT64_MAX - step ? INT64_MAX : after + step;
        }
    }
    if (lines.empty()) {
        return;
    }
    std::map<std::int64_t, std::int64_t> runs; // the old id's new one
    try {
        db.exec("BEGIN IMMEDIATE");
        for (const auto& [run, id, text, note] : lines) {
            if (const auto [it, added] = runs.try_emplace(run); added) {
                db.run("INSERT INTO runs(started) VALUES (?1)", started[run]);
                it->second = sql::lib().last_insert_rowid(db.get());
            }
            db.run("INSERT INTO lines(run, number, size, text, note) VALUES (?1, ?2, "
                   "length(CAST(?3 AS BLOB)) + length(CAST(?4 AS BLOB)), ?3, ?4)",
                   runs[run], id, text, note);
        }
        db.exec("COMMIT");
        notice("The lines that could be read from the damaged file were kept.");
    } catch (const sql::Error& e) {
        db.rollback();
        notice("The lines of the damaged file could not be carried over: " + reasonOf(e) + ".");
    }
}

} // namespace quillo
