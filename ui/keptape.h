// SPDX-License-Identifier: MIT
#pragma once

#include "session.h"
#include "tapestore.h"

#include <QObject>

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

class KeptTape;

// What a notice of the kept tape is about.
struct KeptChange {
    bool earlier = false;                   // the earlier runs' lines are to be shown anew
    std::span<const std::uint64_t> removed; // ...or only these of them are gone
    bool keeping = false;                   // on() changed
    bool problem = false;                   // problem() changed
};

class KeptTapeListener {
public:
    virtual void keptChanged(const KeptTape& kept, const KeptChange& change) noexcept = 0;

protected:
    ~KeptTapeListener() = default;
};

// The session's tape kept between runs: it follows the session's notices and
// hands what each step changed to the store, whose own thread writes it
// within milliseconds, so that a crash or a kill loses no line the window
// showed and no key waits for the disk. The store's answers (the earlier
// runs' lines, problems) come back to this thread as queued calls.
//
// Switched off in another window, it stops keeping at its next line (the
// settings say so), and keeps again only once switched back on in this
// window; a later start follows the setting.
class KeptTape : public quillo::SessionListener {
public:
    // A run's start as its heading shows it, local time "2026-12-07 14:30".
    static std::string startedText(std::time_t started);
    // An earlier run's line, by an id of the kept tape's own.
    using LineId = std::uint64_t;
    struct Line {
        LineId id;
        std::string text;
        std::string note{};
    };
    struct Run {
        std::string started; // local time, "2026-12-07 14:30"; "" when not known
        std::vector<Line> lines;
    };

    using Listening = quillo::Listeners<KeptTapeListener>::Subscription;

    // Keeps nothing until `on`; starts no thread and touches no file until
    // the first line. `wanted` says whether the keeping is still on for every
    // window, asked here before each step's lines are kept; the store learns
    // the same from the tape itself.
    KeptTape(quillo::Session& session, std::string folder, std::time_t started, bool on,
             std::function<bool()> wanted = {});
    // Waits for the store to write what it was handed (TapeStore::kExitWait at most).
    ~KeptTape();
    KeptTape(const KeptTape&) = delete;
    KeptTape& operator=(const KeptTape&) = delete;

    // Told of every change until the subscription goes; either side may go first.
    [[nodiscard]] Listening listen(KeptTapeListener& listener) { return listeners_.add(listener); }

    bool on() const noexcept { return on_; }
    // When this run started: a saved tape opened begins a new one.
    std::time_t started() const noexcept { return started_; }
    // Turned off, what is kept is deleted; turned on, this run's lines so far
    // are kept, and the lines that follow.
    void setOn(bool on);

    // Asks for the earlier runs' lines: earlier() has them once a notice says so.
    void readEarlier();
    // The earlier runs' lines as last read, oldest first, runs with none left
    // out; none when off.
    const std::vector<Run>& earlier() const noexcept { return earlier_; }
    // An earlier run's line's note ("" none), as the session's notice tells it.
    void noteEarlier(LineId id, const std::string& note);
    // Lines of earlier runs deleted.
    void removeEarlier(std::span<const LineId> ids);
    // What went wrong, in plain words, or "".
    std::string problem() const;

    void sessionChanged(const quillo::Session& session,
                        const quillo::Change& change) noexcept override;

private:
    std::vector<quillo::TapeStore::Line> shown(const quillo::Tape& tape, std::uint64_t from) const;
    void notify(const KeptChange& change) noexcept;
    void received(quillo::Earlier read);
    void stop();

    quillo::Session& session_;
    std::time_t started_;
    bool on_ = false;
    std::uint64_t end_;   // the session tape's end when last told
    std::string problem_; // this side's word: off elsewhere, no home, memory
    std::string stored_;  // the store's
    std::vector<Run> earlier_;
    std::function<bool()> wanted_;
    quillo::Listeners<KeptTapeListener> listeners_;
    // The store's answers are queued to this, on the window's thread.
    QObject context_;
    std::unique_ptr<quillo::TapeStore> store_;
    quillo::Session::Subscription listening_;
};
