// SPDX-License-Identifier: MIT
#include "keyboard.h"

#include <QKeyEvent>

#include <array>

namespace keyboard {

using quillo::Key;

std::optional<Key> keyFor(const QKeyEvent& event) {
    return keyFor(event.key(), event.text(), event.modifiers());
}

std::optional<Key> keyFor(int qtKey, const QString& text, Qt::KeyboardModifiers modifiers) {
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        return std::nullopt;
    }
    switch (qtKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return Key::Equals;
    case Qt::Key_Escape:
        return Key::Clear;
    case Qt::Key_Delete:
        return Key::ClearEntry;
    case Qt::Key_Dead_Circumflex: // "^" where it is a dead key, as in German
        return Key::Power;
    default:
        break;
    }
    // The text, not the key code, so that every layout's own "*" or "%" counts.
    if (text.size() != 1) {
        return std::nullopt;
    }
    const char16_t c = text.front().unicode();
    if (c >= u'0' && c <= u'9') {
        return static_cast<Key>(static_cast<int>(Key::D0) + (c - u'0'));
    }
    switch (c) {
    case u'.':
    case u',': // the keypad's decimal key in layouts that write a comma
        return Key::Decimal;
    case u'+':
        return Key::Plus;
    case u'-':
        return Key::Minus;
    case u'/':
        return Key::Divide;
    case u'*':
    case u'x':
    case u'X':
        return Key::Times;
    case u'^':
        return Key::Power;
    case u'=':
        return Key::Equals;
    case u'%':
        return Key::Percent;
    case u'q': // sQuare
    case u'Q':
        return Key::Square;
    case u'c': // Cube; not "C", which would read as the clearing key's caption
        return Key::Cube;
    case u'r': // Root
    case u'R':
        return Key::Sqrt;
    default:
        return std::nullopt;
    }
}

QString binding(Key key) {
    // In the order of quillo::Key.
    static constexpr std::array<const char*, quillo::kKeyCount> kMain = {
        "0", "1", "2", "3", "4", "5", "6", "7", "8", "9",   ".",  "/",
        "+", "*", "-", "=", "^", "%", "q", "c", "r", "Esc", "Del"};
    return QString::fromLatin1(kMain[static_cast<std::size_t>(key)]);
}

} // namespace keyboard
