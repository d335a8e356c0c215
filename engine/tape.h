// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

// A number on a line, where the line's text has it, and the keys that typed
// it: key-log indexes [key, key + keys); keys == 0 for a computed one.
struct NumberMark {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    std::uint64_t key = 0;
    std::uint32_t keys = 0;
    bool operator==(const NumberMark&) const = default;
};

// What the engine says of a line as it writes it.
struct LineInfo {
    std::uint64_t key = 0;    // the key-log index of the key that wrote it
    bool zeroDivisor = false; // the refused zero divisor's line
    std::uint8_t count = 0;   // numbers used
    std::array<NumberMark, 3> numbers{};
    bool operator==(const LineInfo&) const = default;
};

// The lines of the calculation tape, oldest first: the last kCapacity are in
// view. Each line has a number that counts every line ever written, so that
// a view can follow what changed, and undo can cut the tape back to where it
// stood before a key. A line the user cleared or deleted stays gone: a redo,
// which writes the same numbers again, writes it as gone.
class Tape {
public:
    static constexpr std::size_t kCapacity = 10'000;
    // "C" closes a calculation with this line.
    static constexpr std::string_view kRule = "--------";
    // Lines kept beyond those in view, so that undoing keys (one line each
    // at the most) brings back the lines they pushed out of view.
    static constexpr std::size_t kSpare = 1'000;

    // The number of the oldest line in view and one past the newest.
    std::uint64_t first() const noexcept { return end() - size(); }
    std::uint64_t end() const noexcept { return begin_ + kept_; }
    std::size_t size() const noexcept;
    bool empty() const noexcept { return size() == 0; }

    // Whether line `number` is in view and neither cleared nor deleted.
    bool shown(std::uint64_t number) const noexcept;
    // The text of a line in view.
    const std::string& at(std::uint64_t number) const noexcept;
    // What the engine said of a line kept (oldest() <= number < end()).
    const LineInfo& info(std::uint64_t number) const noexcept { return slot(number).info; }
    // The number of the oldest line kept, in view or not.
    std::uint64_t oldest() const noexcept { return begin_; }
    // The newest line in view, shown or not; empty() must be false.
    const std::string& back() const noexcept { return at(end() - 1); }

    // Makes room so that the next push() allocates nothing; may throw
    // std::bad_alloc with the tape unchanged.
    void reserve();
    // Room for n more lines, as reserve() for one.
    void reserve(std::size_t n);
    // Adds a line, taking its buffer; after reserve() it cannot fail. A
    // redone line whose number was cleared or deleted is added as gone.
    void push(std::string& line, const LineInfo& info, bool redone) noexcept;

    // A line with what the engine said of it, for lines written anew.
    struct Line {
        std::string text;
        LineInfo info;
    };
    // Copies of the lines kept from `from` on.
    std::vector<Line> lines(std::uint64_t from) const;
    // A new key (not a redo) wrote from `end` on: the numbers from there are
    // new lines, whatever lines they once stood for.
    void renumberFrom(std::uint64_t end) noexcept;
    // Removes the lines numbered `end` and above (undo).
    void truncate(std::uint64_t end) noexcept;
    // Every line so far, and the ones a redo would write again, are gone.
    void clear() noexcept;
    // Deletes lines by number; may throw std::bad_alloc with the tape unchanged.
    void erase(std::span<const std::uint64_t> numbers);

    // The lines shown, each followed by '\n'.
    std::string text() const;

private:
    static constexpr std::size_t kKept = kCapacity + kSpare;
    struct Slot {
        std::string text;
        bool gone = false;
        LineInfo info;
    };
    Slot& slot(std::uint64_t number) noexcept;
    const Slot& slot(std::uint64_t number) const noexcept;
    bool cleared(std::uint64_t number) const noexcept;

    // A ring once full; a new line reuses the buffer of the one it replaces.
    std::vector<Slot> slots_;
    std::size_t head_ = 0;    // slot of the oldest line kept
    std::size_t kept_ = 0;    // lines kept
    std::uint64_t begin_ = 0; // number of the oldest line kept
    // Lines below floor_ were cleared; erased_ lists deleted ones, sorted.
    std::uint64_t floor_ = 0;
    std::vector<std::uint64_t> erased_;
};

} // namespace quillo
