// SPDX-License-Identifier: MIT
// TapeFile's changes and reads, once the database is open.
#include "tapefile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>

namespace quillo {
namespace {

// Engine numbers go into SQLite's signed integers with their order kept.
std::int64_t stored(std::uint64_t number) {
    return static_cast<std::int64_t>(number ^ (std::uint64_t{1} << 63));
}

bool has(std::span<const StoreOp> ops, StoreOp::Kind kind) {
    return std::any_of(ops.begin(), ops.end(), [&](const StoreOp& op) { return op.kind == kind; });
}

std::string subject(std::span<const StoreOp> ops) {
    if (has(ops, StoreOp::Kind::Clear)) {
        return "The clear has not reached the disk yet";
    }
    if (has(ops, StoreOp::Kind::Remove) || has(ops, StoreOp::Kind::RemoveEarlier)) {
        return "A deleted line is not deleted from the disk yet";
    }
    return "This run's last lines are not kept yet";
}

} // namespace

// Records of the old journals and of damaged tapes, folded into this
// tape's oldest runs by SQL: a line stays unless a later record of its run
// replaced or cut it, or any record deleted or cleared it. Ids go below
// every other, never 0, which stands for no run.
constexpr const char* kCarryTables = R"(
CREATE TEMP TABLE carried(seq INTEGER PRIMARY KEY, kind TEXT NOT NULL, run TEXT NOT NULL,
    n INTEGER NOT NULL, text TEXT NOT NULL);
CREATE INDEX temp.carried_by_kind ON carried(run, kind, n);
)";
constexpr const char* kCarrySql = R"(
CREATE TEMP VIEW carried_lines AS SELECT run, n, text FROM carried l WHERE kind = 'L'
    AND NOT EXISTS (SELECT 1 FROM carried o WHERE o.run = l.run AND o.kind IN ('L', 'D')
        AND o.n = l.n AND (o.kind = 'D' OR o.seq > l.seq))
    AND NOT EXISTS (SELECT 1 FROM carried o WHERE o.run = l.run AND o.kind = 'U'
        AND o.n <= l.n AND o.seq > l.seq)
    AND NOT EXISTS (SELECT 1 FROM carried o WHERE o.run = l.run AND o.kind = 'X' AND o.n > l.n);
CREATE TEMP TABLE carried_runs(id INTEGER PRIMARY KEY, run TEXT NOT NULL, started TEXT NOT NULL);
INSERT INTO carried_runs SELECT (SELECT min(coalesce(min(id), 0), 0) FROM runs)
    - count(*) OVER () + row_number() OVER (ORDER BY min(seq)) - 1, run,
    coalesce((SELECT text FROM carried r WHERE r.run = c.run AND r.kind = 'R' ORDER BY seq), '')
    FROM carried c WHERE run IN (SELECT run FROM carried_lines) GROUP BY run;
INSERT INTO runs(id, started) SELECT id, started FROM carried_runs;
INSERT INTO lines(id, run, number, size, text) SELECT
    (SELECT min(coalesce(min(id), 0), 0) FROM lines) - count(*) OVER ()
    + row_number() OVER (ORDER BY r.id, l.n) - 1, r.id, l.n, length(CAST(l.text AS BLOB)), l.text
    FROM carried_lines l JOIN carried_runs r ON r.run = l.run;
DROP VIEW carried_lines;
DROP TABLE carried_runs;
DROP TABLE carried;
)";

