// SPDX-License-Identifier: MIT
#pragma once

#include "keys.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillo {

// The last keys pressed, oldest first, kept so that a session can be written
// out in the replay tool's input format and replayed exactly.
class KeyLog {
public:
    static constexpr std::size_t kCapacity = 100'000;

    void record(Key key);
    std::size_t size() const noexcept { return keys_.size(); }
    // One caption a line, each line ending in '\n'.
    std::string text() const;

private:
    std::vector<std::uint8_t> keys_; // a ring once full; next_ is the oldest
    std::size_t next_ = 0;
};

} // namespace quillo
