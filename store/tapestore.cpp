// SPDX-License-Identifier: MIT
// A line's way to the disk: the window hands it over (add, replace...), the
// store's thread takes what waits in one transaction, and commits it to
// the WAL. Opening the file and telling it apart is tapefile.cpp's.
#include "tapestore.h"

#include "tapefile.h"
#include "xdg.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <span>
#include <thread>

namespace quillo {

// A change handed to the store's thread.
struct StoreOp {
    enum class Kind : unsigned char {
        Add,
        Cut,
        Remove,
        RemoveEarlier,
        Note,
        NoteEarlier,
        Clear,
        Read,
        Disable,
        LetGo,
        Enable
    };
    Kind kind;
    std::uint64_t value = 0; // a number, or an id's bits
    std::string text = {}, note = {};
    bool rewrite = false; // an Add writing a line anew: a correction, its undo or redo
};

namespace {

using Clock = std::chrono::steady_clock;
using Kind = StoreOp::Kind;
using O = TapeFile::Outcome;
using namespace std::chrono_literals;

// Changes that wait for the database past this many are dropped, oldest first.
constexpr std::size_t kWaiting = 4 * TapeStore::kLines;

// Engine numbers go into SQLite's signed integers with their order kept.
std::int64_t stored(std::uint64_t number) {
    return static_cast<std::int64_t>(number ^ (std::uint64_t{1} << 63));
}

// Written in one transaction with the changes beside them.
bool isChange(Kind kind) {
    return kind != Kind::Read && kind != Kind::Disable && kind != Kind::LetGo &&
           kind != Kind::Enable;
}

bool has(std::span<const StoreOp> ops, std::initializer_list<Kind> kinds) {
    return std::any_of(ops.begin(), ops.end(), [&](const StoreOp& op) {
        return std::find(kinds.begin(), kinds.end(), op.kind) != kinds.end();
    });
}

std::string subject(std::span<const StoreOp> ops) {
    if (has(ops, {Kind::Clear, Kind::Disable})) {
        return "The clear has not reached the disk yet";
    }
    if (has(ops, {Kind::Remove, Kind::RemoveEarlier})) {
        return "A deleted line is not deleted from the disk yet";
    }
    return "This run's last lines are not kept yet";
}

} // namespace

struct TapeStore::Shared {
    Shared(std::string folder, std::string started, Events events)
        : file(std::move(folder), &exitBy), started(std::move(started)), events(std::move(events)) {
    }

    std::mutex mutex;
    std::condition_variable wake, idle;
    std::vector<StoreOp> queue;
    std::uint64_t handed = 0, tried = 0; // hand-overs, and those the thread has tried
    bool stopping = false, finished = false;
    std::atomic<Clock::rep> exitBy{0}; // 0 until finish()
    std::string unwritten;             // why, when the thread ended with changes waiting
    std::thread thread;

    // The store's thread's own.
    TapeFile file;
    const std::string started;
    Events events;
    bool off = false;         // nothing is written until enable()
    bool enabling = false;    // switched on here, which the next change writes
    std::int64_t run = 0;     // this run's row, once it has a line
    std::int64_t clears = -1; // the clears the tape counted when last written
    // This run's lines by number, as hashes of their text: those written,
    // and those a clear in another window took, which stay gone.
    std::map<std::uint64_t, std::size_t> live, cleared;

