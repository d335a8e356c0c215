// SPDX-License-Identifier: MIT
#pragma once

#include "keys.h"

#include <QString>

#include <array>
#include <optional>
#include <span>
#include <string_view>

class QKeyEvent;
class QPushButton;
class Ui_Calculator;

// Everything the window knows about a calculator key, one row a key, in the
// order of quillo::Key: its button, the keys that type it and the key a
// screen reader names for it.
namespace keyboard {

struct KeyButton {
    quillo::Key key;
    QPushButton* Ui_Calculator::*button;
    // Typed characters that press it (every layout's own "*" or "%" counts)...
    std::u16string_view typed;
    // ...and keys without a character (0 where there is none).
    std::array<int, 2> qtKeys;
    // The main keyboard key, as a screen reader names it.
    std::string_view binding;
};

std::span<const KeyButton> keyButtons() noexcept;

// The calculator key a typed key stands for; nothing for keys with Ctrl, Alt
// or Meta held, and for keys the calculator has no use for.
std::optional<quillo::Key> keyFor(const QKeyEvent& event);
std::optional<quillo::Key> keyFor(int qtKey, const QString& text, Qt::KeyboardModifiers modifiers);

// The main keyboard key that presses `key`, as a screen reader names it.
QString binding(quillo::Key key);

} // namespace keyboard
