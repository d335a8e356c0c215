// SPDX-License-Identifier: MIT
// A line's way to the disk: handed over (add, replace...), taken by the
// store's thread with what waits, committed to the WAL in one transaction.
#include "shared.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace quillo {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Changes that wait for the database past this many are dropped, oldest first.
constexpr std::size_t kWaiting = 4 * TapeStore::kLines;

} // namespace

void TapeStore::Shared::loop() {
    std::vector<Op> pending;
    std::string told;
    for (Outcome outcome = Outcome::Done;;) {
        std::unique_lock lock(mutex);
        // Busy: SQLite has waited already. A full disk, or deleted text a
        // reader holds in the WAL: looked at again in a second.
        wake.wait_for(lock,
                      pending.empty() && !scrubDue ? 24h
                      : outcome == Outcome::Busy   ? 0ms
                                                   : 1s,
                      [&] { return !queue.empty() || stopping; });
        std::move(queue.begin(), queue.end(), std::back_inserter(pending));
        queue.clear();
        const std::uint64_t taken = handed;
        // A full disk at the end is not waited for; another window is, to the deadline.
        const bool stop = stopping, last = outcome == Outcome::Retry || late();
        lock.unlock();
        outcome = work(pending);
        if (pending.size() > kWaiting) {
            pending.erase(pending.begin(), pending.end() - kWaiting);
            notice("Some lines of this run were not kept: the tape could not be written "
                   "for too long.");
        }
        if (std::string now = problem(); now != told && events.problem) {
            events.problem(told = now);
        }
        const bool end = stop && (pending.empty() || last);
        if (end) {
            scrub(kExitWait); // to the deadline at most
            db.close();
        }
        lock.lock();
        tried = taken;
        if (end && !pending.empty()) {
            unwritten = outcome == Outcome::Busy
                            ? "another window or program held it past the exit wait"
                            : reason;
        }
        finished = end;
        idle.notify_all();
        if (end) {
            return;
        }
    }
}

// What was handed over, in order: each run of changes in one transaction,
// reads answered while changes wait; what could not be written stays.
auto TapeStore::Shared::work(std::vector<Op>& pending) -> Outcome {
    std::vector<Op> waiting;
    Outcome outcome = Outcome::Done;
    for (auto i = pending.begin(), end = i; i != pending.end(); i = end) {
        end = i->kind > Op::Clear ? i + 1 : std::find_if(i, pending.end(), [](const Op& op) {
            return op.kind > Op::Clear;
        });
        const std::span ops(i, end);
        if (ops[0].kind == Op::Read) {
            Earlier earlier;
            if (!off && read(earlier) == Outcome::Off) {
                offElsewhere();
            }
            if (events.earlier) {
                events.earlier(std::move(earlier));
            }
            continue;
        }
        outcome = outcome == Outcome::Done ? step(ops) : outcome;
        if (outcome == Outcome::Busy || outcome == Outcome::Retry) {
            std::move(ops.begin(), ops.end(), std::back_inserter(waiting));
        }
    }
    pending = std::move(waiting);
    return outcome;
}

// One transaction, or a switch: Busy or Retry when it is to be tried again.
auto TapeStore::Shared::step(std::span<Op> ops) -> Outcome {
    const auto kind = ops[0].kind;
    if (kind == Op::Enable || kind == Op::Disable) {
        run = 0, clears = -1, live.clear(), cleared.clear();
    }
    if (kind == Op::Enable || kind == Op::LetGo || (off && kind != Op::Disable)) {
        // Written with the next change: a run that keeps nothing loads nothing.
        enabling = kind == Op::Enable;
        off = kind != Op::Enable;
        return Outcome::Done;
    }
    // Two windows making the tape at once meet in its locks: tried again before it is told.
    Outcome outcome = write(ops);
    outcome = outcome == Outcome::Busy || outcome == Outcome::Retry ? write(ops) : outcome;
    const bool again = outcome == Outcome::Busy || outcome == Outcome::Retry;
    failure = again ? "This run's last changes are not kept yet: " + reason + "." : "";
    if (again) {
        return outcome;
    }
    off = off || kind == Op::Disable || outcome == Outcome::Failed; // Failed: never kept this run
    if (outcome == Outcome::Off) {
        offElsewhere();
    }
    // Deleted text leaves the WAL too.
    scrubDue |= outcome == Outcome::Done && std::any_of(ops.begin(), ops.end(), [](const Op& op) {
                    return op.kind != Op::Add && op.kind != Op::Note && op.kind != Op::NoteEarlier;
                });
    scrub(0ms);
    return Outcome::Done;
}