    void loop();
    O work(std::vector<StoreOp>& pending);
    O step(std::span<StoreOp> ops);
    O write(std::span<const StoreOp> ops, bool switchOff);
    int apply(sql::Database& db, std::span<const StoreOp> ops);
    template <typename F> void tell(F f) { f(events); }
};

void TapeStore::Shared::loop() {
    std::vector<StoreOp> pending;
    std::string told;
    O outcome = O::Done;
    for (;;) {
        std::uint64_t taken;
        bool last, stop;
        {
            std::unique_lock lock(mutex);
            const auto due = [&] { return !queue.empty() || stopping; };
            if (pending.empty() && !file.scrubDue) {
                wake.wait(lock, due);
            } else {
                // Busy: SQLite has waited already. A full disk, or deleted
                // text a reader holds in the WAL: looked at again in a while.
                wake.wait_for(lock, outcome == O::Busy ? 0ms : outcome == O::Retry ? 2s : 1s, due);
            }
            std::move(queue.begin(), queue.end(), std::back_inserter(pending));
            queue.clear();
            taken = handed;
            stop = stopping;
            // A full disk at the end is not waited for; another window is, to the deadline.
            last = stopping && (outcome == O::Retry ||
                                Clock::now().time_since_epoch().count() >= exitBy.load());
        }
        outcome = work(pending);
        if (pending.size() > kWaiting) {
            pending.erase(pending.begin(), pending.end() - kWaiting);
            file.notice("Some lines of this run were not kept: the tape could not be written "
                        "for too long.");
        }
        if (std::string now = file.problem(); now != told) {
            told = now;
            tell([&](Events& e) { e.problem ? e.problem(std::move(now)) : void(); });
        }
        const bool end = stop && (pending.empty() || last);
        if (end) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                Clock::duration(exitBy.load()) - Clock::now().time_since_epoch());
            file.scrub(std::max(left, 0ms));
            file.close();
        }
        const std::lock_guard lock(mutex);
        tried = taken;
        if (end) {
            if (has(pending, {Kind::Add, Kind::Cut, Kind::Remove, Kind::RemoveEarlier, Kind::Note,
                              Kind::NoteEarlier, Kind::Clear, Kind::Disable})) {
                unwritten = outcome == O::Busy
                                ? "another window or program held it past the exit wait"
                                : file.reason;
                unwritten = unwritten.empty() ? "the exit wait ran out" : unwritten;
            }
            finished = true;
        }
        idle.notify_all();
        if (end) {
            return;
        }
    }
}

// What was handed over, in order: each run of changes in one transaction,
// reads answered while changes wait; what could not be written stays.
O TapeStore::Shared::work(std::vector<StoreOp>& pending) {
    std::vector<StoreOp> waiting;
    O outcome = O::Done;
    for (std::size_t i = 0, end; i < pending.size(); i = end) {
        end = i + 1;
        while (isChange(pending[i].kind) && end < pending.size() && isChange(pending[end].kind)) {
            ++end;
        }
        const std::span ops(pending.begin() + static_cast<std::ptrdiff_t>(i), end - i);
        if (ops[0].kind == Kind::Read) {
            Earlier earlier;
            if (!off && file.read(run, earlier) == O::Off && !off) {
                off = true; // switched off by another window
                tell([](Events& e) { e.switchedOffElsewhere ? e.switchedOffElsewhere() : void(); });
            }
            tell([&](Events& e) { e.earlier ? e.earlier(std::move(earlier)) : void(); });
            continue;
        }
        if (outcome == O::Done) {
            outcome = step(ops);
        }
        if (outcome == O::Busy || outcome == O::Retry) {
            std::move(ops.begin(), ops.end(), std::back_inserter(waiting));
        }
    }
    pending = std::move(waiting);
    return outcome;
}

// One transaction, or a switch: Busy or Retry when it is to be tried again.
O TapeStore::Shared::step(std::span<StoreOp> ops) {
    const Kind kind = ops[0].kind;
    if (kind == Kind::LetGo || (off && kind != Kind::Enable && kind != Kind::Disable)) {
        off = true;
        return O::Done;
    }
    if (kind == Kind::Enable) {
        // Written with the next change: switched on, a run that keeps
        // nothing still loads nothing.
        off = false, enabling = true;
        run = 0, clears = -1, live.clear(), cleared.clear();
        return O::Done;
    }
    const O outcome = write(ops, kind == Kind::Disable);
    if (outcome == O::Busy || outcome == O::Retry) {
        file.failure = subject(ops) + ": " + file.reason + ".";
        return outcome;
    }
    if (file.failure.starts_with(subject(ops))) {
        file.failure.clear();
    }
    if (kind == Kind::Disable) {
        off = true;
        run = 0, clears = -1, live.clear(), cleared.clear();
    } else if (outcome == O::Off) {
        off = true;
        tell([](Events& e) { e.switchedOffElsewhere ? e.switchedOffElsewhere() : void(); });
    } else if (outcome == O::Failed) {
        off = true; // nothing can be kept this run
    }
    if (outcome == O::Done &&
        has(ops, {Kind::Clear, Kind::Disable, Kind::Cut, Kind::Remove, Kind::RemoveEarlier})) {
        file.scrubDue = true;
        file.scrub(0ms);
    }
    return O::Done;
}

