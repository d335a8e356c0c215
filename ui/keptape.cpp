// SPDX-License-Identifier: MIT
#include "keptape.h"

#include <algorithm>
#include <new>
#include <vector>

KeptTape::Listening::~Listening() {
    if (const auto registry = registry_.lock()) {
        std::erase(*registry, listener_);
    }
}

KeptTape::Listening& KeptTape::Listening::operator=(Listening&& other) noexcept {
    if (this != &other) {
        Listening gone(std::move(*this));
        registry_ = std::move(other.registry_);
        listener_ = std::exchange(other.listener_, nullptr);
    }
    return *this;
}

KeptTape::KeptTape(quillo::Session& session, std::string folder, std::time_t started, bool on)
    : session_(session), folder_(std::move(folder)), started_(started),
      end_(session.engine().tape().end()) {
    session_.addListener(this);
    setOn(on);
}

KeptTape::~KeptTape() {
    session_.removeListener(this);
    sync();
}

KeptTape::Listening KeptTape::listen(KeptTapeListener& listener) {
    listeners_->push_back(&listener);
    return Listening(listeners_, &listener);
}

void KeptTape::notify(const KeptChange& change) noexcept {
    // A copy: a listener may stop listening while told.
    const Listening::Registry listeners = *listeners_;
    for (KeptTapeListener* listener : listeners) {
        listener->keptChanged(*this, change);
    }
}

void KeptTape::setOn(bool on) {
    if (on == this->on()) {
        return;
    }
    const std::string before = problem();
    if (!on) {
        store_->disable();
        problem_ = store_->problem();
        store_.reset();
        ids_.clear();
    } else if (folder_.empty()) {
        problem_ = "This run's lines are not being kept: there is no home folder to keep them in.";
    } else {
        store_ = std::make_unique<quillo::TapeStore>(folder_, started_);
        const quillo::Tape& tape = session_.engine().tape();
        keepShown(tape, tape.first());
        end_ = tape.end();
    }
    KeptChange change;
    change.earlier = change.keeping = true;
    change.problem = problem() != before;
    notify(change);
}

void KeptTape::keepShown(const quillo::Tape& tape, std::uint64_t from) {
    std::vector<quillo::TapeStore::Line> lines;
    for (std::uint64_t n = std::max(from, tape.first()); n < tape.end(); ++n) {
        if (tape.shown(n)) {
            lines.push_back({n, tape.at(n)});
        }
    }
    if (!lines.empty()) {
        store_->add(lines);
    }
}

void KeptTape::sessionChanged(const quillo::Session& session,
                              const quillo::Change& change) noexcept {
    const quillo::Tape& tape = session.engine().tape();
    if (!store_) {
        end_ = tape.end();
        return;
    }
    const std::string before = problem();
    try {
        if (change.cleared) {
            store_->clear();
        }
        for (const std::uint64_t n : change.erased) {
            store_->remove("", n);
        }
        if (change.from < end_) {
            store_->cut(change.from);
        }
        keepShown(tape, change.from);
    } catch (const std::bad_alloc&) {
        // The store says nothing of it: the line is lost to the kept tape only.
    }
    end_ = tape.end();
    if (change.cleared) {
        ids_.clear();
    }
    const bool problem = this->problem() != before;
    if (problem || change.cleared) {
        KeptChange kept;
        kept.earlier = change.cleared;
        kept.problem = problem;
        notify(kept);
    }
}

std::vector<KeptTape::Run> KeptTape::earlier() {
    std::vector<Run> runs;
    ids_.clear();
    if (!store_) {
        return runs;
    }
    const std::string before = problem();
    quillo::Earlier read = store_->readEarlier();
    for (std::size_t run = 0, line = 0; run < read.runs.size(); ++run) {
        Run out{read.runs[run].started, {}};
        for (; line < read.lines.size() && read.lines[line].run == run; ++line) {
            out.lines.push_back({ids_.size(), std::move(read.lines[line].text)});
            ids_.emplace_back(read.runs[run].id, read.lines[line].number);
        }
        if (!out.lines.empty()) {
            runs.push_back(std::move(out));
        }
    }
    if (problem() != before) {
        KeptChange change;
        change.problem = true;
        notify(change);
    }
    return runs;
}

void KeptTape::removeEarlier(std::span<const LineId> ids) {
    if (!store_ || ids.empty()) {
        return;
    }
    const std::string before = problem();
    for (const LineId id : ids) {
        if (id < ids_.size()) {
            store_->remove(ids_[id].first, ids_[id].second);
        }
    }
    KeptChange change;
    change.removed = ids;
    change.problem = problem() != before;
    notify(change);
}

std::string KeptTape::problem() const {
    return store_ ? store_->problem() : problem_;
}

void KeptTape::sync() noexcept {
    if (store_) {
        store_->sync();
    }
}
