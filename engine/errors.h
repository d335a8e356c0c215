// SPDX-License-Identifier: MIT
#pragma once

#include <exception>
#include <string_view>

namespace quillo {

// The kinds of error a key can raise. The engine reports only the kind; the
// words shown to the user belong to the window layer.
enum class ErrorKind {
    TypeMismatch,    // a text that is not a number reached a calculation
    InvalidArgument, // square root of a negative, a power with no real result, ...
    Overflow,        // a result or a counter beyond its range
    DivisionByZero,
};

// Short stable name, used by the replay tool's output.
std::string_view name(ErrorKind kind) noexcept;

class EngineError : public std::exception {
public:
    explicit EngineError(ErrorKind kind) noexcept : kind_(kind) {}
    ErrorKind kind() const noexcept { return kind_; }
    const char* what() const noexcept override;

private:
    ErrorKind kind_;
};

} // namespace quillo
