// SPDX-License-Identifier: MIT
#include "keylog.h"

#include <algorithm>
#include <charconv>
#include <iterator>

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

void KeyLog::recordUse(std::string& text, std::optional<std::uint64_t> source) noexcept {
    const std::uint64_t index = end();
    record(static_cast<Key>(kUse));
    uses_.push_back(Use{index, std::move(text), source}); // reserved: no allocation
}

void KeyLog::drop(std::size_t n) noexcept {
    size_ -= std::min(n, size_);
    while (!uses_.empty() && uses_.back().index >= end()) {
        uses_.pop_back();
    }
}

std::vector<KeyLog::Use>::const_iterator KeyLog::firstUse(std::uint64_t from) const noexcept {
    return std::lower_bound(uses_.begin(), uses_.end(), from,
                            [](const Use& use, std::uint64_t i) { return use.index < i; });
}

const std::string& KeyLog::used(std::uint64_t index) const noexcept {
    return firstUse(index)->text;
}

std::optional<std::uint64_t> KeyLog::source(std::uint64_t index) const noexcept {
    const auto it = firstUse(index);
    return it != uses_.end() && it->index == index ? it->source : std::nullopt;
}

void KeyLog::setUsed(std::uint64_t index, std::string text) {
    const auto it = uses_.begin() + (firstUse(index) - uses_.cbegin());
    if (it != uses_.end() && it->index == index) {
        it->text = std::move(text);
    }
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
    auto moved = [&](std::uint64_t index) -> std::optional<std::uint64_t> {
        if (index < from) {
            return index;
        }
        if (index >= to) {
            return index + static_cast<std::uint64_t>(shift);
        }
        return std::nullopt;
    };
    for (const Use& use : uses_) {
        const std::optional<std::uint64_t> at = moved(use.index);
        if (at && *at >= out.begin()) {
            // A link to a key replaced is cut: no line of it is left to follow.
            out.uses_.push_back(Use{*at, use.text, use.source ? moved(*use.source) : std::nullopt});
        }
    }
    return out;
}

std::size_t KeyLog::bytes() const noexcept {
    std::size_t n = sizeof(KeyLog) + keys_.capacity() + uses_.capacity() * sizeof(Use);
    for (const Use& use : uses_) {
        n += use.text.capacity();
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
    const std::uint64_t first = base_ + from;
    auto use = firstUse(first);
    for (std::size_t i = from; i < size_; ++i) {
        const std::uint8_t c = at(i);
        if (c == kUse) {
            out += kUseWord;
            out += ' ';
            out += use->text;
            if (use->source && *use->source >= first) {
                char digits[24];
                const auto res =
                    std::to_chars(std::begin(digits), std::end(digits), *use->source - first + 1);
                out += ' ';
                out += kLinkSign;
                out.append(digits, res.ptr);
            }
            ++use;
        } else {
            out += quillo::caption(static_cast<Key>(c));
        }
        out += '\n';
    }
    return out;
}

} // namespace quillo
