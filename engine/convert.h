// SPDX-License-Identifier: MIT
#pragma once

#include "variant.h"

#include <cstddef>
#include <string>
#include <string_view>

// Conversions between the display's texts and numbers. They fix what the
// display shows after every key, so each one is exact to the character.
namespace quillo {

// Reads a decimal number: optional spaces, an optional sign, digits with at
// most one ".", at least one digit, an optional exponent ("E", optional sign,
// digits), optional spaces. Anything else raises TypeMismatch; a number beyond
// the double range raises Overflow; one too small reads as the nearest tiny
// value or zero.
double parseNumber(std::string_view text);

// Empty is 0, booleans are -1 or 0, texts are read with parseNumber.
double toNumber(const Variant& v);

// The general form: 15 significant digits, no trailing zeros or point,
// exponent form ("1E+20", "1E-05") below 1E-04 and from 1E+15 on.
std::string plainText(double x);
// A text variant is returned unchanged, empty gives "", numbers plainText.
std::string plainText(const Variant& v);

// The one-operand keys' form: like plainText, but a number that is not
// negative starts with a space and no "0" stands before the point (" .5").
std::string signedText(double x);

// Zero written with the patterns the engine uses: "0." , "-0." and ".".
inline constexpr std::string_view kZeroPoint = "0.";
inline constexpr std::string_view kMinusZeroPoint = "-0.";
inline constexpr std::string_view kDecimalPoint = ".";

// a to the power b; Overflow when infinite (0 to a negative power included),
// InvalidArgument when there is no real result.
double power(double base, double exponent);
// InvalidArgument for a negative argument.
double squareRoot(double x);

// The floating-point check after + - X / and the percent product.
double checked(double result);

// 1-based position of the first occurrence of `sought`, 0 if absent.
std::size_t positionOf(std::string_view text, std::string_view sought) noexcept;
// The first n characters (all of them when n is larger); n < 0 is InvalidArgument.
std::string_view leftPart(std::string_view text, long long n);

// Exact, case-sensitive comparison of a variant with a typed text; empty is "".
bool equals(const Variant& v, std::string_view text);
// Numeric comparison with the typed integer 0.
bool equalsZero(const Variant& v);

// The shortest text that reads back as the same double ("15", "1e+20").
std::string roundTripText(double x);

} // namespace quillo
