// SPDX-License-Identifier: MIT
#include "note.h"

#include <cstdint>
#include <utility>

namespace quillo {
namespace {

// The code point starting at text[i] and its length in bytes; nothing for
// bytes that are not UTF-8 (overlong forms and surrogates included).
std::optional<std::pair<char32_t, std::size_t>> decode(std::string_view text,
                                                       std::size_t i) noexcept {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    const std::uint8_t b = byte(i);
    std::size_t n = 0;
    char32_t c = 0;
    char32_t least = 0;
    if (b < 0x80) {
        return std::pair{static_cast<char32_t>(b), std::size_t{1}};
    } else if ((b & 0xE0) == 0xC0) {
        n = 2, c = b & 0x1F, least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        n = 3, c = b & 0x0F, least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        n = 4, c = b & 0x07, least = 0x10000;
    } else {
        return std::nullopt;
    }
    if (i + n > text.size()) {
        return std::nullopt;
    }
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return std::nullopt;
        }
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return std::nullopt;
    }
    return std::pair{c, n};
}

} // namespace

std::optional<NoteProblem> noteProblem(std::string_view text, std::size_t limit) noexcept {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto decoded = decode(text, i);
        if (!decoded) {
            return NoteProblem::NotText;
        }
        const char32_t c = decoded->first;
        i += decoded->second;
        if (c == U'\t') {
            return NoteProblem::Tab;
        }
        if (c == U'\n' || c == U'\r' || c == U'\v' || c == U'\f' || c == 0x85 || c == 0x2028 ||
            c == 0x2029) {
            return NoteProblem::LineBreak;
        }
        if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            return NoteProblem::Control;
        }
        if (++count > limit) {
            return NoteProblem::TooLong;
        }
    }
    return std::nullopt;
}

} // namespace quillo
