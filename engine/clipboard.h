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
// blank, leading zeros, trailing fraction zeros or a trailing point, with "0"
// before a leading point ("12." -> "12", " .5" -> "0.5", "005." -> "5",
// "-0." -> "0"); a number with an exponent and a lone "-" stay as they are.
std::string copyText(std::string_view display);

// Longest clipboard text, in bytes of UTF-8, that paste considers.
inline constexpr std::size_t kPasteLimit = 1000;

// How the desktop's locale writes a number, each part as UTF-8 ("" for none).
struct NumberForm {
    std::string group = ",";
    std::string decimal = ".";
    std::string currency;
};

// The digit and point keys that type `text`, an unsigned decimal number:
// plain (digits with at most one point), or in the locale's form (groups of
// three digits, the locale's decimal separator, a currency sign before or
// after), blanks around it ignored. Nothing for any other text, for one the
// two forms read as different numbers, an empty one or one longer than
// kPasteLimit.
std::optional<std::vector<Key>> pasteKeys(std::string_view text, const NumberForm& form = {});

} // namespace quillo