// In one BEGIN IMMEDIATE, with the switch read from the tape: no window
// writes once another has switched the keeping off.
O TapeStore::Shared::write(std::span<const StoreOp> ops, bool switchOff) {
    O outcome = file.open(!switchOff); // switched off without a tape: nothing to remove
    if (outcome != O::Done) {
        return outcome == O::Off && switchOff ? O::Done : outcome;
    }
    sql::Database& db = file.db();
    int rc = db.run("BEGIN IMMEDIATE");
    sql::Statement& keeping = db.cached("SELECT off, clears FROM keeping");
    rc = rc != SQLITE_DONE ? rc : keeping ? keeping.step() : db.error();
    if (rc == SQLITE_ROW) {
        const bool offThere = keeping.integer(0) != 0;
        const std::int64_t seen = keeping.integer(1);
        keeping.reset();
        if (offThere && !switchOff && !enabling) {
            db.run("ROLLBACK");
            return O::Off;
        }
        // A clear in another window since: this run's lines so far stay gone.
        if (clears >= 0 && seen != clears) {
            for (const auto& [n, hash] : live) {
                cleared[n] = hash;
            }
            live.clear();
        }
        clears = seen;
        if (switchOff) {
            rc = db.run("DELETE FROM lines");
            rc = rc == SQLITE_DONE ? db.run("DELETE FROM runs") : rc;
            rc = rc == SQLITE_DONE ? db.run("UPDATE keeping SET off = 1, clears = clears + 1") : rc;
        } else {
            rc = enabling && offThere ? db.run("UPDATE keeping SET off = 0") : SQLITE_DONE;
            rc = rc == SQLITE_DONE ? apply(db, ops) : rc;
        }
    }
    rc = rc == SQLITE_DONE ? db.run("COMMIT") : rc;
    if (rc == SQLITE_DONE) {
        enabling = false;
        return O::Done;
    }
    file.reason = sqlReason(rc, db.systemErrno());
    db.run("ROLLBACK");
    if (damaged(rc) && file.setAsideDamaged()) {
        return write(ops, switchOff);
    }
    return busy(rc) ? O::Busy : O::Retry;
}

int TapeStore::Shared::apply(sql::Database& db, std::span<const StoreOp> ops) {
    int rc = SQLITE_DONE;
    const bool adds = has(ops, {Kind::Add});
    if (adds && run == 0) {
        rc = db.run("INSERT INTO runs(started) VALUES (?1)", started);
        run = sql::lib().last_insert_rowid(db.get());
    } else if (adds) {
        // Put back when another window's clear or bound took this run's row.
        rc = db.run("INSERT OR IGNORE INTO runs(id, started) VALUES (?1, ?2)", run, started);
    }
    for (auto op = ops.begin(); rc == SQLITE_DONE && op != ops.end(); ++op) {
        const std::int64_t n = stored(op->value);
        switch (op->kind) {
        case Kind::Add: {
            const std::size_t hash = std::hash<std::string>()(op->text);
            const auto gone = cleared.find(op->value);
            if (gone != cleared.end() && (op->rewrite || gone->second == hash)) {
                break; // a line from before another window's clear, written again
            }
            if (!op->rewrite) { // a new line: no redo brings those after it back
                cleared.erase(cleared.lower_bound(op->value), cleared.end());
            }
            live[op->value] = hash;
            rc = db.run("INSERT INTO lines(run, number, size, text, note) VALUES (?1, ?2, "
                        "length(CAST(?3 AS BLOB)) + length(CAST(?4 AS BLOB)), ?3, ?4)",
                        run, n, op->text, op->note);
            if ((rc & 0xff) == SQLITE_TOOBIG) {
                file.notice("A line was too long to keep.");
                rc = SQLITE_DONE;
            }
            break;
        }
        case Kind::Cut:
            live.erase(live.lower_bound(op->value), live.end());
            rc = db.run("DELETE FROM lines WHERE run = ?1 AND number >= ?2", run, n);
            break;
        case Kind::Remove:
            live.erase(op->value);
            rc = db.run("DELETE FROM lines WHERE run = ?1 AND number = ?2", run, n);
            break;
        case Kind::RemoveEarlier:
            rc = db.run("DELETE FROM lines WHERE id = ?1", static_cast<std::int64_t>(op->value));
            break;
        case Kind::Note:
            rc = db.run("UPDATE lines SET note = ?3, size = length(CAST(text AS BLOB)) + "
                        "length(CAST(?3 AS BLOB)) WHERE run = ?1 AND number = ?2",
                        run, n, op->note);
            break;
        case Kind::NoteEarlier:
            rc = db.run("UPDATE lines SET note = ?2, size = length(CAST(text AS BLOB)) + "
                        "length(CAST(?2 AS BLOB)) WHERE id = ?1",
                        static_cast<std::int64_t>(op->value), op->note);
            break;
        case Kind::Clear:
            live.clear();
            rc = db.run("DELETE FROM lines");
            rc = rc == SQLITE_DONE ? db.run("DELETE FROM runs WHERE id <> ?1", run) : rc;
            rc = rc == SQLITE_DONE ? db.run("UPDATE keeping SET clears = clears + 1") : rc;
            ++clears;
            break;
        default:
            break;
        }
    }
    if (rc == SQLITE_DONE && adds) {
        // Past either bound the oldest lines go, never the newest. The
        // running sum of sizes is taken only when the total is past it.
        rc = db.run(
            "DELETE FROM lines WHERE id < max(coalesce((SELECT id FROM lines ORDER BY id DESC "
            "LIMIT 1 OFFSET ?1), -9e18), CASE WHEN (SELECT total(size) FROM lines) > ?2 THEN "
            "coalesce((SELECT id + 1 FROM (SELECT id, sum(size) OVER w AS t, row_number() OVER "
            "w AS k FROM lines WINDOW w AS (ORDER BY id DESC)) WHERE t > ?2 AND k > 1 ORDER BY "
            "id DESC LIMIT 1), -9e18) ELSE -9e18 END)",
            std::int64_t(TapeStore::kLines) - 1, std::int64_t(TapeStore::kBytes));
        rc = rc == SQLITE_DONE ? db.run("DELETE FROM runs WHERE id <> ?1 AND NOT EXISTS "
                                        "(SELECT 1 FROM lines WHERE run = runs.id)",
                                        run)
                               : rc;
    }
    return rc;
}

