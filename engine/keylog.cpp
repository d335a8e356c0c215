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

void KeyLog::reserveUse() {
    if (uses_.size() == uses_.capacity()) {
        uses_.reserve(std::max<std::size_t>(4, uses_.size() * 2));
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
        if (keys_[head_] == kUse && !uses_.empty()) {
            uses_.erase(uses_.begin()); // its text goes with it
        }
        keys_[head_] = k;
        head_ = (head_ + 1) % keys_.size();
        ++base_;
        cut_ = true;
    }
}

void KeyLog::recordUse(std::string& text) noexcept {
    const std::uint64_t index = end();
    record(static_cast<Key>(kUse));
    uses_.emplace_back(index, std::move(text)); // reserved: no allocation
}

void KeyLog::drop(std::size_t n) noexcept {
    size_ -= std::min(n, size_);
    while (!uses_.empty() && uses_.back().first >= end()) {
        uses_.pop_back();
    }
}

const std::string& KeyLog::used(std::uint64_t index) const noexcept {
    const auto it =
        std::lower_bound(uses_.begin(), uses_.end(), index,
                         [](const auto& use, std::uint64_t i) { return use.first < i; });
    return it->second;
}

std::string KeyLog::caption(std::uint64_t index) const {
    const std::uint8_t c = code(index);
    if (c != kUse) {
        return std::string(quillo::caption(static_cast<Key>(c)));
    }
    std::string out(kUseWord);
    out += ' ';
    out += used(index);
    return out;
}

KeyLog KeyLog::replaced(std::uint64_t from, std::uint64_t to, std::span<const Key> keys) const {
    KeyLog out(capacity_);
    const std::size_t total = static_cast<std::size_t>(size_ - (to - from)) + keys.size();
    // The oldest entries that do not fit are let go.
    const std::size_t skip = total > capacity_ ? total - capacity_ : 0;
    out.keys_.reserve(std::min(total, capacity_));
    out.base_ = base_ + skip;
    out.cut_ = cut_ || skip > 0;
    std::size_t skipped = 0;
    auto put = [&](std::uint8_t code) {
        if (skipped < skip) {
            ++skipped;
        } else {
            out.keys_.push_back(code);
        }
    };
    for (std::uint64_t i = base_; i < from; ++i) {
        put(code(i));
    }
    for (const Key key : keys) {
        put(static_cast<std::uint8_t>(key));
    }
    for (std::uint64_t i = to; i < end(); ++i) {
        put(code(i));
    }
    out.size_ = out.keys_.size();
    // Reused numbers after the range move with it; those inside it are gone.
    const auto shift =
        static_cast<std::int64_t>(keys.size()) - static_cast<std::int64_t>(to - from);
    for (const auto& [index, text] : uses_) {
        const std::uint64_t at = index < from  ? index
                                 : index >= to ? index + static_cast<std::uint64_t>(shift)
                                               : 0;
        if ((index < from || index >= to) && at >= out.begin()) {
            out.uses_.emplace_back(at, text);
        }
    }
    return out;
}

std::size_t KeyLog::bytes() const noexcept {
    std::size_t n = sizeof(KeyLog) + keys_.capacity() +
                    uses_.capacity() * sizeof(std::pair<std::uint64_t, std::string>);
    for (const auto& use : uses_) {
        n += use.second.capacity();
    }
    return n;
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
    auto use = std::lower_bound(uses_.begin(), uses_.end(), base_ + from,
                                [](const auto& entry, std::uint64_t i) { return entry.first < i; });
    for (std::size_t i = from; i < size_; ++i) {
        const std::uint8_t c = at(i);
        if (c == kUse) {
            out += kUseWord;
            out += ' ';
            out += use->second;
            ++use;
        } else {
            out += quillo::caption(static_cast<Key>(c));
        }
        out += '\n';
    }
    return out;
}

} // namespace quillo
