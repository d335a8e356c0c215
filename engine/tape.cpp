// SPDX-License-Identifier: MIT
#include "tape.h"

#include <algorithm>

namespace quillo {

std::size_t Tape::size() const noexcept {
    return std::min(kept_, kCapacity);
}

Tape::Slot& Tape::slot(std::uint64_t number) noexcept {
    return slots_[(head_ + static_cast<std::size_t>(number - begin_)) % slots_.size()];
}

const Tape::Slot& Tape::slot(std::uint64_t number) const noexcept {
    return slots_[(head_ + static_cast<std::size_t>(number - begin_)) % slots_.size()];
}

bool Tape::cleared(std::uint64_t number) const noexcept {
    return number < floor_ || std::binary_search(erased_.begin(), erased_.end(), number);
}

bool Tape::shown(std::uint64_t number) const noexcept {
    return number >= first() && number < end() && !slot(number).gone;
}

const std::string& Tape::at(std::uint64_t number) const noexcept {
    return slot(number).text;
}

void Tape::reserve() {
    // Below kKept slots the ring has not turned yet: head_ is 0 and the next
    // line goes into a new slot at the end.
    if (kept_ == slots_.size() && slots_.size() < kKept && slots_.capacity() == slots_.size()) {
        slots_.reserve(std::min(kKept, std::max<std::size_t>(16, slots_.size() * 2)));
    }
}

void Tape::reserve(std::size_t n) {
    // Lines go into the slots there are, then at the end of the vector.
    const std::size_t want = std::min(kKept, kept_ + n);
    if (want > slots_.capacity()) {
        slots_.reserve(std::max(want, std::min(kKept, slots_.capacity() * 2)));
    }
}

std::vector<Tape::Line> Tape::lines(std::uint64_t from) const {
    std::vector<Line> out;
    from = std::max(from, begin_);
    out.reserve(static_cast<std::size_t>(end() - std::min(from, end())));
    for (std::uint64_t n = from; n < end(); ++n) {
        out.push_back(Line{slot(n).text, slot(n).info});
    }
    return out;
}

void Tape::push(std::string& line, const LineInfo& info, bool redone) noexcept {
    const bool gone = redone && cleared(end());
    if (kept_ < slots_.size()) {
        Slot& s = slots_[(head_ + kept_) % slots_.size()];
        s.text.swap(line);
        s.gone = gone;
        s.info = info;
        ++kept_;
    } else if (slots_.size() < kKept) {
        slots_.push_back(Slot{std::move(line), gone, info}); // reserved: no allocation
        ++kept_;
    } else {
        Slot& s = slots_[head_];
        s.text.swap(line);
        s.gone = gone;
        s.info = info;
        head_ = (head_ + 1) % slots_.size();
        ++begin_;
    }
}

void Tape::renumberFrom(std::uint64_t end) noexcept {
    floor_ = std::min(floor_, end);
    erased_.erase(std::lower_bound(erased_.begin(), erased_.end(), end), erased_.end());
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
    floor_ = begin_;
    // Deleted lines that an undo took back stay deleted for their redo.
    erased_.erase(erased_.begin(), std::lower_bound(erased_.begin(), erased_.end(), floor_));
}

void Tape::erase(std::span<const std::uint64_t> numbers) {
    std::vector<std::uint64_t> merged(erased_);
    merged.insert(merged.end(), numbers.begin(), numbers.end());
    std::sort(merged.begin(), merged.end());
    merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
    erased_.swap(merged);
    for (const std::uint64_t n : numbers) {
        if (n >= begin_ && n < end()) {
            Slot& s = slot(n);
            s.gone = true;
            std::string().swap(s.text);
        }
    }
}

std::string Tape::text() const {
    std::string out;
    for (std::uint64_t n = first(); n < end(); ++n) {
        if (!slot(n).gone) {
            out += at(n);
            out += '\n';
        }
    }
    return out;
}

} // namespace quillo
