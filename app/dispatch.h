// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

class QWidget;

namespace quillo {

// The one place where a key's operation runs. An engine error stops here: it
// is reported in a modal box over `window` and the calculator goes on (the
// engine has already undone the key). Nothing is thrown into Qt's event loop.
// A refused correction (CorrectionRefused) is reported in the words the
// correction editor's preview uses too (refusalwords.h).
// Returns false when the operation failed.
bool dispatch(QWidget* window, const std::function<void()>& operation) noexcept;

} // namespace quillo
