// SPDX-License-Identifier: MIT
#pragma once

#include "errors.h"

#include <QString>

#include <functional>

class QWidget;

namespace quillo {

// The one place where a key's operation runs. An engine error stops here: it
// is reported in a modal box over `window` and the calculator goes on (the
// engine has already undone the key). Nothing is thrown into Qt's event loop.
// A refused correction (CorrectionRefused) is reported in words of its own,
// naming the failing key's line by `window`'s invokable tapeLine(quint64).
// Returns false when the operation failed.
bool dispatch(QWidget* window, const std::function<void()>& operation) noexcept;

// The report's words for an error kind.
QString errorText(ErrorKind kind);

} // namespace quillo
