// SPDX-License-Identifier: MIT
#include "keylog.h"

#include <algorithm>

namespace quillo {

void KeyLog::record(Key key) {
    keys_.push_back(static_cast<std::uint8_t>(key));
    if (keys_.size() > capacity_) {
        keys_.pop_front();
        cut_ = true;
    }
}

void KeyLog::drop(std::size_t n) noexcept {
    keys_.erase(keys_.end() - static_cast<std::ptrdiff_t>(std::min(n, keys_.size())), keys_.end());
}

namespace {

bool isOperator(std::uint8_t key) noexcept {
    return key >= static_cast<std::uint8_t>(Key::Divide) &&
           key <= static_cast<std::uint8_t>(Key::Power);
}

} // namespace

std::string KeyLog::text() const {
    auto from = keys_.begin();
    std::string out;
    if (cut_) {
        // "C" sets every field but DisplayValue, which it leaves as it was and
        // an operator key writes before anything reads it: from a "C" that
        // such a key follows, a replay reaches the same fields as this log.
        const auto clear = std::find(std::find_if(keys_.rbegin(), keys_.rend(), isOperator),
                                     keys_.rend(), static_cast<std::uint8_t>(Key::Clear));
        if (clear != keys_.rend()) {
            from = std::prev(clear.base());
        } else {
            out += kCutLine;
            out += '\n';
            // The display, at least, is reached again from the last "C".
            const auto last =
                std::find(keys_.rbegin(), keys_.rend(), static_cast<std::uint8_t>(Key::Clear));
            if (last != keys_.rend()) {
                from = std::prev(last.base());
            }
        }
    }
    out.reserve(out.size() + static_cast<std::size_t>(keys_.end() - from) * 3);
    for (auto k = from; k != keys_.end(); ++k) {
        out += caption(static_cast<Key>(*k));
        out += '\n';
    }
    return out;
}

} // namespace quillo
