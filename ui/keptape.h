// SPDX-License-Identifier: MIT
#pragma once

#include "session.h"
#include "tapestore.h"

#include <cstdint>
#include <ctime>
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
// writes what each step changed to the store before the next event, so that
// a crash or a kill loses no line the window showed.
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

    // Told of every change until it goes out of scope; either side may go
    // first.
    class Listening {
    public:
        Listening() = default;
        ~Listening();
        Listening(Listening&& other) noexcept = default;
        Listening& operator=(Listening&& other) noexcept;

    private:
        friend class KeptTape;
        using Registry = std::vector<KeptTapeListener*>;
        Listening(const std::shared_ptr<Registry>& registry, KeptTapeListener* listener)
            : registry_(registry), listener_(listener) {}
        std::weak_ptr<Registry> registry_;
        KeptTapeListener* listener_ = nullptr;
    };

    // Keeps nothing until `on`; touches no file until the first line.
    KeptTape(quillo::Session& session, std::string folder, std::time_t started, bool on);
    ~KeptTape();
    KeptTape(const KeptTape&) = delete;
    KeptTape& operator=(const KeptTape&) = delete;

    [[nodiscard]] Listening listen(KeptTapeListener& listener);

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
    // For a normal exit: what was written reaches the disk.
    void sync() noexcept;

    void sessionChanged(const quillo::Session& session,
                        const quillo::Change& change) noexcept override;

private:
    void keepShown(const quillo::Tape& tape, std::uint64_t from);
    void notify(const KeptChange& change) noexcept;

    quillo::Session& session_;
    std::string folder_;
    std::time_t started_;
    std::unique_ptr<quillo::TapeStore> store_;
    std::uint64_t end_;   // the session tape's end when last told
    std::string problem_; // a store's last word, when turned off after it
    // The store's names for the lines earlier() gave, by LineId.
    std::vector<std::pair<std::string, std::uint64_t>> ids_;
    std::shared_ptr<Listening::Registry> listeners_ = std::make_shared<Listening::Registry>();
};
