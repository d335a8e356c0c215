// SPDX-License-Identifier: MIT
#include "engine.h"

#include "clipboard.h"
#include "convert.h"
#include "errors.h"
#include "keys.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>
#include <type_traits>
#include <utility>

namespace quillo {
namespace {

Variant text(std::string_view s) {
    return Variant::text(std::string(s));
}

void increment(std::int16_t& counter) {
    if (counter == std::numeric_limits<std::int16_t>::max()) {
        throw EngineError(ErrorKind::Overflow);
    }
    ++counter;
}

// A number on the tape, in the form the clipboard gives it.
std::string tapeNumber(const Variant& v) {
    return v.isEmpty() ? "0" : copyText(plainText(v));
}

// A tape line from its pattern: %1, %2 and %3 are replaced by the numbers.
std::string fill(std::string_view pattern, std::initializer_list<std::string_view> numbers) {
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' &&
            pattern[i + 1] < '1' + static_cast<int>(numbers.size())) {
            out += numbers.begin()[pattern[++i] - '1'];
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

struct Engine::Work {
    State s;
    std::string display;
    std::string tape; // the line this key adds to the tape, if any: one at most
};

template <class Op> void Engine::run(Op&& op) {
    // Taken for this key alone, whether it completes or not.
    Snapshot* const record = std::exchange(record_, nullptr);
    Work w{state_, surface_.displayText(), {}};
    std::forward<Op>(op)(w);
    // Room for the tape's line, then the display: after these nothing can
    // fail, so a key lands whole or not at all.
    const bool line = !w.tape.empty();
    if (line) {
        tape_.reserve();
    }
    surface_.exchangeDisplayText(w.display); // w.display is now the text before
    const std::uint64_t tapeEnd = tape_.end();
    if (line) {
        tape_.push(w.tape, redoing_);
    }
    if (!redoing_) {
        tape_.renumberFrom(tapeEnd);
    }
    static_assert(std::is_nothrow_move_assignable_v<State>);
    if (record) {
        record->state = std::move(state_);
        record->display = std::move(w.display);
        record->tapeEnd = tapeEnd;
    }
    state_ = std::move(w.s);
}

Engine::Snapshot Engine::snapshot() const {
    return {state_, surface_.displayText(), tape_.end()};
}

void Engine::restore(Snapshot&& snapshot) {
    surface_.exchangeDisplayText(snapshot.display);
    state_ = std::move(snapshot.state);
    tape_.truncate(snapshot.tapeEnd);
}

namespace {

void formLoad(State& s, std::string& display) {
    s.DecimalTyped = false;
    s.OperandCount = 0;
    s.EntryState = text("NONE");
    s.PendingOperator = text(" ");
    display = kZeroPoint;
}

} // namespace

void Engine::Form_Load() {
    run([](Work& w) { formLoad(w.s, w.display); });
}

void Engine::Number_Click(int Index) {
    run([&](Work& w) {
        const std::string digit = surface_.numberCaption(Index);
        if (!equals(w.s.EntryState, "NUMS")) {
            w.display = kDecimalPoint;
            w.s.DecimalTyped = false;
        }
        if (w.s.DecimalTyped) {
            w.display += digit;
        } else {
            // Digits go in front of the point; with no point at all the count
            // is -1 and leftPart raises InvalidArgument.
            const auto p = static_cast<long long>(positionOf(w.display, kDecimalPoint));
            std::string next(leftPart(w.display, p - 1));
            next += digit;
            next += kDecimalPoint;
            w.display = std::move(next);
        }
        if (equals(w.s.EntryState, "NEG")) {
            w.display.insert(0, "-");
        }
        w.s.EntryState = text("NUMS");
    });
}

void Engine::Decimal_Click() {
    run([](Work& w) {
        if (equals(w.s.EntryState, "NEG")) {
            w.display = kMinusZeroPoint;
        } else if (!equals(w.s.EntryState, "NUMS")) {
            w.display = kZeroPoint;
        }
        w.s.DecimalTyped = true;
        w.s.EntryState = text("NUMS");
    });
}

// Applies the pending operator `op` (the key whose caption it holds) to a and
// b; nothing when it stores no result: a zero divisor, which is warned about,
// or the start's " ", which is no key's caption.
std::optional<double> Engine::evaluate(std::optional<Key> op, const Variant& a, const Variant& b,
                                       std::string& tape) {
    if (!op) {
        return std::nullopt;
    }
    switch (*op) {
    case Key::Plus:
        return checked(toNumber(a) + toNumber(b));
    case Key::Minus:
        return checked(toNumber(a) - toNumber(b));
    case Key::Times:
    case Key::Percent: // pending, the percent key's "%" is a product
        return checked(toNumber(a) * toNumber(b));
    case Key::Power:
        return power(toNumber(a), toNumber(b));
    case Key::Divide:
        if (equalsZero(b)) {
            tape = fill("%1 / %2: %3", {tapeNumber(a), tapeNumber(b), kDivideByZeroText});
            if (!redoing_) {
                surface_.showWarning(kDivideByZeroText, kDivideByZeroTitle);
            }
            return std::nullopt;
        }
        return checked(toNumber(a) / toNumber(b));
    case Key::Equals:
        return toNumber(b);
    default:
        return std::nullopt;
    }
}

void Engine::Operator_Click(int Index) {
    run([&](Work& w) {
        const std::string caption = surface_.operatorCaption(Index);
        State& s = w.s;
        s.DisplayValue = Variant::text(w.display);
        if (equals(s.EntryState, "NUMS")) {
            increment(s.OperandCount);
        }
        switch (s.OperandCount) {
        case 0:
            if (!equals(s.EntryState, "NEG") && caption == "-") {
                w.display.insert(0, "-");
                s.EntryState = text("NEG");
            }
            break;
        case 1: {
            s.FirstNumber = Variant::text(w.display);
            // All three tests hold before the sign is placed.
            const bool typing = equals(s.EntryState, "NUMS");
            const bool minus = caption == "-";
            const bool afterEquals = equals(s.PendingOperator, "=");
            if (!typing && minus && !afterEquals) {
                w.display = "-";
                s.EntryState = text("NEG");
            }
            break;
        }
        case 2: {
            s.SecondNumber = s.DisplayValue;
            const Variant a = s.FirstNumber;
            const Variant& b = s.SecondNumber;
            const auto op = keyFromCaption(s.PendingOperator.asText());
            if (const auto result = evaluate(op, a, b, w.tape)) {
                s.FirstNumber = Variant::number(*result);
                w.display = plainText(s.FirstNumber);
                w.tape = fill(describe(*op).evaluation,
                              {tapeNumber(a), tapeNumber(b), copyText(w.display)});
            } else {
                w.display = plainText(s.FirstNumber);
            }
            s.OperandCount = 1;
            break;
        }
        default:
            break; // 3 or more, only reached through the percent key
        }
        if (!equals(s.EntryState, "NEG")) {
            s.EntryState = text("OPS");
            s.PendingOperator = Variant::text(caption);
        }
    });
}

void Engine::Percent_Click() {
    run([](Work& w) {
        const std::string taken = copyText(w.display);
        w.display = plainText(checked(toNumber(Variant::text(w.display)) * 100));
        w.tape = fill(describe(Key::Percent).step, {taken, copyText(w.display)});
        w.s.EntryState = text("Ops");
        w.s.PendingOperator = text("%");
        w.s.DecimalTyped = true;
        increment(w.s.OperandCount);
    });
}

namespace {

// The one-operand keys: `result` computes from the display's number.
template <class Result>
void oneOperand(Key key, Result&& result, State& s, std::string& display, std::string& tape) {
    s.FirstNumber = Variant::text(display);
    s.FirstNumber = Variant::number(result(toNumber(s.FirstNumber)));
    std::string shown = signedText(s.FirstNumber.asDouble());
    tape = fill(describe(key).step, {copyText(display), copyText(shown)});
    display = std::move(shown);
}

} // namespace

void Engine::cmdsq_Click() {
    run([](Work& w) {
        oneOperand(
            Key::Square, [](double x) { return power(x, 2); }, w.s, w.display, w.tape);
    });
}

void Engine::cmdqr_Click() {
    run([](Work& w) {
        oneOperand(
            Key::Cube, [](double x) { return power(x, 3); }, w.s, w.display, w.tape);
    });
}

void Engine::cmdsqrt_Click() {
    run([](Work& w) { oneOperand(Key::Sqrt, squareRoot, w.s, w.display, w.tape); });
}

void Engine::Cancel_Click() {
    run([this](Work& w) {
        // A rule closes the calculation, once.
        if (!tape_.empty() && tape_.back() != Tape::kRule) {
            w.tape = Tape::kRule;
        }
        w.display = kZeroPoint;
        w.s.FirstNumber = Variant::integer(0);
        w.s.SecondNumber = Variant::integer(0);
        formLoad(w.s, w.display);
    });
}

namespace {

bool allDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

std::optional<TypedNumber> typedNumber(std::string_view result) {
    if (result.empty() || result.size() > kReuseLimit) {
        return std::nullopt;
    }
    const bool negative = result.front() == '-';
    const std::string_view body = result.substr(negative ? 1 : 0);
    const std::size_t e = body.find('E');
    const std::string_view mantissa = body.substr(0, e);
    const std::size_t point = mantissa.find('.');
    const std::string_view whole = mantissa.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : mantissa.substr(point + 1);
    if (!allDigits(whole) || (point != std::string_view::npos && !allDigits(fraction))) {
        return std::nullopt;
    }
    TypedNumber out;
    if (negative) {
        out.display = "-";
    }
    if (e == std::string_view::npos) {
        // Typed operands keep every digit; copyText leaves only its own form.
        if (copyText(result) != result) {
            return std::nullopt;
        }
        out.display.append(body);
        out.point = point != std::string_view::npos;
        if (!out.point) {
            out.display += kDecimalPoint;
        }
        return out;
    }
    const std::string_view exponent = body.substr(e + 1);
    if (exponent.size() < 3 || (exponent[0] != '+' && exponent[0] != '-') ||
        !allDigits(exponent.substr(1))) {
        return std::nullopt;
    }
    // Only plainText writes an exponent: its own form, read back the same.
    try {
        if (plainText(parseNumber(result)) != result) {
            return std::nullopt;
        }
    } catch (const EngineError&) {
        return std::nullopt;
    }
    int power = 0;
    std::from_chars(exponent.data() + 1, exponent.data() + exponent.size(), power);
    if (exponent[0] == '-') {
        power = -power;
    }
    std::string digits(whole);
    digits.append(fraction);
    // Digits before the point: the mantissa has one.
    const int before = 1 + power;
    if (before >= static_cast<int>(digits.size())) {
        out.display += digits;
        out.display.append(static_cast<std::size_t>(before) - digits.size(), '0');
        out.display += kDecimalPoint;
    } else if (before <= 0) {
        out.display += kZeroPoint;
        out.display.append(static_cast<std::size_t>(-before), '0');
        out.display += digits;
        out.point = true;
    } else {
        out.display.append(digits, 0, static_cast<std::size_t>(before));
        out.display += kDecimalPoint;
        out.display.append(digits, static_cast<std::size_t>(before));
        out.point = true;
    }
    return out;
}

bool Engine::Reuse(std::string_view result) {
    std::optional<TypedNumber> number = typedNumber(result);
    if (!number) {
        return false;
    }
    run([&](Work& w) {
        w.display = std::move(number->display);
        w.s.DecimalTyped = number->point;
        w.s.EntryState = text("NUMS");
    });
    return true;
}

void Engine::CancelEntry_Click() {
    run([](Work& w) {
        w.display = kZeroPoint;
        w.s.DecimalTyped = false;
        w.s.EntryState = text("CE");
    });
}

} // namespace quillo
