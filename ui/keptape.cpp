// SPDX-License-Identifier: MIT
#include "keptape.h"

#include <new>
#include <vector>

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

void KeptTape::setOn(bool on) {
    if (on == this->on()) {
        return;
    }
    if (!on) {
        store_->disable();
        problem_ = store_->problem();
        store_.reset();
        return;
    }
    if (folder_.empty()) {
        problem_ = "This run's lines are not being kept: there is no home folder to keep them in.";
        return;
    }
    store_ = std::make_unique<quillo::TapeStore>(folder_, started_);
    const quillo::Tape& tape = session_.engine().tape();
    keepShown(tape, tape.first());
    end_ = tape.end();
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
}

quillo::Earlier KeptTape::readEarlier() {
    return store_ ? store_->readEarlier() : quillo::Earlier{};
}

void KeptTape::remove(const std::string& run, std::uint64_t number) {
    if (store_) {
        store_->remove(run, number);
    }
}

std::string KeptTape::problem() const {
    return store_ ? store_->problem() : problem_;
}

void KeptTape::sync() noexcept {
    if (store_) {
        store_->sync();
    }
}