// In one transaction that also records which journals were taken: a run
// killed before it deletes them does not take them twice.
void TapeFile::carryOver() {
    Journals journals(folder_);
    if (journals.empty() && asides_.empty()) {
        return;
    }
    int rc = db_.run("BEGIN IMMEDIATE");
    rc = rc == SQLITE_DONE ? db_.exec(kCarryTables) : rc;
    sql::Statement taken = db_.prepare("SELECT 1 FROM journals WHERE name = ?1 AND size = ?2 "
                                       "AND mtime = ?3");
    sql::Statement record = db_.prepare("INSERT OR IGNORE INTO journals VALUES (?1, ?2, ?3)");
    sql::Statement put =
        db_.prepare("INSERT INTO carried(kind, run, n, text) VALUES (?1, ?2, ?3, ?4)");
    rc = (rc == SQLITE_DONE || rc == SQLITE_OK) && taken && record && put ? SQLITE_DONE
                                                                          : db_.error();
    const auto add = [&](const JournalRecord& r) {
        if (rc == SQLITE_DONE) {
            rc = put.bind(1, std::string_view(&r.kind, 1))
                     .bind(2, r.run)
                     .bind(3, stored(r.n))
                     .bind(4, r.text)
                     .run();
        }
    };
    journals.take(
        [&](const OldJournal& j) {
            return taken.bind(1, j.name).bind(2, j.size).bind(3, j.mtime).step() == SQLITE_ROW &&
                   (taken.reset(), true);
        },
        add);
    for (std::size_t k = 0; k < asides_.size(); ++k) {
        salvage(asides_[k], "#" + std::to_string(k) + "-", add);
    }
    if (rc == SQLITE_DONE) {
        rc = db_.exec(kCarrySql) == SQLITE_OK ? SQLITE_DONE : db_.error();
    }
    for (const OldJournal& j : journals.read) {
        if (rc == SQLITE_DONE) {
            rc = record.bind(1, j.name).bind(2, j.size).bind(3, j.mtime).run();
        }
    }
    std::int64_t dropped = 0;
    if (rc == SQLITE_DONE) {
        rc = bound();
        dropped = sql::lib().changes64(db_.get());
    }
    if (rc == SQLITE_DONE) {
        rc = db_.run("COMMIT");
    }
    if (rc != SQLITE_DONE) {
        db_.run("ROLLBACK");
        notice("Earlier lines could not be carried over into " + path_ + ": " + sqlReason(rc, 0) +
               "; they are tried again at the next start.");
        return;
    }
    journals.remove();
    if (!asides_.empty()) {
        notice("The lines that could be read from the damaged file were kept.");
        asides_.clear();
    }
    if (dropped > 0 && !journals.read.empty()) {
        notice("The earlier version's journals held more than the tape keeps: their " +
               std::to_string(dropped) + " oldest lines were left out.");
    }
}

// Past either bound the oldest lines go, never the newest. The running sum
// of sizes is taken only when the total is past the bound.
int TapeFile::bound() {
    return db_.run(
        "DELETE FROM lines WHERE id < max(coalesce((SELECT id FROM lines ORDER BY id DESC "
        "LIMIT 1 OFFSET ?1), -9e18), CASE WHEN (SELECT total(size) FROM lines) > ?2 THEN "
        "coalesce((SELECT id + 1 FROM (SELECT id, sum(size) OVER w AS t, row_number() OVER w "
        "AS k FROM lines WINDOW w AS (ORDER BY id DESC)) WHERE t > ?2 AND k > 1 ORDER BY id "
        "DESC LIMIT 1), -9e18) ELSE -9e18 END)",
        std::int64_t(TapeStore::kLines) - 1, std::int64_t(TapeStore::kBytes));
}

