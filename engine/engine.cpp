// SPDX-License-Identifier: MIT
#include "engine.h"

#include "clipboard.h"
#include "convert.h"
#include "errors.h"
#include "keys.h"

#include <algorithm>
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

} // namespace

struct Engine::Work {
    State s;
    std::string display;
    Origins o;
    std::uint64_t key; // this key's index
    std::string tape;  // the line this key adds to the tape, if any: one at most
    LineInfo info;     // and what it says of the line

    // One of a line's values: a number, typed or computed, or a notice.
    struct Value {
        std::string_view text;
        Origin origin;
        bool number = true;
    };
    // Writes the line from its pattern: %1, %2 and %3 are replaced by the
    // values, and the numbers among them are marked where they stand.
    void line(std::string_view pattern, std::initializer_list<Value> values) {
        std::string out;
        LineInfo said;
        said.key = key;
        // A value the pattern repeats ("%1 % = %1 X 100") is one number of
        // the line, marked where it first stands.
        unsigned marked = 0;
        for (std::size_t i = 0; i < pattern.size(); ++i) {
            const char c = pattern[i];
            if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' &&
                pattern[i + 1] < '1' + static_cast<int>(values.size())) {
                const unsigned which = static_cast<unsigned>(pattern[++i] - '1');
                const Value& v = values.begin()[which];
                const bool first = (marked & (1u << which)) == 0;
                marked |= 1u << which;
                if (v.number && first && said.count < said.numbers.size()) {
                    said.numbers[said.count++] = {
                        static_cast<std::uint32_t>(out.size()),
                        static_cast<std::uint32_t>(v.text.size()), v.origin.begin,
                        static_cast<std::uint32_t>(v.origin.end - v.origin.begin)};
                }
                out += v.text;
            } else {
                out += c;
            }
        }
        tape = std::move(out);
        info = said;
    }

    // A digit or the point starts an entry or goes on with one: the keys
    // that typed it are the entry's, a minus that began it included.
    void typing(bool fresh) {
        if (fresh) {
            if (!equals(s.EntryState, "NEG")) {
                o.display = {key, key + 1};
            } else if (o.minus && *o.minus + 1 == key) {
                o.display = {*o.minus, key + 1};
            } else {
                o.display = {}; // a minus and its digits apart: not one entry
            }
        } else if (o.display.typed() && o.display.end == key) {
            o.display.end = key + 1;
        } else {
            o.display = {}; // digits after a computed number
        }
    }
};

template <class Op> void Engine::run(Op&& op, bool key) {
    // Taken for this key alone, whether it completes or not.
    Snapshot* const record = std::exchange(record_, nullptr);
    Work w{state_, surface_.displayText(), origins_, nextKey_, {}, {}};
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
        tape_.push(w.tape, w.info, redoing_);
    }
    if (!redoing_) {
        tape_.renumberFrom(tapeEnd);
    }
    static_assert(std::is_nothrow_move_assignable_v<State>);
    if (record) {
        record->state = std::move(state_);
        record->display = std::move(w.display);
        record->tapeEnd = tapeEnd;
        record->origins = origins_;
        record->nextKey = nextKey_;
    }
    state_ = std::move(w.s);
    origins_ = w.o;
    if (key) {
        ++nextKey_;
    }
}

Engine::Snapshot Engine::snapshot() const {
    return {state_, surface_.displayText(), tape_.end(), origins_, nextKey_};
}

void Engine::restore(Snapshot&& snapshot) {
    surface_.exchangeDisplayText(snapshot.display);
    state_ = std::move(snapshot.state);
    origins_ = snapshot.origins;
    nextKey_ = snapshot.nextKey;
    tape_.truncate(snapshot.tapeEnd);
}

void Engine::exchange(Snapshot& other) {
    surface_.exchangeDisplayText(other.display);
    std::swap(state_, other.state);
    std::swap(origins_, other.origins);
    std::swap(nextKey_, other.nextKey);
}

void Engine::begin(Snapshot& snapshot, Tape& tape) {
    exchange(snapshot);
    std::swap(tape_, tape);
}

void Engine::rewriteLines(std::uint64_t from, std::vector<Tape::Line>& lines,
                          bool redone) noexcept {
    tape_.truncate(from);
    for (Tape::Line& line : lines) {
        tape_.push(line.text, line.info, redone);
    }
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
    run(
        [](Work& w) {
            formLoad(w.s, w.display);
            w.o.display = {};
        },
        false);
}