// With the switch read in the same transaction: no window writes once another switched it off.
auto TapeStore::Shared::write(std::span<const Op> ops) -> Outcome {
    // Switched off without a tape: nothing to remove.
    const bool switchOff = ops[0].kind == Op::Disable;
    if (const Outcome opened = open(!switchOff); opened != Outcome::Done) {
        return opened == Outcome::Off && switchOff ? Outcome::Done : opened;
    }
    // A new run's row is made again when the transaction is.
    const auto before = std::pair(run, started);
    try {
        bool offThere = false;
        std::int64_t seen = -1;
        db.exec("BEGIN IMMEDIATE");
        db.each("SELECT off, clears FROM keeping",
                [&](sql::Row row) { offThere = row.integer(0) != 0, seen = row.integer(1); });
        if (offThere && !switchOff && !enabling) {
            db.rollback();
            return Outcome::Off;
        }
        // A clear in another window since: this run's lines so far stay gone.
        if (clears >= 0 && seen != clears) {
            cleared.insert(live.begin(), live.end());
            live.clear();
        }
        clears = seen;
        if (enabling && offThere) {
            db.exec("UPDATE keeping SET off = 0");
        }
        apply(ops);
        db.exec("COMMIT");
        enabling = false;
        return Outcome::Done;
    } catch (const sql::Error& e) {
        reason = reasonOf(e);
        db.rollback();
        std::tie(run, started) = before;
        if (damaged(e.rc)) {
            db.close(); // opened again, its check sets it aside
        }
        return busy(e.rc) ? Outcome::Busy : Outcome::Retry;
    }
}

void TapeStore::Shared::apply(std::span<const Op> ops) {
    const bool adds =
        std::any_of(ops.begin(), ops.end(), [](const Op& op) { return op.kind == Op::Add; });
    if (adds) {
        // Put back when another window's clear or bound took this run's row.
        db.run("INSERT OR IGNORE INTO runs(id, started) VALUES (nullif(?1, 0), ?2)", run, started);
        run = run != 0 ? run : sql::lib().last_insert_rowid(db.get());
    }
    for (const Op& op : ops) {
        // Engine numbers go into SQLite's signed integers with their order kept.
        const std::int64_t n = static_cast<std::int64_t>(op.value ^ (std::uint64_t{1} << 63));
        const std::int64_t id = static_cast<std::int64_t>(op.value);
        switch (op.kind) {
        case Op::Add: {
            const std::size_t hash = std::hash<std::string>()(op.text);
            if (const auto gone = cleared.find(op.value);
                gone != cleared.end() && (op.rewrite || gone->second == hash)) {
                break; // a line from before another window's clear, written again
            }
            if (!op.rewrite) { // a new line: no redo brings those from here on back
                cleared.erase(cleared.lower_bound(op.value), cleared.end());
            }
            live[op.value] = hash;
            if (live.size() > TapeStore::kLines) { // past the bound's, what a clear takes is gone
                live.erase(live.begin());
            }
            db.run("INSERT INTO lines(run, number, size, text, note) VALUES (?1, ?2, "
                   "length(CAST(?3 AS BLOB)) + length(CAST(?4 AS BLOB)), ?3, ?4)",
                   run, n, op.text, op.note);
            break;
        }
        case Op::Cut:
            live.erase(live.lower_bound(op.value), live.end());
            db.run("DELETE FROM lines WHERE run = ?1 AND number >= ?2", run, n);
            break;
        case Op::Remove:
            live.erase(op.value);
            db.run("DELETE FROM lines WHERE run = ?1 AND number = ?2", run, n);
            break;
        case Op::RemoveEarlier:
            db.run("DELETE FROM lines WHERE id = ?1", id);
            break;
        case Op::Note:
        case Op::NoteEarlier:
            db.run("UPDATE lines SET note = ?1, size = length(CAST(text AS BLOB)) + "
                   "length(CAST(?1 AS BLOB)) WHERE (?2 = 0 AND run = ?3 AND number = ?4) OR "
                   "(?2 = 1 AND id = ?5)",
                   op.note, std::int64_t(op.kind == Op::NoteEarlier), run, n, id);
            break;
        case Op::Run:
            // Its row now, so that the lines after it in this transaction are its.
            started = op.text;
            db.run("INSERT INTO runs(started) VALUES (?1)", started);
            run = sql::lib().last_insert_rowid(db.get());
            live.clear();
            cleared.clear();
            break;
        default: // Clear, or Disable with no run of this window's left
            live.clear();
            db.run("DELETE FROM lines");
            db.run("DELETE FROM runs WHERE id <> ?1", run);
            db.run("UPDATE keeping SET off = ?1, clears = clears + 1",
                   std::int64_t(op.kind == Op::Disable));
            ++clears;
        }
    }
    if (adds) {
        // Past either bound the oldest lines go, never the newest; sizes summed only past it.
        db.run("DELETE FROM lines WHERE id < max(coalesce((SELECT id FROM lines ORDER BY id DESC "
               "LIMIT 1 OFFSET ?1), -9e18), CASE WHEN (SELECT total(size) FROM lines) > ?2 THEN "
               "coalesce((SELECT id + 1 FROM (SELECT id, sum(size) OVER w AS t, row_number() "
               "OVER w AS k FROM lines WINDOW w AS (ORDER BY id DESC)) WHERE t > ?2 AND k > 1 "
               "ORDER BY id DESC LIMIT 1), -9e18) ELSE -9e18 END)",
               std::int64_t(TapeStore::kLines) - 1, std::int64_t(TapeStore::kBytes));
        db.run("DELETE FROM runs WHERE id <> ?1 AND NOT EXISTS (SELECT 1 FROM lines WHERE run = "
               "runs.id)",
               run);
    }
}

