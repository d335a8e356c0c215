// SPDX-License-Identifier: MIT
#pragma once

#include "keys.h"

#include <cstddef>
#include <cstdint>
#include <optional>
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
    // A reused number's line: this word, a space and the number. A number
    // that follows the line it came from adds a space, this sign and the
    // place among these lines of the key that wrote that line, counted from
    // 1 at the first key line: "use 15 @5" is 15, the result of the line the
    // fifth key wrote. A replay takes that line's result as it is then, so
    // that keys changed before it carry through; without the sign the number
    // stays as written.
    static constexpr std::string_view kUseWord = "use";
    static constexpr char kLinkSign = '@';
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
    // After reserve(1) and reserveUse(); takes the text's buffer. `source`,
    // if any, is the index of the key that wrote the line the number came
    // from: a correction that changes that line changes the number too.
    void recordUse(std::string& text, std::optional<std::uint64_t> source = {}) noexcept;
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
    // The key whose line entry `index`, a reused number, follows, if any.
    std::optional<std::uint64_t> source(std::uint64_t index) const noexcept;
    // Gives entry `index`, a reused number, a new text; nothing for an entry
    // not kept.
    void setUsed(std::uint64_t index, std::string text);
    // The reused numbers from entry `from` on that follow a line: calls
    // f(index, source, text) for each, oldest first.
    template <class F> void eachLink(std::uint64_t from, F&& f) const {
        for (auto it = firstUse(from); it != uses_.end(); ++it) {
            if (it->source) {
                f(it->index, *it->source, it->text);
            }
        }
    }
    // Cuts the links for which dead(source) holds: those numbers stay as
    // they are.
    template <class F> void unlinkIf(F&& dead) noexcept {
        for (Use& use : uses_) {
            if (use.source && dead(*use.source)) {
                use.source.reset();
            }
        }
    }
    // The entry's line in text(), without its '\n'.
    std::string caption(std::uint64_t index) const;

    // A copy with the entries from `from` to `to` replaced by `keys`; the
    // oldest entries make way if it would hold more than its capacity.
    KeyLog replaced(std::uint64_t from, std::uint64_t to, std::span<const Key> keys) const;
    // Bytes held, for the undo history's budget.
    std::size_t bytes() const noexcept;

    // One caption a line, each line ending in '\n'; a link is written when
    // its line's key is among those written. When older keys were
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
    struct Use {
        std::uint64_t index = 0;
        std::string text;
        std::optional<std::uint64_t> source;
    };
    std::vector<Use>::const_iterator firstUse(std::uint64_t from) const noexcept;
    // The reused numbers by entry index, oldest first.
    std::vector<Use> uses_;
};

} // namespace quillo
