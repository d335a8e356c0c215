// SPDX-License-Identifier: MIT
#include "errors.h"

namespace quillo {

std::string_view name(ErrorKind kind) noexcept {
    switch (kind) {
    case ErrorKind::TypeMismatch:
        return "type-mismatch";
    case ErrorKind::InvalidArgument:
        return "invalid-argument";
    case ErrorKind::Overflow:
        return "overflow";
    case ErrorKind::DivisionByZero:
        return "division-by-zero";
    }
    return "unknown";
}

const char* EngineError::what() const noexcept {
    // name() views string literals, so data() is NUL-terminated.
    return name(kind_).data();
}

} // namespace quillo