void TapeStore::Shared::offElsewhere() {
    off = true;
    if (events.switchedOffElsewhere) {
        events.switchedOffElsewhere();
    }
}

TapeStore::TapeStore(std::string folder, std::string started, Events events)
    : shared_(std::make_unique<Shared>(folder, std::move(started), std::move(events))) {}

TapeStore::~TapeStore() {
    if (const std::string why = finish(kExitWait); !why.empty()) {
        std::fprintf(stderr, "quillo: the tape's last changes were not written: %s\n", why.c_str());
    }
}

void TapeStore::post(std::vector<Op> ops) {
    const std::lock_guard lock(shared_->mutex);
    if (shared_->stopping || ops.empty()) {
        return;
    }
    // Under one lock, so that the thread takes them in one transaction.
    std::move(ops.begin(), ops.end(), std::back_inserter(shared_->queue));
    ++shared_->handed;
    if (!shared_->thread.joinable()) {
        shared_->thread = std::thread([shared = shared_.get()] { shared->loop(); });
    }
    shared_->wake.notify_one();
}

void TapeStore::replace(std::optional<std::uint64_t> from, std::vector<Line> lines) {
    std::vector<Op> ops;
    if (from) {
        ops.push_back({Op::Cut, *from});
    }
    for (Line& line : lines) {
        ops.push_back({Op::Add, line.number, std::move(line.text), std::move(line.note), !!from});
    }
    post(std::move(ops));
}

void TapeStore::settle() {
    std::unique_lock lock(shared_->mutex);
    const std::uint64_t target = shared_->handed;
    shared_->idle.wait(lock, [&] { return shared_->tried >= target || shared_->finished; });
}

std::string TapeStore::finish(std::chrono::milliseconds wait) {
    {
        const std::lock_guard lock(shared_->mutex);
        if (shared_->stopping || !shared_->thread.joinable()) {
            return shared_->unwritten;
        }
        // SQLite's waits and the statements in progress end at the deadline.
        shared_->exitBy = (Clock::now() + wait).time_since_epoch().count();
        shared_->stopping = true;
        shared_->wake.notify_one();
    }
    shared_->thread.join();
    shared_->events = {};
    return shared_->unwritten;
}

} // namespace quillo
