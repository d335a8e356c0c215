// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

#include "engine.h"
#include <string>
#include <string_view>

namespace quillo {

// Replays key captions, one per line, through a fresh engine started as the
// calculator starts, and writes one line a key (see quillo-keys --help).
class Replay {
public:
    // withState adds the seven fields to each key's line; withTape follows it
    // with a line "\ttape\tTEXT" for each tape line the key added.
    explicit Replay(bool withState, bool withTape = false);
    ~Replay();
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    // Feeds one input line; appends the key's output line to `out`. Returns
    // false, with the reason in `error`, for a caption that is not a key.
    // Blank lines are skipped. "use NUMBER @K" puts back the result of the
    // line that the Kth key line fed wrote, whatever NUMBER says; a K that
    // names no earlier key with a line is refused.
    bool feed(std::string_view line, std::string& out, std::string& error);

    const Engine& engine() const noexcept;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace quillo
