// SPDX-License-Identifier: MIT
#include "keylog.h"

#include <algorithm>

namespace quillo {

void KeyLog::reserve(std::size_t n) {
    // Below capacity_ the ring has not turned: head_ is 0 and keys go at the end.
    const std::size_t want = std::min(capacity_, size_ + n);
    if (size_ == keys_.size() && want > keys_.capacity()) {
        keys_.reserve(std::min(capacity_, std::max(want, keys_.capacity() * 2)));
    }
}

void KeyLog::record(Key key) noexcept {
    const auto k = static_cast<std::uint8_t>(key);
    if (size_ < keys_.size()) {
        keys_[(head_ + size_) % keys_.size()] = k;
        ++size_;
    } else if (keys_.size() < capacity_) {
        keys_.push_back(k); // reserved: no allocation
        ++size_;
    } else {
        keys_[head_] = k;
        head_ = (head_ + 1) % keys_.size();
        cut_ = true;
    }
}

void KeyLog::drop(std::size_t n) noexcept {
    size_ -= std::min(n, size_);
}

std::string KeyLog::text() const {
    std::size_t from = 0;
    std::string out;
    if (cut_) {
        const auto clear = static_cast<std::uint8_t>(Key::Clear);
        std::size_t i = size_;
        while (i > 0 && at(i - 1) != clear) {
            --i;
        }
        if (i > 0) {
            from = i - 1;
        } else {
            out += kCutLine;
            out += '\n';
        }
    }
    out.reserve(out.size() + (size_ - from) * 3);
    for (std::size_t i = from; i < size_; ++i) {
        out += caption(static_cast<Key>(at(i)));
        out += '\n';
    }
    return out;
}

} // namespace quillo
