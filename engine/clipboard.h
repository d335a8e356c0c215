// SPDX-License-Identifier: MIT
#pragma once

#include "keys.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The display's number as other programs exchange it, and pasted text as
// the keys that type it.
namespace quillo {

// The display text as a plain number: without the one-operand keys' leading
// blank or a trailing point, with "0" before a leading point ("12." -> "12",
// " .5" -> "0.5", "-.25" -> "-0.25"); a lone "-" stays "-".
std::string copyText(std::string_view display);

// Longest clipboard text that paste considers.
inline constexpr std::size_t kPasteLimit = 1000;

// The digit and point keys that type `text`, an unsigned decimal number
// (digits with at most one point, blanks around it ignored); nothing for any
// other text, an empty one or one longer than kPasteLimit.
std::optional<std::vector<Key>> pasteKeys(std::string_view text);

} // namespace quillo
