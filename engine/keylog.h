// SPDX-License-Identifier: MIT
#pragma once

#include "keys.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillo {

// The keys that led to what the calculator shows, oldest first, kept so that
// a session can be written out in the replay tool's input format and
// replayed exactly. Undone keys are dropped from it. Besides the keys it
// holds the numbers reused from the tape, each as one entry with its text.
//
// Every entry has an index that counts all entries recorded so far (those
// the ring let go included), so that a tape line can name the keys that
// typed one of its numbers however long the session grows.
class KeyLog {
public:
    static constexpr std::size_t kCapacity = 100'000;
    // First line of a text whose start is lost; the replay tool knows it.
    static constexpr std::string_view kCutLine = "# the keys before this line were not kept";
    // A reused number's line: this word, a space and the number.
    static constexpr std::string_view kUseWord = "use";
    // The code of a reused number's entry; a key's code is its Key.
    static constexpr std::uint8_t kUse = 0xFF;

    explicit KeyLog(std::size_t capacity = kCapacity) : capacity_(capacity) {}

    // Makes room for n more keys, so that recording them allocates nothing;
    // may throw std::bad_alloc with the log unchanged.
    void reserve(std::size_t n);
    // Room for the text of one more reused number, besides reserve(1).
    void reserveUse();
    // After reserve(), cannot fail.
    void record(Key key) noexcept;
    // After reserve(1) and reserveUse(); takes the text's buffer.
    void recordUse(std::string& text) noexcept;
    // Forgets the newest n entries (taken back by undo).
    void drop(std::size_t n) noexcept;
    std::size_t size() const noexcept { return size_; }

    // The indexes of the oldest entry kept and one past the newest.
    std::uint64_t begin() const noexcept { return base_; }
    std::uint64_t end() const noexcept { return base_ + size_; }
    // The code of entry `index` (begin() <= index < end()): a Key or kUse.
    std::uint8_t code(std::uint64_t index) const noexcept {
        return at(static_cast<std::size_t>(index - base_));
    }
    // The text of entry `index`, a reused number.
    const std::string& used(std::uint64_t index) const noexcept;
    // The entry's line in text(), without its '\n'.
    std::string caption(std::uint64_t index) const;

    // A copy with the entries from `from` to `to` replaced by `keys`; the
    // oldest entries make way if it would hold more than its capacity.
    KeyLog replaced(std::uint64_t from, std::uint64_t to, std::span<const Key> keys) const;
    // Bytes held, for the undo history's budget.
    std::size_t bytes() const noexcept;

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
    std::uint64_t base_ = 0; // index of the entry at head_
    bool cut_ = false;
    // The reused numbers' texts by entry index, oldest first.
    std::vector<std::pair<std::uint64_t, std::string>> uses_;
};

} // namespace quillo
