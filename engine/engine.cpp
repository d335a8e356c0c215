// SPDX-License-Identifier: MIT
#include "engine.h"

#include "convert.h"
#include "errors.h"

#include <limits>
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

} // namespace

struct Engine::Work {
    State s;
    std::string display;
};

template <class Op> void Engine::run(Op&& op) {
    Work w{state_, surface_.displayText()};
    std::forward<Op>(op)(w);
    // The display write is the last step that can fail; the fields follow it
    // with a move that cannot, so a key lands whole or not at all.
    surface_.setDisplayText(w.display);
    static_assert(std::is_nothrow_move_assignable_v<State>);
    state_ = std::move(w.s);
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
            const Variant& op = s.PendingOperator;
            const Variant& a = s.FirstNumber;
            const Variant& b = s.SecondNumber;
            if (equals(op, "+")) {
                s.FirstNumber = Variant::number(checked(toNumber(a) + toNumber(b)));
            } else if (equals(op, "-")) {
                s.FirstNumber = Variant::number(checked(toNumber(a) - toNumber(b)));
            } else if (equals(op, "X")) {
                s.FirstNumber = Variant::number(checked(toNumber(a) * toNumber(b)));
            } else if (equals(op, "x^y")) {
                s.FirstNumber = Variant::number(power(toNumber(a), toNumber(b)));
            } else if (equals(op, "/")) {
                if (equalsZero(b)) {
                    surface_.showWarning(kDivideByZeroText, kDivideByZeroTitle);
                } else {
                    s.FirstNumber = Variant::number(checked(toNumber(a) / toNumber(b)));
                }
            } else if (equals(op, "=")) {
                s.FirstNumber = Variant::number(toNumber(b));
            } else if (equals(op, "%")) {
                s.FirstNumber = Variant::number(checked(toNumber(a) * toNumber(b)));
            }
            w.display = plainText(s.FirstNumber);
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
        w.display = plainText(checked(toNumber(Variant::text(w.display)) * 100));
        w.s.EntryState = text("Ops");
        w.s.PendingOperator = text("%");
        w.s.DecimalTyped = true;
        increment(w.s.OperandCount);
    });
}

namespace {

void raiseDisplay(State& s, std::string& display, double exponent) {
    s.FirstNumber = Variant::text(display);
    s.FirstNumber = Variant::number(power(toNumber(s.FirstNumber), exponent));
    display = signedText(s.FirstNumber.asDouble());
}

} // namespace

void Engine::cmdsq_Click() {
    run([](Work& w) { raiseDisplay(w.s, w.display, 2); });
}

void Engine::cmdqr_Click() {
    run([](Work& w) { raiseDisplay(w.s, w.display, 3); });
}

void Engine::cmdsqrt_Click() {
    run([](Work& w) {
        w.s.FirstNumber = Variant::text(w.display);
        w.s.FirstNumber = Variant::number(squareRoot(toNumber(w.s.FirstNumber)));
        w.display = signedText(w.s.FirstNumber.asDouble());
    });
}

void Engine::Cancel_Click() {
    run([](Work& w) {
        w.display = kZeroPoint;
        w.s.FirstNumber = Variant::integer(0);
        w.s.SecondNumber = Variant::integer(0);
        formLoad(w.s, w.display);
    });
}

void Engine::CancelEntry_Click() {
    run([](Work& w) {
        w.display = kZeroPoint;
        w.s.DecimalTyped = false;
        w.s.EntryState = text("CE");
    });
}

} // namespace quillo
