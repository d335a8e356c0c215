// SPDX-License-Identifier: MIT
#pragma once

#include "session.h"
#include "tapestore.h"

#include <ctime>
#include <memory>
#include <string>

// The session's tape kept between runs: it follows the session's notices and
// writes what each step changed to the store before the next event, so that
// a crash or a kill loses no line the window showed.
class KeptTape : public quillo::SessionListener {
public:
    // Keeps nothing until `on`; touches no file until the first line.
    KeptTape(quillo::Session& session, std::string folder, std::time_t started, bool on);
    ~KeptTape();
    KeptTape(const KeptTape&) = delete;
    KeptTape& operator=(const KeptTape&) = delete;

    bool on() const noexcept { return store_ != nullptr; }
    // Turned off, what is kept is deleted; turned on, this run's lines so far
    // are kept, and the lines that follow.
    void setOn(bool on);

    // The earlier runs' lines; none when off.
    quillo::Earlier readEarlier();
    // A line of an earlier run deleted.
    void remove(const std::string& run, std::uint64_t number);
    // What went wrong, in plain words, or "".
    std::string problem() const;
    // For a normal exit: what was written reaches the disk.
    void sync() noexcept;

    void sessionChanged(const quillo::Session& session,
                        const quillo::Change& change) noexcept override;

private:
    void keepShown(const quillo::Tape& tape, std::uint64_t from);

    quillo::Session& session_;
    std::string folder_;
    std::time_t started_;
    std::unique_ptr<quillo::TapeStore> store_;
    std::uint64_t end_;   // the session tape's end when last told
    std::string problem_; // a store's last word, when turned off after it
};
