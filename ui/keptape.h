// SPDX-License-Identifier: MIT
#pragma once

#include "session.h"
#include "tapestore.h"

#include <QTimer>

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
    bool earlier = false;                   // the earlier runs' lines are to be read anew
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
// hands what each step changed to the store before the next event, so that a
// crash or a kill loses no line the window showed. What the store could not
// write at once (another window held the database) is written by a timer, off
// the key path, as are the WAL's checkpoints.
//
// Switched off in another window, it stops keeping at its next line (the
// settings say so, or the database it had is gone), and keeps again only
// once switched back on in this window; a later start follows the setting.
class KeptTape : public quillo::SessionListener {
public:
    // An earlier run's line, by an id of the kept tape's own: good until
    // the next earlier().
    using LineId = std::uint64_t;
    struct Line {
        LineId id;
        std::string text;
    };
    struct Run {
        std::string started; // local time, "2026-12-07 14:30"
        std::vector<Line> lines;
    };

    using Listening = quillo::Listeners<KeptTapeListener>::Subscription;

    // Keeps nothing until `on`; touches no file until the first line.
    // `wanted` says whether the keeping is still on for every window; asked
    // before each step's lines are kept.
    KeptTape(quillo::Session& session, std::string folder, std::time_t started, bool on,
             std::function<bool()> wanted = {});
    ~KeptTape();
    KeptTape(const KeptTape&) = delete;
    KeptTape& operator=(const KeptTape&) = delete;

    // Told of every change until the subscription goes; either side may go first.
    [[nodiscard]] Listening listen(KeptTapeListener& listener) { return listeners_.add(listener); }

    bool on() const noexcept { return store_ != nullptr; }
    // Turned off, what is kept is deleted; turned on, this run's lines so far
    // are kept, and the lines that follow.
    void setOn(bool on);

    // The earlier runs' lines, oldest first, runs with none left out; none
    // when off.
    std::vector<Run> earlier();
    // Lines of earlier runs deleted.
    void removeEarlier(std::span<const LineId> ids);
    // What went wrong, in plain words, or "".
    std::string problem() const;
    // For a normal exit: what waits is written, and the database closed.
    void sync() noexcept;
    // Changes that wait for the database.
    bool pending() const noexcept { return store_ && store_->pending(); }

    void sessionChanged(const quillo::Session& session,
                        const quillo::Change& change) noexcept override;

private:
    std::vector<quillo::TapeStore::Line> shown(const quillo::Tape& tape, std::uint64_t from) const;
    void notify(const KeptChange& change) noexcept;
    // Told to the listeners when the store's problem moved, or it went off.
    void settle(std::uint64_t problemBefore, bool wasOn) noexcept;
    std::uint64_t problemSerial() const noexcept;
    void later();
    void flush() noexcept;
    void stop();

    quillo::Session& session_;
    std::string folder_;
    std::time_t started_;
    std::unique_ptr<quillo::TapeStore> store_;
    std::uint64_t end_;        // the session tape's end when last told
    std::string problem_;      // a store's last word, when turned off after it
    std::uint64_t serial_ = 0; // counts changes of problem_
    std::function<bool()> wanted_;
    QTimer flush_;
    quillo::Listeners<KeptTapeListener> listeners_;
    quillo::Session::Subscription listening_;
};
