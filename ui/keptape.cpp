// SPDX-License-Identifier: MIT
#include "keptape.h"

#include <algorithm>
#include <new>
#include <vector>

namespace {

// How soon what waits for the database is tried again, and the WAL looked
// at, after a step: long enough to stay off the key path while typing.
constexpr int kFlushMilliseconds = 500;

} // namespace

KeptTape::KeptTape(quillo::Session& session, std::string folder, std::time_t started, bool on,
                   std::function<bool()> wanted)
    : session_(session), folder_(std::move(folder)), started_(started),
      end_(session.engine().tape().end()), wanted_(std::move(wanted)) {
    flush_.setSingleShot(true);
    flush_.setInterval(kFlushMilliseconds);
    flush_.callOnTimeout([this] { flush(); });
    listening_ = session_.listen(*this);
    setOn(on);
}

KeptTape::~KeptTape() {
    sync();
}

void KeptTape::notify(const KeptChange& change) noexcept {
    listeners_.each([&](KeptTapeListener& listener) { listener.keptChanged(*this, change); });
}

std::uint64_t KeptTape::problemSerial() const noexcept {
    return serial_ + (store_ ? store_->problemSerial() : 0);
}

void KeptTape::settle(std::uint64_t problemBefore, bool wasOn) noexcept {
    if (store_ && store_->switchedOffElsewhere()) {
        stop(); // the database it had was deleted by another window's switch
    }
    KeptChange change;
    change.keeping = wasOn != on();
    change.earlier = change.keeping;
    change.problem = problemSerial() != problemBefore;
    if (change.keeping || change.problem) {
        notify(change);
    }
}

// Off without deleting anything: another window did, and may have started a
// new tape since.
void KeptTape::stop() {
    flush_.stop();
    store_.reset();
    problem_ = "Keep tape between runs was switched off in another window: this window's "
               "lines are not kept.";
    ++serial_;
}

void KeptTape::setOn(bool on) {
    if (on == this->on()) {
        return;
    }
    const std::uint64_t before = problemSerial();
    const bool wasOn = this->on();
    if (!on) {
        flush_.stop();
        store_->disable();
        problem_ = store_->problem();
        store_.reset();
        ++serial_;
    } else if (folder_.empty()) {
        problem_ = "This run's lines are not being kept: there is no home folder to keep them in.";
        ++serial_;
    } else {
        store_ = std::make_unique<quillo::TapeStore>(folder_, started_);
        problem_.clear();
        const quillo::Tape& tape = session_.engine().tape();
        const auto lines = shown(tape, tape.first());
        if (!lines.empty()) {
            store_->add(lines);
            later();
        }
        end_ = tape.end();
    }
    settle(before, wasOn);
}

std::vector<quillo::TapeStore::Line> KeptTape::shown(const quillo::Tape& tape,
                                                     std::uint64_t from) const {
    std::vector<quillo::TapeStore::Line> lines;
    for (std::uint64_t n = std::max(from, tape.first()); n < tape.end(); ++n) {
        if (tape.shown(n)) {
            lines.push_back({n, tape.at(n)});
        }
    }
    return lines;
}

void KeptTape::sessionChanged(const quillo::Session& session,
                              const quillo::Change& change) noexcept {
    const quillo::Tape& tape = session.engine().tape();
    const std::uint64_t from = change.from;
    const std::uint64_t end = std::exchange(end_, tape.end());
    if (!store_) {
        return;
    }
    const std::uint64_t before = problemSerial();
    try {
        if (wanted_ && !wanted_()) {
            stop();
        } else {
            if (change.cleared) {
                store_->clear();
            }
            for (const std::uint64_t n : change.erased) {
                store_->remove(n);
            }
            const auto lines = shown(tape, from);
            if (from < end) {
                store_->replace(from, lines); // undo, or a correction: one transaction
            } else if (!lines.empty()) {
                store_->add(lines);
            }
            later();
        }
    } catch (const std::bad_alloc&) {
        problem_ = "Memory ran out: a line was not kept.";
        ++serial_;
    }
    settle(before, true);
    if (change.cleared && store_) {
        KeptChange kept;
        kept.earlier = true;
        notify(kept);
    }
}

// What waits is tried again, and the WAL checkpointed, once typing pauses.
void KeptTape::later() {
    if (!flush_.isActive()) {
        flush_.start();
    }
}

void KeptTape::flush() noexcept {
    if (!store_) {
        return;
    }
    const std::uint64_t before = problemSerial();
    store_->flush();
    if (store_->pending()) {
        later();
    }
    settle(before, true);
}

std::vector<KeptTape::Run> KeptTape::earlier() {
    std::vector<Run> runs;
    if (!store_) {
        return runs;
    }
    const std::uint64_t before = problemSerial();
    quillo::Earlier read = store_->readEarlier();
    for (std::size_t run = 0, line = 0; run < read.runs.size(); ++run) {
        Run out{read.runs[run].started, {}};
        for (; line < read.lines.size() && read.lines[line].run == run; ++line) {
            out.lines.push_back(
                {static_cast<LineId>(read.lines[line].id), std::move(read.lines[line].text)});
        }
        if (!out.lines.empty()) {
            runs.push_back(std::move(out));
        }
    }
    settle(before, true);
    return runs;
}

void KeptTape::removeEarlier(std::span<const LineId> ids) {
    if (!store_ || ids.empty()) {
        return;
    }
    const std::uint64_t before = problemSerial();
    for (const LineId id : ids) {
        store_->removeEarlier(static_cast<std::int64_t>(id));
    }
    later();
    KeptChange change;
    change.removed = ids;
    change.problem = problemSerial() != before;
    notify(change);
}

std::string KeptTape::problem() const {
    return store_ ? store_->problem() : problem_;
}

void KeptTape::sync() noexcept {
    flush_.stop();
    if (store_) {
        store_->close();
    }
}
