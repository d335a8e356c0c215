// SPDX-License-Identifier: MIT
#include "keyboard.h"

#include "ui_Calculator.h"

#include <QKeyEvent>

namespace keyboard {
namespace {

using quillo::Key;
using U = Ui_Calculator;

// clang-format off
constexpr KeyButton kKeyButtons[] = {
    {Key::D0, &U::Number_0, u"0", {}, "0"},
    {Key::D1, &U::Number_1, u"1", {}, "1"},
    {Key::D2, &U::Number_2, u"2", {}, "2"},
    {Key::D3, &U::Number_3, u"3", {}, "3"},
    {Key::D4, &U::Number_4, u"4", {}, "4"},
    {Key::D5, &U::Number_5, u"5", {}, "5"},
    {Key::D6, &U::Number_6, u"6", {}, "6"},
    {Key::D7, &U::Number_7, u"7", {}, "7"},
    {Key::D8, &U::Number_8, u"8", {}, "8"},
    {Key::D9, &U::Number_9, u"9", {}, "9"},
    // "," is the keypad's decimal key in layouts that write a comma.
    {Key::Decimal, &U::Decimal, u".,", {}, "."},
    {Key::Divide, &U::Operator_0, u"/", {}, "/"},
    {Key::Plus, &U::Operator_1, u"+", {}, "+"},
    {Key::Times, &U::Operator_2, u"*xX", {}, "*"},
    {Key::Minus, &U::Operator_3, u"-", {}, "-"},
    {Key::Equals, &U::Operator_4, u"=", {Qt::Key_Return, Qt::Key_Enter}, "="},
    // "^" is a dead key in some layouts, German among them.
    {Key::Power, &U::Operator_5, u"^", {Qt::Key_Dead_Circumflex}, "^"},
    {Key::Percent, &U::Percent, u"%", {}, "%"},
    {Key::Square, &U::cmdsq, u"qQ", {}, "q"}, // sQuare
    // Not "C", which would read as the clearing key's caption.
    {Key::Cube, &U::cmdqr, u"c", {}, "c"},
    {Key::Sqrt, &U::cmdsqrt, u"rR", {}, "r"}, // Root
    {Key::Clear, &U::Cancel, u"", {Qt::Key_Escape}, "Esc"},
    {Key::ClearEntry, &U::CancelEntry, u"", {Qt::Key_Delete}, "Del"},
};
// clang-format on

static_assert(
    [] {
        for (std::size_t i = 0; i < std::size(kKeyButtons); ++i) {
            if (static_cast<std::size_t>(kKeyButtons[i].key) != i) {
                return false;
            }
        }
        return std::size(kKeyButtons) == std::size(quillo::kKeys);
    }(),
    "one row a key, in the order of quillo::Key");

} // namespace

std::span<const KeyButton> keyButtons() noexcept {
    return kKeyButtons;
}

std::optional<Key> keyFor(const QKeyEvent& event) {
    return keyFor(event.key(), event.text(), event.modifiers());
}

std::optional<Key> keyFor(int qtKey, const QString& text, Qt::KeyboardModifiers modifiers) {
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        return std::nullopt;
    }
    const char16_t c = text.size() == 1 ? text.front().unicode() : u'\0';
    for (const KeyButton& row : kKeyButtons) {
        if ((qtKey != 0 && (row.qtKeys[0] == qtKey || row.qtKeys[1] == qtKey)) ||
            (c != u'\0' && row.typed.find(c) != std::u16string_view::npos)) {
            return row.key;
        }
    }
    return std::nullopt;
}

QString binding(Key key) {
    const std::string_view b = kKeyButtons[static_cast<std::size_t>(key)].binding;
    return QString::fromLatin1(b.data(), static_cast<qsizetype>(b.size()));
}

} // namespace keyboard
