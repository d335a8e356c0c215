// SPDX-License-Identifier: MIT
#pragma once

#include "keys.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

// The keys that led to what the calculator shows, oldest first, kept so that
// a session can be written out in the replay tool's input format and
// replayed exactly. Undone keys are dropped from it.
class KeyLog {
public:
    static constexpr std::size_t kCapacity = 100'000;
    // First line of a text whose start is lost; the replay tool knows it.
    static constexpr std::string_view kCutLine = "# the keys before this line were not kept";

    explicit KeyLog(std::size_t capacity = kCapacity) : capacity_(capacity) {}

    // Makes room for n more keys, so that recording them allocates nothing;
    // may throw std::bad_alloc with the log unchanged.
    void reserve(std::size_t n);
    // After reserve(), cannot fail.
    void record(Key key) noexcept;
    // Forgets the newest n keys (taken back by undo).
    void drop(std::size_t n) noexcept;
    std::size_t size() const noexcept { return size_; }

    // One caption a line, each line ending in '\n'. When older keys were
    // dropped, the text starts at the last "C" that an operator key follows,
    // from where a replay reaches the same display and fields; with none, it
    // starts with kCutLine, then the keys from the last "C" if there is one.
    std::string text() const;

private:
    std::uint8_t at(std::size_t i) const noexcept { return keys_[(head_ + i) % keys_.size()]; }

    std::size_t capacity_;
    // A ring once full, the oldest key at head_.
    std::vector<std::uint8_t> keys_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
    bool cut_ = false;
};

} // namespace quillo
