// SPDX-License-Identifier: MIT
#include "keptape.h"

#include <algorithm>
#include <ctime>
#include <new>
#include <vector>

std::string KeptTape::startedText(std::time_t started) {
    std::tm local{};
    ::localtime_r(&started, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

KeptTape::KeptTape(quillo::Session& session, std::string folder, std::time_t started, bool on,
                   std::function<bool()> wanted)
    : session_(session), started_(started), end_(session.engine().tape().end()),
      wanted_(std::move(wanted)) {
    if (folder.empty()) {
        problem_ = "This run's lines are not being kept: there is no home folder to keep them in.";
    } else {
        // Called on the store's thread: each goes on to this one.
        quillo::TapeStore::Events events;
        events.earlier = [this](quillo::Earlier read) {
            QMetaObject::invokeMethod(
                &context_, [this, read = std::move(read)]() mutable { received(std::move(read)); },
                Qt::QueuedConnection);
        };
        events.problem = [this](std::string text) {
            QMetaObject::invokeMethod(
                &context_,
                [this, text = std::move(text)]() mutable {
                    stored_ = std::move(text);
                    KeptChange change;
                    change.problem = true;
                    notify(change);
                },
                Qt::QueuedConnection);
        };
        events.switchedOffElsewhere = [this] {
            QMetaObject::invokeMethod(
                &context_, [this] { stop(); }, Qt::QueuedConnection);
        };
        store_ = std::make_unique<quillo::TapeStore>(std::move(folder), startedText(started),
                                                     std::move(events));
    }
    listening_ = session_.listen(*this);
    setOn(on);
}

KeptTape::~KeptTape() {
    listening_ = {};
    store_.reset(); // its events go no further once it is gone
}

void KeptTape::notify(const KeptChange& change) noexcept {
    listeners_.each([&](KeptTapeListener& listener) { listener.keptChanged(*this, change); });
}

// Off without deleting anything: another window did, and may have switched
// it on again since.
void KeptTape::stop() {
    if (!on_) {
        return;
    }
    on_ = false;
    earlier_.clear();
    store_->letGo();
    problem_ = "Keep tape between runs was switched off in another window: this window's "
               "lines are not kept.";
    KeptChange change;
    change.keeping = change.earlier = change.problem = true;
    notify(change);
}

void KeptTape::setOn(bool on) {
    if (on == on_ || !store_) {
        return;
    }
    on_ = on;
    earlier_.clear();
    problem_.clear();
    if (!on) {
        store_->disable();
    } else {
        store_->enable();
        const quillo::Tape& tape = session_.engine().tape();
        store_->add(shown(tape, tape.first()));
        end_ = tape.end();
    }
    KeptChange change;
    change.keeping = change.earlier = change.problem = true;
    notify(change);
}

std::vector<quillo::TapeStore::Line> KeptTape::shown(const quillo::Tape& tape,
                                                     std::uint64_t from) const {
    std::vector<quillo::TapeStore::Line> lines;
    for (std::uint64_t n = std::max(from, tape.first()); n < tape.end(); ++n) {
        if (tape.shown(n)) {
            lines.push_back({n, std::string(tape.at(n)), std::string(session_.note(n))});
        }
    }
    return lines;
}

void KeptTape::sessionChanged(const quillo::Session& session,
                              const quillo::Change& change) noexcept {
    const quillo::Tape& tape = session.engine().tape();
    const std::uint64_t from = change.from;
    const std::uint64_t end = std::exchange(end_, tape.end());
    if (change.opened) {
        started_ = std::time(nullptr);
    }
    if (!on_) {
        return;
    }
    if (wanted_ && !wanted_()) {
        stop();
        return;
    }
    try {
        if (change.opened) {
            // The run so far stays kept, as an earlier run.
            store_->beginRun(startedText(started_));
            std::vector<quillo::TapeStore::Line> lines = shown(tape, from);
            for (quillo::TapeStore::Line& line : lines) {
                line.note = session.note(line.number);
            }
            store_->add(std::move(lines));
            return;
        }
        if (change.cleared) {
            store_->clear();
        }
        for (const std::uint64_t n : change.erased) {
            store_->remove(n);
        }
        if (change.noted) {
            store_->note(*change.noted, std::string(session.note(*change.noted)));
        } else if (change.earlierNote) {
            noteEarlier(change.earlierNote->id, std::string(change.earlierNote->text));
        } else {
            // An undo or a correction: the cut and the new lines in one transaction.
            store_->replace(from < end ? std::optional(from) : std::nullopt, shown(tape, from));
        }
    } catch (const std::bad_alloc&) {
        problem_ = "Memory ran out: a line was not kept.";
        KeptChange kept;
        kept.problem = true;
        notify(kept);
    }
    if (change.cleared) {
        earlier_.clear();
        KeptChange kept;
        kept.earlier = true;
        notify(kept);
    }
}

void KeptTape::readEarlier() {
    if (on_) {
        store_->readEarlier();
    }
}

// Grouped by the run each line names: a run's lines in the order typed,
// however the windows' lines interleaved.
void KeptTape::received(quillo::Earlier read) {
    if (!on_) {
        return;
    }
    std::vector<Run> runs;
    for (const quillo::KeptRun& run : read.runs) {
        runs.push_back({run.started, {}});
    }
    for (quillo::KeptLine& line : read.lines) {
        runs.at(line.run).lines.push_back(
            {static_cast<LineId>(line.id), std::move(line.text), std::move(line.note)});
    }
    std::erase_if(runs, [](const Run& run) { return run.lines.empty(); });
    earlier_ = std::move(runs);
    KeptChange change;
    change.earlier = true;
    notify(change);
}

void KeptTape::noteEarlier(LineId id, const std::string& note) {
    if (!on_) {
        return;
    }
    store_->noteEarlier(static_cast<std::int64_t>(id), note);
    for (Run& run : earlier_) {
        for (Line& line : run.lines) {
            if (line.id == id) {
                line.note = note;
            }
        }
    }
}

void KeptTape::removeEarlier(std::span<const LineId> ids) {
    if (!on_ || ids.empty()) {
        return;
    }
    for (const LineId id : ids) {
        store_->removeEarlier(static_cast<std::int64_t>(id));
    }
    for (Run& run : earlier_) {
        std::erase_if(run.lines, [&](const Line& line) {
            return std::find(ids.begin(), ids.end(), line.id) != ids.end();
        });
    }
    KeptChange change;
    change.removed = ids;
    notify(change);
}

std::string KeptTape::problem() const {
    if (problem_.empty() || stored_.empty()) {
        return problem_.empty() ? stored_ : problem_;
    }
    return problem_ + "\n" + stored_;
}
