// SPDX-License-Identifier: MIT
#pragma once

#include <QKeySequence>
#include <QList>

class QAction;
class QKeyEvent;

// The windows' shortcuts, one row an action: what the key handlers take and
// what the menus show come from the same row.
namespace shortcuts {

enum class Action {
    Copy,
    Paste,
    Undo,
    Redo,
    Tape,
    SaveAs,
    Delete,
    ChooseLine,
    Correct,
    CloseTape,
    ZoomIn,
    ZoomOut,
    ZoomReset,
};

// The keys that do `action`, the one a menu shows first.
QList<QKeySequence> keys(Action action);
// Whether a typed key is one of them.
bool matches(const QKeyEvent& event, Action action);
// Shows the action's first key on a menu's item.
void showOn(QAction& item, Action action);

} // namespace shortcuts
