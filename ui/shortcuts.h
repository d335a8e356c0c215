// SPDX-License-Identifier: MIT
#pragma once

#include <QKeySequence>
#include <QList>

#include <array>

class QKeyEvent;

// The keys of one action, as its row in a window's action table gives them:
// what the key handlers take and what the menus show come from the same row.
namespace shortcuts {

struct Keys {
    // The platform's keys for it, if it has any...
    QKeySequence::StandardKey standard = QKeySequence::UnknownKey;
    // ...and these, taken exactly as typed; the first is the one shown.
    std::array<QKeyCombination, 3> typed{};
};

// The keys, the one a menu shows first.
QList<QKeySequence> sequences(const Keys& keys);
// Whether a typed key is one of them.
bool matches(const QKeyEvent& event, const Keys& keys);

} // namespace shortcuts
