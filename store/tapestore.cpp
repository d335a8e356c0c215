// SPDX-License-Identifier: MIT
#include "tapestore.h"

#include "tapefile.h"
#include "xdg.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace quillo {
namespace {

using Clock = TapeFile::Clock;
using Kind = StoreOp::Kind;

// Changes that wait for the database past this many are dropped, oldest first.
constexpr std::size_t kWaiting = 4 * TapeStore::kLines;

} // namespace

// What the calling thread and the store's thread share, kept alive by the
// store's thread too: past the exit wait it may outlive the store.
struct TapeStore::Shared {
    std::string folder, started;
    std::function<bool()> wanted;

    std::mutex mutex;
    std::condition_variable wake, idle;
    std::vector<StoreOp> queue;
    std::uint64_t handed = 0, tried = 0; // ops handed over, and tried by the thread
    bool running = false, stopping = false, finished = false;
    std::size_t lost = 0; // lines not written by the end
    Clock::time_point exitBy{};
    TapeFile* file = nullptr;

    std::mutex eventsMutex;
    Events events;
    template <typename F> void tell(F&& f) {
        const std::lock_guard lock(eventsMutex);
        f(events);
    }

    void run();
    // Works through what was handed over, in order; what could not be
    // written stays in `pending`, and the outcome says why.
    TapeFile::Outcome work(TapeFile& file, std::vector<StoreOp>& pending, bool& off);
};

TapeFile::Outcome TapeStore::Shared::work(TapeFile& file, std::vector<StoreOp>& pending,
                                          bool& off) {
    using O = TapeFile::Outcome;
    auto outcome = O::Done;
    std::vector<StoreOp> writes;
    // The changes so far in one transaction, unless earlier ones wait.
    const auto write = [&] {
        if (writes.empty() || outcome != O::Done) {
            return;
        }
        outcome = off ? O::Off : file.write(writes);
        if (outcome == O::Off && !off) {
            tell([](Events& e) { e.switchedOffElsewhere ? e.switchedOffElsewhere() : void(); });
        }
        if (outcome != O::Busy && outcome != O::Retry) {
            off = off || outcome != O::Done; // switched off, or nothing can be kept this run
            outcome = O::Done;
            writes.clear();
        }
    };
    for (StoreOp& op : pending) {
        if (op.kind != Kind::Read && op.kind != Kind::Disable && op.kind != Kind::Enable) {
            writes.push_back(std::move(op));
            continue;
        }
        write();
        if (op.kind == Kind::Read) {
            // Answered while changes wait, as far as the database can be read.
            Earlier earlier;
            if (!off && file.read(earlier) == O::Off) {
                off = true;
                tell([](Events& e) { e.switchedOffElsewhere ? e.switchedOffElsewhere() : void(); });
            }
            tell([&](Events& e) { e.earlier ? e.earlier(std::move(earlier)) : void(); });
        } else if (op.kind == Kind::Disable) {
            writes.clear(); // moot: nothing more is kept
            outcome = O::Done;
            file.disable(op.value == 0 || (wanted && !wanted()));
            off = true;
        } else {
            file.enable();
            off = false;
        }
    }
    write();
    pending = std::move(writes);
    return outcome;
}

void TapeStore::Shared::run() {
    TapeFile file(folder, started, wanted);
    std::vector<StoreOp> pending;
    bool off = false;
    std::string told;
    auto outcome = TapeFile::Outcome::Done;
    {
        const std::lock_guard lock(mutex);
        this->file = &file;
        if (stopping) {
            file.exitBy(exitBy);
        }
    }
    for (;;) {
        std::uint64_t taken;
        bool last;
        const bool clean = file.scrub();
        {
            std::unique_lock lock(mutex);
            const auto retry = outcome == TapeFile::Outcome::Busy ? std::chrono::milliseconds(50)
                               : outcome == TapeFile::Outcome::Retry
                                   ? std::chrono::milliseconds(2000)
                               : clean ? std::chrono::milliseconds(0)
                                       : std::chrono::milliseconds(1000);
            auto due = [&] { return !queue.empty() || stopping; };
            if (retry.count() == 0) {
                wake.wait(lock, due);
            } else {
                wake.wait_for(lock, retry, due);
            }
            for (StoreOp& op : queue) {
                pending.push_back(std::move(op));
            }
            queue.clear();
            taken = handed;
            // A full disk at the end is not waited for; another window is, to the deadline.
            last = stopping && (outcome == TapeFile::Outcome::Retry || Clock::now() >= exitBy);
        }
        outcome = work(file, pending, off);
        if (pending.size() > kWaiting) {
            pending.erase(pending.begin(), pending.end() - kWaiting);
            file.notice("Some lines of this run were not kept: the tape could not be written "
                        "for too long.");
        }
        if (std::string now = file.problem(); now != told) {
            told = now;
            tell([&](Events& e) { e.problem ? e.problem(std::move(now)) : void(); });
        }
        const std::lock_guard lock(mutex);
        tried = taken;
        idle.notify_all();
        // What was handed over while this pass worked is the next pass's.
        if (stopping && ((pending.empty() && queue.empty()) || last)) {
            pending.insert(pending.end(), queue.begin(), queue.end());
            lost = static_cast<std::size_t>(std::count_if(
                pending.begin(), pending.end(), [](auto& op) { return op.kind == Kind::Add; }));
            file.close();
            this->file = nullptr;
            finished = true;
            return;
        }
    }
}