void Engine::Number_Click(int Index) {
    run([&](Work& w) {
        const std::string digit = surface_.numberCaption(Index);
        w.typing(!equals(w.s.EntryState, "NUMS"));
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
        w.typing(!equals(w.s.EntryState, "NUMS"));
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
                                       Work& w) {
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
            w.line("%1 / %2: %3", {{tapeNumber(a), w.o.first},
                                   {tapeNumber(b), w.o.second},
                                   {kDivideByZeroText, {}, false}});
            w.info.zeroDivisor = true;
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
        Origins& o = w.o;
        s.DisplayValue = Variant::text(w.display);
        o.value = o.display;
        // A reused result is an operand as a typed number is.
        const bool entered = equals(s.EntryState, "NUMS") || equals(s.EntryState, kReused);
        if (entered) {
            increment(s.OperandCount);
        }
        switch (s.OperandCount) {
        case 0:
            if (!equals(s.EntryState, "NEG") && caption == "-") {
                w.display.insert(0, "-");
                s.EntryState = text("NEG");
                o.display = {};
                o.minus = w.key;
            }
            break;
        case 1: {
            s.FirstNumber = Variant::text(w.display);
            o.first = o.display;
            // All three tests hold before the sign is placed.
            const bool typing = entered;
            const bool minus = caption == "-";
            const bool afterEquals = equals(s.PendingOperator, "=");
            if (!typing && minus && !afterEquals) {
                w.display = "-";
                s.EntryState = text("NEG");
                o.display = {};
                o.minus = w.key;
            }
            break;
        }
        case 2: {
            s.SecondNumber = s.DisplayValue;
            o.second = o.value;
            const Variant a = s.FirstNumber;
            const Variant& b = s.SecondNumber;
            const auto op = keyFromCaption(s.PendingOperator.asText());
            if (const auto result = evaluate(op, a, b, w)) {
                // A pending "=" gives back the number typed after it: that
                // number still, on its line and as the next one's operand.
                const Origin kept = *op == Key::Equals ? o.second : Origin{};
                s.FirstNumber = Variant::number(*result);
                w.display = plainText(s.FirstNumber);
                w.line(describe(*op).evaluation, {{tapeNumber(a), o.first},
                                                  {tapeNumber(b), o.second},
                                                  {copyText(w.display), kept}});
                o.first = kept;
                o.display = kept;
            } else {
                w.display = plainText(s.FirstNumber);
                o.display = o.first;
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
        w.line(describe(Key::Percent).step, {{taken, w.o.display}, {copyText(w.display), {}}});
        w.o.display = {};
        w.s.EntryState = text("Ops");
        w.s.PendingOperator = text("%");
        w.s.DecimalTyped = true;
        increment(w.s.OperandCount);
    });
}

namespace {

// The one-operand keys: `result` computes from the display's number.
} // namespace

template <class Result> void Engine::oneOperand(Key key, Result&& result, Work& w) {
    State& s = w.s;
    s.FirstNumber = Variant::text(w.display);
    s.FirstNumber = Variant::number(result(toNumber(s.FirstNumber)));
    std::string shown = signedText(s.FirstNumber.asDouble());
    w.line(describe(key).step, {{copyText(w.display), w.o.display}, {copyText(shown), {}}});
    w.display = std::move(shown);
    w.o.first = {};
    w.o.display = {};
}

void Engine::cmdsq_Click() {
    run([this](Work& w) {
        oneOperand(
            Key::Square, [](double x) { return power(x, 2); }, w);
    });
}

void Engine::cmdqr_Click() {
    run([this](Work& w) {
        oneOperand(
            Key::Cube, [](double x) { return power(x, 3); }, w);
    });
}

void Engine::cmdsqrt_Click() {
    run([this](Work& w) { oneOperand(Key::Sqrt, squareRoot, w); });
}

void Engine::Cancel_Click() {
    run([this](Work& w) {
        // A rule closes the calculation, once.
        if (!tape_.empty() && tape_.back() != Tape::kRule) {
            w.line(Tape::kRule, {});
        }
        w.o = {};
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

bool reusable(std::string_view result) {
    if (result.empty() || result.size() > kReuseLimit) {
        return false;
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
        return false;
    }
    if (e == std::string_view::npos) {
        // Typed operands keep every digit; copyText leaves only its own form.
        return copyText(result) == result;
    }
    const std::string_view exponent = body.substr(e + 1);
    if (exponent.size() < 3 || (exponent[0] != '+' && exponent[0] != '-') ||
        !allDigits(exponent.substr(1))) {
        return false;
    }
    // Only plainText writes an exponent: its own form, read back the same.
    try {
        return plainText(parseNumber(result)) == result;
    } catch (const EngineError&) {
        return false;
    }
}

bool Engine::Reuse(std::string_view result) {
    if (!reusable(result)) {
        return false;
    }
    run([&](Work& w) {
        w.display = result;
        // Typed keys in its place would go on with an entry being typed or
        // take the minus before it: then it cannot be retyped.
        const bool apart = !equals(w.s.EntryState, "NUMS") && !equals(w.s.EntryState, "NEG");
        w.o.display = apart ? Origin{w.key, w.key + 1} : Origin{};
        w.s.DecimalTyped = false;
        w.s.EntryState = text(kReused);
    });
    return true;
}

void Engine::CancelEntry_Click() {
    run([](Work& w) {
        w.display = kZeroPoint;
        w.o.display = {};
        w.s.DecimalTyped = false;
        w.s.EntryState = text("CE");
    });
}

} // namespace quillo
