// SPDX-License-Identifier: MIT
#include "shortcuts.h"

#include <QKeyEvent>

namespace shortcuts {

QList<QKeySequence> sequences(const Keys& keys) {
    QList<QKeySequence> out;
    for (const QKeyCombination c : keys.typed) {
        if (c != QKeyCombination()) {
            out.append(QKeySequence(c));
        }
    }
    if (keys.standard != QKeySequence::UnknownKey) {
        for (const QKeySequence& k : QKeySequence::keyBindings(keys.standard)) {
            if (!out.contains(k)) {
                out.append(k);
            }
        }
    }
    return out;
}

bool matches(const QKeyEvent& event, const Keys& keys) {
    if (keys.standard != QKeySequence::UnknownKey && event.matches(keys.standard)) {
        return true;
    }
    const QKeyCombination typed = event.keyCombination();
    for (const QKeyCombination c : keys.typed) {
        if (c != QKeyCombination() && c == typed) {
            return true;
        }
    }
    return false;
}

} // namespace shortcuts