TapeStore::TapeStore(std::string folder, std::time_t started, std::function<bool()> wanted,
                     Events events)
    : shared_(std::make_shared<Shared>()) {
    shared_->folder = std::move(folder);
    shared_->started = startedText(started);
    shared_->wanted = std::move(wanted);
    shared_->events = std::move(events);
}

TapeStore::~TapeStore() {
    if (!finish(kExitWait)) {
        std::fprintf(stderr,
                     "quillo: the tape's last changes were not written: another window or "
                     "program held it past %lld s\n",
                     static_cast<long long>(kExitWait.count()));
    }
}

void TapeStore::post(std::vector<StoreOp> ops) {
    const std::lock_guard lock(shared_->mutex);
    if (shared_->stopping || ops.empty()) {
        return;
    }
    // Under one lock, so that the thread takes them in one transaction.
    shared_->queue.insert(shared_->queue.end(), std::make_move_iterator(ops.begin()),
                          std::make_move_iterator(ops.end()));
    ++shared_->handed;
    if (!shared_->running) {
        shared_->running = true;
        // Detached: past the exit wait it is left to end with the process.
        std::thread([shared = shared_] { shared->run(); }).detach();
    }
    shared_->wake.notify_one();
}

void TapeStore::add(std::vector<Line> lines) {
    replace(std::nullopt, std::move(lines));
}

void TapeStore::replace(std::optional<std::uint64_t> from, std::vector<Line> lines) {
    std::vector<StoreOp> ops;
    if (from) {
        ops.push_back({Kind::Cut, *from, {}});
    }
    for (Line& line : lines) {
        ops.push_back({Kind::Add, line.number, std::move(line.text), std::move(line.note)});
    }
    post(std::move(ops));
}

void TapeStore::cut(std::uint64_t from) {
    post({{Kind::Cut, from, {}}});
}

void TapeStore::remove(std::uint64_t number) {
    post({{Kind::Remove, number, {}}});
}

void TapeStore::removeEarlier(std::int64_t id) {
    post({{Kind::RemoveEarlier, static_cast<std::uint64_t>(id), {}}});
}

void TapeStore::beginRun(std::time_t started) {
    post({{Kind::Run, 0, startedText(started)}});
}

void TapeStore::note(std::uint64_t number, std::string text) {
    post({{Kind::Note, number, {}, std::move(text)}});
}

void TapeStore::noteEarlier(std::int64_t id, std::string text) {
    post({{Kind::NoteEarlier, static_cast<std::uint64_t>(id), {}, std::move(text)}});
}

void TapeStore::clear() {
    post({{Kind::Clear, 0, {}}});
}

void TapeStore::readEarlier() {
    post({{Kind::Read, 0, {}}});
}

void TapeStore::disable() {
    post({{Kind::Disable, 0, {}}});
}

void TapeStore::letGo() {
    post({{Kind::Disable, 1, {}}});
}

void TapeStore::enable() {
    post({{Kind::Enable, 0, {}}});
}

void TapeStore::settle() {
    std::unique_lock lock(shared_->mutex);
    const std::uint64_t target = shared_->handed;
    shared_->idle.wait(lock, [&] { return shared_->tried >= target || shared_->finished; });
}

bool TapeStore::finish(std::chrono::milliseconds wait) {
    bool done = true;
    {
        std::unique_lock lock(shared_->mutex);
        if (shared_->running && !shared_->stopping) {
            shared_->stopping = true;
            shared_->exitBy = Clock::now() + wait;
            if (shared_->file != nullptr) {
                shared_->file->exitBy(shared_->exitBy);
            }
            shared_->wake.notify_one();
        }
        if (shared_->running) {
            // A little past the deadline for the last sync and close.
            done = shared_->idle.wait_until(lock, shared_->exitBy + std::chrono::seconds(2), [&] {
                return shared_->finished;
            }) && shared_->lost == 0;
        }
    }
    const std::lock_guard lock(shared_->eventsMutex);
    shared_->events = {};
    return done;
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
