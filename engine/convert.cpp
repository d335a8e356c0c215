// SPDX-License-Identifier: MIT
#include "convert.h"

#include "errors.h"

#include <mpfr.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace quillo {
namespace {

[[noreturn]] void raise(ErrorKind kind) {
    throw EngineError(kind);
}

bool isDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

// Beyond these decimal magnitudes a double is certainly infinite or zero, so
// the exponent need not be read to the end (it may have any length).
constexpr long long kMaxMagnitude = 400;
constexpr long long kMinMagnitude = -400;
constexpr long long kExponentCap = 1'000'000'000;

// A finite, non-zero double rounded to 15 significant digits.
struct Rounded {
    char digits[15];
    int count; // significant digits left after dropping trailing zeros
    int exponent;
};

Rounded round15(double magnitude) {
    char buf[40];
    // "d.dddddddddddddde+XX": the exponent is read after rounding, so
    // 99999999999999.95 becomes 1E+14 and is written as such.
    auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific, 14);
    (void)ec; // 40 characters always suffice for 15 digits and an exponent
    Rounded r{};
    r.digits[0] = buf[0];
    for (int i = 1; i < 15; ++i) {
        r.digits[i] = buf[i + 1];
    }
    r.count = 15;
    while (r.count > 1 && r.digits[r.count - 1] == '0') {
        --r.count;
    }
    const char* e = buf + 17; // past "d.dddddddddddddde"
    std::from_chars(*e == '+' ? e + 1 : e, end, r.exponent);
    return r;
}

std::string format(double x, bool signedForm) {
    if (x == 0) {
        return signedForm ? " 0" : "0"; // negative zero included
    }
    const Rounded r = round15(std::fabs(x));
    std::string out;
    out.reserve(24);
    if (x < 0) {
        out += '-';
    } else if (signedForm) {
        out += ' ';
    }
    if (r.exponent < -4 || r.exponent > 14) {
        out += r.digits[0];
        if (r.count > 1) {
            out += '.';
            out.append(r.digits + 1, r.count - 1);
        }
        out += 'E';
        out += r.exponent < 0 ? '-' : '+';
        const int e = std::abs(r.exponent);
        if (e < 10) {
            out += '0';
        }
        char buf[8];
        auto res = std::to_chars(buf, buf + sizeof buf, e);
        out.append(buf, res.ptr);
    } else if (r.exponent >= 0) {
        const int whole = r.exponent + 1;
        if (r.count <= whole) {
            out.append(r.digits, r.count);
            out.append(whole - r.count, '0');
        } else {
            out.append(r.digits, whole);
            out += '.';
            out.append(r.digits + whole, r.count - whole);
        }
    } else {
        if (!signedForm) {
            out += '0';
        }
        out += '.';
        out.append(-r.exponent - 1, '0');
        out.append(r.digits, r.count);
    }
    return out;
}

} // namespace

double parseNumber(std::string_view s) {
    std::size_t i = 0;
    std::size_t n = s.size();
    while (i < n && s[i] == ' ') {
        ++i;
    }
    while (n > i && s[n - 1] == ' ') {
        --n;
    }
    bool negative = false;
    if (i < n && (s[i] == '-' || s[i] == '+')) {
        negative = s[i] == '-';
        ++i;
    }
    const std::size_t intStart = i;
    while (i < n && isDigit(s[i])) {
        ++i;
    }
    const std::string_view intPart = s.substr(intStart, i - intStart);
    std::string_view fracPart;
    if (i < n && s[i] == '.') {
        const std::size_t fracStart = ++i;
        while (i < n && isDigit(s[i])) {
            ++i;
        }
        fracPart = s.substr(fracStart, i - fracStart);
    }
    if (intPart.empty() && fracPart.empty()) {
        raise(ErrorKind::TypeMismatch);
    }
    long long exponent = 0;
    if (i < n && (s[i] == 'E' || s[i] == 'e')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (s[i] == '-' || s[i] == '+')) {
            negativeExponent = s[i] == '-';
            ++i;
        }
        const std::size_t expStart = i;
        for (; i < n && isDigit(s[i]); ++i) {
            if (exponent < kExponentCap) {
                exponent = exponent * 10 + (s[i] - '0');
            }
        }
        if (i == expStart) {
            raise(ErrorKind::TypeMismatch);
        }
        if (negativeExponent) {
            exponent = -exponent;
        }
    }
    if (i != n) {
        raise(ErrorKind::TypeMismatch);
    }

    // Collect the significant digits and the magnitude of the first one, so
    // that from_chars sees a short, normalised text whatever was typed.
    std::string digits;
    long long magnitude = 0;
    bool seen = false;
    long long place = static_cast<long long>(intPart.size()) - 1;
    auto take = [&](std::string_view part) {
        for (char c : part) {
            if (!seen && c != '0') {
                seen = true;
                magnitude = place;
            }
            if (seen) {
                digits += c;
            }
            --place;
        }
    };
    take(intPart);
    take(fracPart);
    if (!seen) {
        return negative ? -0.0 : 0.0;
    }
    magnitude += exponent;
    if (magnitude > kMaxMagnitude) {
        raise(ErrorKind::Overflow);
    }
    if (magnitude < kMinMagnitude) {
        return negative ? -0.0 : 0.0;
    }
    std::string normal;
    normal.reserve(digits.size() + 12);
    if (negative) {
        normal += '-';
    }
    normal += digits[0];
    normal += '.';
    normal.append(digits, 1);
    normal += 'e';
    char buf[8];
    auto res = std::to_chars(buf, buf + sizeof buf, magnitude);
    normal.append(buf, res.ptr);

    double value = 0;
    auto [ptr, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        if (magnitude > 0) {
            raise(ErrorKind::Overflow);
        }
        return negative ? -0.0 : 0.0;
    }
    return value;
}

