// SPDX-License-Identifier: MIT
#include "keys.h"

#include "convert.h"

#include <array>
#include <charconv>
#include <stdexcept>

namespace quillo {
namespace {

std::string integerText(int n) {
    char buf[16];
    auto res = std::to_chars(buf, buf + sizeof buf, n);
    return std::string(buf, res.ptr);
}

} // namespace

std::optional<Key> keyFromCaption(std::string_view text) noexcept {
    // Most captions are one character: those are looked up directly, since
    // the replay tool and every evaluation ask.
    static constexpr auto kByChar = [] {
        std::array<signed char, 128> table{};
        table.fill(-1);
        for (const KeyDescription& row : kKeys) {
            if (row.caption.size() == 1) {
                table[static_cast<unsigned char>(row.caption[0])] =
                    static_cast<signed char>(row.key);
            }
        }
        return table;
    }();
    if (text.size() == 1) {
        const auto c = static_cast<unsigned char>(text[0]);
        if (c < kByChar.size() && kByChar[c] >= 0) {
            return static_cast<Key>(kByChar[c]);
        }
        return std::nullopt;
    }
    for (const KeyDescription& row : kKeys) {
        if (row.caption == text) {
            return row.key;
        }
    }
    return std::nullopt;
}

// The table is indexed by Key.
static_assert([] {
    for (std::size_t i = 0; i < std::size(kKeys); ++i) {
        if (static_cast<std::size_t>(kKeys[i].key) != i) {
            return false;
        }
    }
    return true;
}());

std::string StandardSurface::numberCaption(int index) const {
    if (index < 0 || index > 9) {
        throw std::out_of_range("no digit key with this index");
    }
    return std::string(caption(static_cast<Key>(index)));
}

std::string StandardSurface::operatorCaption(int index) const {
    if (index < 0 || index > 5) {
        throw std::out_of_range("no operator key with this index");
    }
    return std::string(caption(static_cast<Key>(static_cast<int>(Key::Divide) + index)));
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
