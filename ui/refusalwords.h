// SPDX-License-Identifier: MIT
#pragma once

#include "errors.h"
#include "session.h"

#include <QString>

// The engine reports kinds; these are the words for them, the same in the
// box that reports a step and in the correction editor's preview.
namespace quillo {

// An engine error, as the report names it.
QString errorText(ErrorKind kind);

// Why a correction is refused, as a sentence: which line's key would fail,
// or what keeps the number from being typed anew.
QString refusalText(const Refusal& refusal);

} // namespace quillo
