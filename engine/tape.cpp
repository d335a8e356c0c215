// SPDX-License-Identifier: MIT
#include "tape.h"

#include <algorithm>

namespace quillo {

std::size_t Tape::size() const noexcept {
    return std::min(kept_, kCapacity);
}

const std::string& Tape::line(std::size_t i) const noexcept {
    return slots_[(head_ + kept_ - size() + i) % slots_.size()];
}

void Tape::append(std::string_view line) {
    // The ring only turns once full, so below that head_ is 0 and the
    // next slot, if there is none yet, is a new one at the end.
    if (kept_ < slots_.size()) {
        slots_[(head_ + kept_) % slots_.size()].assign(line);
        ++kept_;
    } else if (slots_.size() < kKept) {
        slots_.emplace_back(line);
        ++kept_;
    } else {
        slots_[head_].assign(line);
        head_ = (head_ + 1) % slots_.size();
        ++begin_;
    }
}

void Tape::truncate(std::uint64_t end) noexcept {
    if (end < this->end()) {
        const std::uint64_t drop = std::min<std::uint64_t>(kept_, this->end() - end);
        kept_ -= static_cast<std::size_t>(drop);
        if (kept_ == 0) {
            begin_ = end;
        }
    }
}

void Tape::clear() noexcept {
    begin_ += kept_;
    kept_ = 0;
    head_ = 0;
}

std::string Tape::text() const {
    std::string out;
    for (std::size_t i = 0; i < size(); ++i) {
        out += line(i);
        out += '\n';
    }
    return out;
}

} // namespace quillo