TapeStore::TapeStore(std::string folder, std::time_t started, Events events)
    : shared_(
          std::make_unique<Shared>(std::move(folder), startedText(started), std::move(events))) {}

TapeStore::~TapeStore() {
    if (const std::string why = finish(kExitWait); !why.empty()) {
        std::fprintf(stderr, "quillo: the tape's last changes were not written: %s\n", why.c_str());
    }
}

void TapeStore::post(std::vector<StoreOp> ops) {
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

void TapeStore::add(std::vector<Line> lines) {
    replace(std::nullopt, std::move(lines));
}

void TapeStore::replace(std::optional<std::uint64_t> from, std::vector<Line> lines) {
    std::vector<StoreOp> ops;
    if (from) {
        ops.push_back({Kind::Cut, *from});
    }
    for (Line& line : lines) {
        ops.push_back(
            {Kind::Add, line.number, std::move(line.text), std::move(line.note), from.has_value()});
    }
    post(std::move(ops));
}

void TapeStore::cut(std::uint64_t from) {
    post({{Kind::Cut, from}});
}

void TapeStore::remove(std::uint64_t number) {
    post({{Kind::Remove, number}});
}

void TapeStore::removeEarlier(std::int64_t id) {
    post({{Kind::RemoveEarlier, static_cast<std::uint64_t>(id)}});
}

void TapeStore::note(std::uint64_t number, std::string text) {
    post({{Kind::Note, number, {}, std::move(text)}});
}

void TapeStore::noteEarlier(std::int64_t id, std::string text) {
    post({{Kind::NoteEarlier, static_cast<std::uint64_t>(id), {}, std::move(text)}});
}

void TapeStore::clear() {
    post({{Kind::Clear}});
}

void TapeStore::readEarlier() {
    post({{Kind::Read}});
}

void TapeStore::disable() {
    post({{Kind::Disable}});
}

void TapeStore::letGo() {
    post({{Kind::LetGo}});
}

void TapeStore::enable() {
    post({{Kind::Enable}});
}

void TapeStore::settle() {
    std::unique_lock lock(shared_->mutex);
    const std::uint64_t target = shared_->handed;
    shared_->idle.wait(lock, [&] { return shared_->tried >= target || shared_->finished; });
}

std::string TapeStore::finish(std::chrono::milliseconds wait) {
    {
        const std::lock_guard lock(shared_->mutex);
        if (!shared_->thread.joinable()) {
            return shared_->unwritten;
        }
        // SQLite's waits and the statements' progress end at the deadline.
        shared_->exitBy = (Clock::now() + wait).time_since_epoch().count();
        shared_->stopping = true;
        shared_->wake.notify_one();
    }
    shared_->thread.join();
    shared_->events = {};
    return shared_->unwritten;
}

std::string TapeStore::startedText(std::time_t started) {
    std::tm local{};
    ::localtime_r(&started, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

std::string TapeStore::defaultFolder() {
    const std::string state = xdgFolder("XDG_STATE_HOME", ".local/state");
    return state.empty() ? state : state + "/quillo";
}

} // namespace quillo
