// SPDX-License-Identifier: MIT
#pragma once

#include "keys.h"

#include <QString>

#include <optional>

class QKeyEvent;

// The calculator's keys on the keyboard, main block and keypad alike.
namespace keyboard {

// The calculator key a typed key stands for; nothing for keys with Ctrl, Alt
// or Meta held, and for keys the calculator has no use for (Backspace among
// them: there is no such operation).
std::optional<quillo::Key> keyFor(const QKeyEvent& event);
std::optional<quillo::Key> keyFor(int qtKey, const QString& text, Qt::KeyboardModifiers modifiers);

// The main keyboard key that presses `key`, as a screen reader names it.
QString binding(quillo::Key key);

} // namespace keyboard
