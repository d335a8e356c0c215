// SPDX-License-Identifier: MIT
#include "keys.h"

#include "convert.h"

#include <charconv>
#include <stdexcept>

namespace quillo {
namespace {

constexpr std::array<std::string_view, kKeyCount> kCaptions = {
    "0", "1", "2", "3", "4",   "5", "6",   "7",   "8",    "9", ".", "/",
    "+", "X", "-", "=", "x^y", "%", "x^2", "x^3", "Sqrt", "C", "CE"};

std::string integerText(int n) {
    char buf[16];
    auto res = std::to_chars(buf, buf + sizeof buf, n);
    return std::string(buf, res.ptr);
}

} // namespace

std::string_view caption(Key key) noexcept {
    return kCaptions[static_cast<std::size_t>(key)];
}

std::optional<Key> keyFromCaption(std::string_view text) noexcept {
    for (std::size_t i = 0; i < kCaptions.size(); ++i) {
        if (kCaptions[i] == text) {
            return static_cast<Key>(i);
        }
    }
    return std::nullopt;
}

void press(Engine& engine, Key key) {
    const int k = static_cast<int>(key);
    if (key <= Key::D9) {
        engine.Number_Click(k);
        return;
    }
    switch (key) {
    case Key::Decimal:
        engine.Decimal_Click();
        return;
    case Key::Divide:
    case Key::Plus:
    case Key::Times:
    case Key::Minus:
    case Key::Equals:
    case Key::Power:
        engine.Operator_Click(k - static_cast<int>(Key::Divide));
        return;
    case Key::Percent:
        engine.Percent_Click();
        return;
    case Key::Square:
        engine.cmdsq_Click();
        return;
    case Key::Cube:
        engine.cmdqr_Click();
        return;
    case Key::Sqrt:
        engine.cmdsqrt_Click();
        return;
    case Key::Clear:
        engine.Cancel_Click();
        return;
    case Key::ClearEntry:
        engine.CancelEntry_Click();
        return;
    default:
        return;
    }
}

std::string StandardSurface::numberCaption(int index) const {
    if (index < 0 || index > 9) {
        throw std::out_of_range("no digit key with this index");
    }
    return std::string(1, static_cast<char>('0' + index));
}

std::string StandardSurface::operatorCaption(int index) const {
    return std::string(kOperatorCaptions.at(static_cast<std::size_t>(index)));
}

void StandardSurface::showWarning(std::string_view, std::string_view) {
    ++warnings_;
}

std::string describe(const Variant& v) {
    switch (v.kind()) {
    case Variant::Kind::Empty:
        return "empty";
    case Variant::Kind::Integer:
        return "int:" + integerText(v.asInteger());
    case Variant::Kind::Double:
        return "double:" + roundTripText(v.asDouble());
    case Variant::Kind::Text:
        return "text:|" + v.asText() + "|";
    case Variant::Kind::Boolean:
        return v.asBoolean() ? "bool:-1" : "bool:0";
    }
    return {};
}

std::string describe(const State& s) {
    std::string out;
    out.reserve(160);
    out += "FirstNumber=" + describe(s.FirstNumber);
    out += " SecondNumber=" + describe(s.SecondNumber);
    out += " DecimalTyped=" + describe(Variant::boolean(s.DecimalTyped));
    out += " OperandCount=" + describe(Variant::integer(s.OperandCount));
    out += " EntryState=" + describe(s.EntryState);
    out += " PendingOperator=" + describe(s.PendingOperator);
    out += " DisplayValue=" + describe(s.DisplayValue);
    return out;
}

} // namespace quillo
