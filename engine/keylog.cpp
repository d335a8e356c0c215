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

namespace {

bool isOperator(std::uint8_t key) noexcept {
    return key >= static_cast<std::uint8_t>(Key::Divide) &&
           key <= static_cast<std::uint8_t>(Key::Power);
}

} // namespace

std::string KeyLog::text() const {
    const auto clear = static_cast<std::uint8_t>(Key::Clear);
    // One past the last key before `end` that is a "C", or 0.
    auto lastClear = [&](std::size_t end) {
        while (end > 0 && at(end - 1) != clear) {
            --end;
        }
        return end;
    };
    std::size_t from = 0;
    std::string out;
    if (cut_) {
        // "C" sets every field but DisplayValue, which it leaves as it was and
        // an operator key writes before anything reads it: from a "C" that
        // such a key follows, a replay reaches the same fields as this log.
        std::size_t op = size_;
        while (op > 0 && !isOperator(at(op - 1))) {
            --op;
        }
        if (const std::size_t c = lastClear(op); c > 0) {
            from = c - 1;
        } else {
            out += kCutLine;
            out += '\n';
            // The display, at least, is reached again from the last "C".
            if (const std::size_t last = lastClear(size_); last > 0) {
                from = last - 1;
            }
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
