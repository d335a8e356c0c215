// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

// The lines of the calculation tape, oldest first: the last kCapacity are
// shown. Each line has a number that counts every line ever written, so that
// a view can follow what changed, and undo can cut the tape back to where it
// stood before a key.
class Tape {
public:
    static constexpr std::size_t kCapacity = 10'000;
    // "C" closes a calculation with this line.
    static constexpr std::string_view kRule = "--------";

    std::size_t size() const noexcept;
    bool empty() const noexcept { return size() == 0; }
    // The i-th line shown, 0 the oldest.
    const std::string& line(std::size_t i) const noexcept;
    const std::string& back() const noexcept { return line(size() - 1); }
    // The number of the oldest line shown and one past the newest.
    std::uint64_t first() const noexcept { return end() - size(); }
    std::uint64_t end() const noexcept { return begin_ + kept_; }

    // Adds a line; may throw std::bad_alloc with the tape unchanged.
    void append(std::string_view line);
    // Removes the lines numbered `end` and above (undo); those cut off by
    // clear() stay gone.
    void truncate(std::uint64_t end) noexcept;
    void clear() noexcept;

    // The lines shown, each followed by '\n'.
    std::string text() const;

    // Lines kept beyond those shown, so that undoing keys (one line each at
    // the most) brings back the lines they pushed out of view.
    static constexpr std::size_t kSpare = 1'000;

private:
    static constexpr std::size_t kKept = kCapacity + kSpare;

    // A ring once full; a new line reuses the buffer of the one it replaces.
    std::vector<std::string> slots_;
    std::size_t head_ = 0;    // slot of the oldest line kept
    std::size_t kept_ = 0;    // lines kept
    std::uint64_t begin_ = 0; // number of the oldest line kept
};

} // namespace quillo