double toNumber(const Variant& v) {
    switch (v.kind()) {
    case Variant::Kind::Empty:
        return 0;
    case Variant::Kind::Integer:
        return v.asInteger();
    case Variant::Kind::Double:
        return v.asDouble();
    case Variant::Kind::Text:
        return parseNumber(v.asText());
    case Variant::Kind::Boolean:
        return v.asBoolean() ? -1 : 0;
    }
    return 0;
}

std::string plainText(double x) {
    return format(x, false);
}

std::string plainText(const Variant& v) {
    switch (v.kind()) {
    case Variant::Kind::Empty:
        return {};
    case Variant::Kind::Text:
        return v.asText();
    default:
        return plainText(toNumber(v));
    }
}

std::string signedText(double x) {
    return format(x, true);
}

namespace {

// MPFR rounds like binary64 while this lives: its significands lie in
// [1/2, 1), so the largest finite double is below 2^1024 and the smallest
// subnormal is 2^-1074 = 1/2 * 2^-1073.
class DoubleRange {
public:
    DoubleRange() noexcept : emin_(mpfr_get_emin()), emax_(mpfr_get_emax()) {
        mpfr_set_emin(-1073);
        mpfr_set_emax(1024);
    }
    ~DoubleRange() {
        mpfr_set_emin(emin_);
        mpfr_set_emax(emax_);
    }
    DoubleRange(const DoubleRange&) = delete;
    DoubleRange& operator=(const DoubleRange&) = delete;

private:
    mpfr_exp_t emin_;
    mpfr_exp_t emax_;
};

// The exact power rounded once to the nearest double, ties to even: the C
// library's pow is not correctly rounded, and what a compiler makes of it
// depends on the optimisation level. Kept out of line, so that the frame
// that most overflows are thrown from has no cleanup for the unwinder to
// look up: inlined, it cost the engine's mixed keys 5% more instructions.
[[gnu::noinline]] double roundedPower(double base, double exponent) {
    const DoubleRange range;
    // On the stack: no allocation per call.
    MPFR_DECL_INIT(x, 53);
    MPFR_DECL_INIT(r, 53);
    mpfr_set_d(x, base, MPFR_RNDN); // exact
    int ternary = 0;
    // An integer exponent that fits a long takes MPFR's repeated squaring,
    // which allocates nothing, rather than mpfr_pow's big-integer path.
    if (std::trunc(exponent) == exponent && std::fabs(exponent) < 0x1p62) {
        ternary = mpfr_pow_si(r, x, static_cast<long>(exponent), MPFR_RNDN);
    } else {
        MPFR_DECL_INIT(y, 53);
        mpfr_set_d(y, exponent, MPFR_RNDN);
        ternary = mpfr_pow(r, x, y, MPFR_RNDN);
    }
    // Rounds again to a subnormal's fewer bits, from the exact value.
    mpfr_subnormalize(r, ternary, MPFR_RNDN);
    if (mpfr_inf_p(r)) {
        raise(ErrorKind::Overflow); // 0 to a negative power included
    }
    if (mpfr_nan_p(r)) {
        raise(ErrorKind::InvalidArgument);
    }
    return mpfr_get_d(r, MPFR_RNDN); // exact now
}

} // namespace

double power(double base, double exponent) {
    if (exponent == 2) {
        // One product, which IEEE arithmetic rounds correctly already.
        return checked(base * base);
    }
    if (base < 0 && std::trunc(exponent) != exponent) {
        raise(ErrorKind::InvalidArgument); // as MPFR's NaN would
    }
    if (base != 0) {
        // Far outside the double range the outcome is known without MPFR,
        // which takes microseconds to find an overflow: log2 of the exact
        // power is exponent * log2|base|, and this estimate of it errs by
        // far less than the margins, whatever the C library's log2.
        const double size = exponent * std::log2(std::fabs(base));
        if (size > 1100) {
            raise(ErrorKind::Overflow);
        }
        if (size < -1200) {
            const bool negative = base < 0 && std::fmod(exponent, 2) != 0;
            return negative ? -0.0 : 0.0;
        }
    }
    return roundedPower(base, exponent);
}

double squareRoot(double x) {
    if (x < 0) {
        raise(ErrorKind::InvalidArgument);
    }
    return std::sqrt(x);
}

double checked(double result) {
    // The operands are always finite, so an infinite result is an overflow and
    // NaN (an invalid operation) cannot arise from them; report it all the same.
    if (std::isinf(result)) {
        raise(ErrorKind::Overflow);
    }
    if (std::isnan(result)) {
        raise(ErrorKind::InvalidArgument);
    }
    return result;
}

std::size_t positionOf(std::string_view text, std::string_view sought) noexcept {
    const auto at = text.find(sought);
    return at == std::string_view::npos ? 0 : at + 1;
}

std::string_view leftPart(std::string_view text, long long n) {
    if (n < 0) {
        raise(ErrorKind::InvalidArgument);
    }
    return text.substr(0, static_cast<std::size_t>(n));
}

bool equals(const Variant& v, std::string_view text) {
    if (v.kind() == Variant::Kind::Text) {
        return v.asText() == text;
    }
    return plainText(v) == text;
}

bool equalsZero(const Variant& v) {
    return toNumber(v) == 0;
}

std::string roundTripText(double x) {
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, x);
    return std::string(buf, res.ptr);
}

} // namespace quillo
