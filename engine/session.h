// SPDX-License-Identifier: MIT
#pragma once

#include "engine.h"
#include "keylog.h"
#include "keys.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillo {

// The engine with what the user can do beyond its keys: take back a step and
// redo it, and copy the keys that led to the display. A step is one key, or
// the keys of one paste. An undo puts back the display, the fields and the
// tape exactly as they were before the step; a redo runs its keys again,
// with no warning shown a second time.
class Session {
public:
    // How many steps can be taken back, at most; fewer only when the
    // snapshots would pass kBudget bytes (displays thousands of digits long),
    // so that no sequence of keys makes the history grow without end. More
    // steps would cost every key: the ring stops fitting in the cache.
    static constexpr std::size_t kDepth = 1'000;
    static constexpr std::size_t kBudget = 32u << 20;
    // A step adds at most one tape line, which the tape keeps for undo.
    static_assert(Tape::kSpare >= kDepth);

    explicit Session(Surface& surface) : engine_(surface) {}

    Engine& engine() noexcept { return engine_; }
    const Engine& engine() const noexcept { return engine_; }
    const KeyLog& log() const noexcept { return log_; }

    // Presses a key as a step of its own, or as part of the open step. An
    // EngineError propagates and the key leaves no trace.
    void press(Key key);
    // Keys pressed between these two make one step (a paste).
    void beginStep();
    void endStep();

    bool canUndo() const noexcept { return doneCount_ > 0; }
    bool canRedo() const noexcept { return !undone_.empty(); }
    void undo();
    void redo();

private:
    // A step's keys, one byte a key: a single key needs no allocation.
    using Keys = std::basic_string<std::uint8_t>;
    struct Step {
        Engine::Snapshot before;
        Keys keys;
        std::size_t weight = 0; // bytes, counted against kBudget
    };
    // The slot the next step goes into, and whether filing it drops the
    // oldest step (the ring is full).
    std::pair<Step*, bool> nextSlot();
    void file(Step& slot, bool dropsOldest) noexcept;
    void file(Step&& step);
    void dropOldest() noexcept;

    Engine engine_;
    KeyLog log_;
    std::optional<Step> open_;
    // The steps that can be taken back, oldest first: a ring whose slots are
    // reused, so that once it has turned a key allocates nothing for undo.
    std::vector<Step> done_;
    std::size_t doneHead_ = 0; // slot of the oldest
    std::size_t doneCount_ = 0;
    std::size_t doneBytes_ = 0;
    std::vector<Keys> undone_; // newest last
};

} // namespace quillo