int TapeFile::apply(std::span<const StoreOp> ops) {
    int rc = SQLITE_DONE;
    const bool adds = has(ops, StoreOp::Kind::Add);
    if (adds && run_ == 0) {
        rc = db_.run("INSERT INTO runs(started) VALUES (?1)", started_);
        run_ = sql::lib().last_insert_rowid(db_.get());
    } else if (adds) {
        // Put back when another window's clear or bound took this run's row.
        rc = db_.run("INSERT OR IGNORE INTO runs(id, started) VALUES (?1, ?2)", run_, started_);
    }
    for (auto op = ops.begin(); rc == SQLITE_DONE && op != ops.end(); ++op) {
        const std::int64_t n = stored(op->value);
        switch (op->kind) {
        case StoreOp::Kind::Add:
            rc = db_.run(
                "INSERT INTO lines(run, number, size, text, note) "
                "VALUES (?1, ?2, length(CAST(?3 AS BLOB)) + length(CAST(?4 AS BLOB)), ?3, ?4)",
                run_, n, op->text, op->note);
            if ((rc & 0xff) == SQLITE_TOOBIG) {
                notice("A line was too long to keep.");
                rc = SQLITE_DONE;
            }
            break;
        case StoreOp::Kind::Cut:
            rc = db_.run("DELETE FROM lines WHERE run = ?1 AND number >= ?2", run_, n);
            break;
        case StoreOp::Kind::Remove:
            rc = db_.run("DELETE FROM lines WHERE run = ?1 AND number = ?2", run_, n);
            break;
        case StoreOp::Kind::RemoveEarlier:
            rc = db_.run("DELETE FROM lines WHERE id = ?1", static_cast<std::int64_t>(op->value));
            break;
        case StoreOp::Kind::Run:
            // Its row now, so that the lines after it in this transaction are its.
            started_ = op->text;
            rc = db_.run("INSERT INTO runs(started) VALUES (?1)", started_);
            run_ = sql::lib().last_insert_rowid(db_.get());
            break;
        case StoreOp::Kind::Note:
            rc = db_.run("UPDATE lines SET note = ?3, size = length(CAST(text AS BLOB)) + "
                         "length(CAST(?3 AS BLOB)) WHERE run = ?1 AND number = ?2",
                         run_, n, op->note);
            break;
        case StoreOp::Kind::NoteEarlier:
            rc = db_.run("UPDATE lines SET note = ?2, size = length(CAST(text AS BLOB)) + "
                         "length(CAST(?2 AS BLOB)) WHERE id = ?1",
                         static_cast<std::int64_t>(op->value), op->note);
            break;
        case StoreOp::Kind::Clear:
            rc = db_.run("DELETE FROM lines");
            rc = rc == SQLITE_DONE ? db_.run("DELETE FROM runs WHERE id <> ?1", run_) : rc;
            break;
        default:
            break;
        }
    }
    if (rc == SQLITE_DONE && adds) {
        rc = bound();
        rc = rc == SQLITE_DONE ? db_.run("DELETE FROM runs WHERE id <> ?1 AND NOT EXISTS "
                                         "(SELECT 1 FROM lines WHERE run = runs.id)",
                                         run_)
                               : rc;
    }
    return rc;
}

TapeFile::Outcome TapeFile::write(std::span<const StoreOp> ops) {
    Outcome outcome = open();
    int rc = SQLITE_DONE;
    if (outcome == Outcome::Done) {
        arm();
        // A new run's row is made again when the transaction is.
        const std::int64_t run = run_;
        const std::string started = started_;
        rc = db_.run("BEGIN IMMEDIATE");
        rc = rc == SQLITE_DONE ? apply(ops) : rc;
        rc = rc == SQLITE_DONE ? db_.run("COMMIT") : rc;
        if (rc != SQLITE_DONE) {
            run_ = run;
            started_ = started;
            reason_ = sqlReason(rc, sql::lib().system_errno(db_.get()));
            db_.run("ROLLBACK");
            outcome = busy(rc) ? Outcome::Busy : Outcome::Retry;
        }
    }
    if (damaged(rc)) {
        db_.close();
        if (setAside(path_, true, S_IFREG)) {
            return write(ops);
        }
    }
    if (outcome == Outcome::Retry && has(ops, StoreOp::Kind::Clear) && removeFiles()) {
        // Deleting rows takes room in the WAL, removing the files none: a
        // clear on a full disk never comes back.
        const auto last = std::find_if(ops.rbegin(), ops.rend(), [](const StoreOp& op) {
            return op.kind == StoreOp::Kind::Clear;
        });
        run_ = 0;
        const auto after = ops.subspan(static_cast<std::size_t>(ops.rend() - last));
        return after.empty() ? Outcome::Done : write(after);
    }
    if (outcome == Outcome::Off || outcome == Outcome::Failed) {
        return outcome;
    }
    if (outcome != Outcome::Done) {
        failure_ = subject(ops) + ": " + reason_ + ".";
        return outcome;
    }
    failure_.clear();
    if (has(ops, StoreOp::Kind::Clear) || has(ops, StoreOp::Kind::Remove) ||
        has(ops, StoreOp::Kind::RemoveEarlier)) {
        scrubDue_ = true;
        scrub();
    }
    return Outcome::Done;
}

