// SPDX-License-Identifier: MIT
#include "tape.h"

#include <algorithm>

namespace quillo {

std::size_t Tape::size() const noexcept {
    return std::min(lines_.size(), kCapacity);
}

const std::string& Tape::line(std::size_t i) const noexcept {
    return lines_[lines_.size() - size() + i];
}

void Tape::append(std::string line) {
    lines_.push_back(std::move(line));
    if (lines_.size() > kCapacity + kSpare + kBatch) {
        lines_.erase(lines_.begin(), lines_.begin() + kBatch);
        begin_ += kBatch;
    }
}

void Tape::truncate(std::uint64_t end) noexcept {
    while (!lines_.empty() && this->end() > end) {
        lines_.pop_back();
    }
    if (lines_.empty()) {
        begin_ = std::min(begin_, end);
    }
}

void Tape::clear() noexcept {
    begin_ += lines_.size();
    lines_.clear();
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
