// SPDX-License-Identifier: MIT
#pragma once

#include "clipboard.h"

#include <cstddef>
#include <optional>
#include <string>

// What a paste reads: the clipboard's text and the desktop's number form.
namespace pasteoffer {

// The clipboard's text as UTF-8, or nothing when there is none or it is
// longer than `limit` bytes. The offer's bytes are measured before any
// QString is made of them, and the memory a large one took is given back.
std::optional<std::string> text(std::size_t limit);

// How the system locale writes numbers: group and decimal separators and
// currency sign.
quillo::NumberForm numberForm();

} // namespace pasteoffer
