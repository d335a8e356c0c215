// SPDX-License-Identifier: MIT
#include "keylog.h"

namespace quillo {

void KeyLog::record(Key key) {
    const auto k = static_cast<std::uint8_t>(key);
    if (keys_.size() < kCapacity) {
        keys_.push_back(k);
        return;
    }
    keys_[next_] = k;
    next_ = (next_ + 1) % kCapacity;
}

std::string KeyLog::text() const {
    std::string out;
    out.reserve(keys_.size() * 3);
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        out += caption(static_cast<Key>(keys_[(next_ + i) % keys_.size()]));
        out += '\n';
    }
    return out;
}

} // namespace quillo
