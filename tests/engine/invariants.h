// SPDX-License-Identifier: MIT
#pragma once

#include "engine.h"

#include <cmath>
#include <string>
#include <string_view>

namespace quillo::test {

inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Every display the engine writes has the shape -?[ ]?D*(.D*)?(E[+-]DD+)?:
// typed entries, both number forms, the zero patterns and a lone sign.
inline bool writableDisplay(std::string_view d) {
    if (d.empty()) {
        return false;
    }
    std::size_t i = 0;
    if (d[i] == '-') {
        ++i;
    }
    if (i < d.size() && d[i] == ' ') {
        ++i;
    }
    while (i < d.size() && isDigit(d[i])) {
        ++i;
    }
    if (i < d.size() && d[i] == '.') {
        ++i;
        while (i < d.size() && isDigit(d[i])) {
            ++i;
        }
    }
    if (i < d.size() && d[i] == 'E') {
        ++i;
        if (i >= d.size() || (d[i] != '+' && d[i] != '-')) {
            return false;
        }
        const std::size_t start = ++i;
        while (i < d.size() && isDigit(d[i])) {
            ++i;
        }
        if (i - start < 2) {
            return false;
        }
    }
    return i == d.size();
}

inline bool oneOf(const Variant& v, std::initializer_list<std::string_view> texts) {
    if (v.kind() != Variant::Kind::Text) {
        return false;
    }
    for (auto t : texts) {
        if (v.asText() == t) {
            return true;
        }
    }
    return false;
}

inline bool soundSlot(const Variant& v) {
    switch (v.kind()) {
    case Variant::Kind::Double:
        return std::isfinite(v.asDouble());
    case Variant::Kind::Text:
        return writableDisplay(v.asText());
    case Variant::Kind::Integer:
        return v.asInteger() == 0;
    case Variant::Kind::Empty:
        return true;
    case Variant::Kind::Boolean:
        return false;
    }
    return false;
}

// What must hold after every key; returns a description of the first breach.
inline std::string violation(const State& s, std::string_view display) {
    if (!writableDisplay(display)) {
        return "display '" + std::string(display) + "' is not a text the engine writes";
    }
    if (s.OperandCount < 0) {
        return "negative OperandCount";
    }
    if (!soundSlot(s.FirstNumber) || !soundSlot(s.SecondNumber) || !soundSlot(s.DisplayValue)) {
        return "a number field holds what the engine cannot produce";
    }
    if (s.SecondNumber.kind() == Variant::Kind::Double ||
        s.DisplayValue.kind() == Variant::Kind::Double) {
        return "SecondNumber and DisplayValue only ever copy the display";
    }
    if (!oneOf(s.EntryState, {"NONE", "NUMS", "OPS", "Ops", "NEG", "CE", "USE"})) {
        return "unknown EntryState";
    }
    if (!oneOf(s.PendingOperator, {" ", "+", "-", "X", "/", "x^y", "=", "%"})) {
        return "unknown PendingOperator";
    }
    return {};
}

} // namespace quillo::test