// secure_delete zeroed the text in the pages; the frames that held it
// leave the WAL with a checkpoint that no reader's snapshot holds back.
bool TapeFile::scrub() {
    if (!scrubDue_ || !db_) {
        return !scrubDue_;
    }
    // No wait for a reader but at the end of the run.
    deadline_ = exit_.load();
    int log = 0, done = 0;
    const int rc =
        sql::lib().wal_checkpoint_v2(db_.get(), "main", SQLITE_CHECKPOINT_TRUNCATE, &log, &done);
    scrubDue_ = rc != SQLITE_OK || log != done;
    if (scrubDue_) {
        failure_ = "A deleted or cleared line is still in " + path_ +
                   "-wal while another window reads the tape; it goes once that window lets go.";
    } else if (failure_.starts_with("A deleted or cleared")) {
        failure_.clear();
    }
    return !scrubDue_;
}

TapeFile::Outcome TapeFile::read(Earlier& out) {
    out = {};
    const Outcome outcome = open();
    if (outcome != Outcome::Done) {
        if (outcome == Outcome::Retry || outcome == Outcome::Busy) {
            notice("The earlier runs' lines could not be read: " + reason_ + ".");
        }
        return outcome;
    }
    arm();
    std::map<std::int64_t, std::size_t> runs;
    int rc;
    sql::Statement& lines =
        db_.cached("SELECT l.id, l.run, r.started, l.text, l.note FROM lines l LEFT JOIN runs r "
                   "ON r.id = l.run WHERE l.run <> ?1 ORDER BY l.run, l.id");
    for (lines.bind(1, run_); (rc = lines ? lines.step() : db_.error()) == SQLITE_ROW;) {
        const auto [it, added] = runs.try_emplace(lines.integer(1), out.runs.size());
        if (added) {
            out.runs.push_back({it->first, std::string(lines.text(2))});
        }
        out.lines.push_back(
            {it->second, lines.integer(0), std::string(lines.text(3)), std::string(lines.text(4))});
    }
    if (rc == SQLITE_DONE) {
        return Outcome::Done;
    }
    out = {};
    if (damaged(rc)) {
        db_.close();
        return setAside(path_, true, S_IFREG) ? read(out) : Outcome::Retry;
    }
    notice("The earlier runs' lines could not be read: " + sqlReason(rc, 0) + ".");
    return busy(rc) ? Outcome::Busy : Outcome::Retry;
}

bool TapeFile::removeFiles() {
    db_.close();
    bool gone = true;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        gone = (::unlink((path_ + suffix).c_str()) == 0 || errno == ENOENT) && gone;
    }
    scrubDue_ = false;
    failure_.clear();
    return gone;
}

void TapeFile::disable(bool remove) {
    if (remove && !path_.empty()) {
        removeFiles();
    }
    db_.close();
    asides_.clear();
    disabled_ = true;
}

void TapeFile::close() {
    scrub();
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
    if (!failure_.empty()) {
        out += (out.empty() ? "" : "\n") + failure_;
    }
    return out;
}

} // namespace quillo
