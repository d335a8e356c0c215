// SPDX-License-Identifier: MIT
#include "shortcuts.h"

#include <QAction>
#include <QKeyEvent>

#include <array>
#include <cstddef>
#include <iterator>

namespace shortcuts {
namespace {

struct Row {
    Action action;
    // The platform's keys for it, if it has any...
    QKeySequence::StandardKey standard;
    // ...and these, taken exactly as typed; the first is the one shown.
    std::array<QKeyCombination, 3> typed;
};

constexpr QKeyCombination kNone{};

// clang-format off
constexpr Row kRows[] = {
    {Action::Copy, QKeySequence::Copy, {Qt::ControlModifier | Qt::Key_C, kNone}},
    {Action::Paste, QKeySequence::Paste, {Qt::ControlModifier | Qt::Key_V, kNone}},
    {Action::Undo, QKeySequence::Undo, {Qt::ControlModifier | Qt::Key_Z, QKeyCombination(Qt::Key_Backspace)}},
    {Action::Redo, QKeySequence::Redo, {Qt::ControlModifier | Qt::ShiftModifier | Qt::Key_Z, Qt::ControlModifier | Qt::Key_Y}},
    {Action::Tape, QKeySequence::UnknownKey, {Qt::ControlModifier | Qt::Key_T, kNone}},
    {Action::SaveAs, QKeySequence::Save, {Qt::ControlModifier | Qt::Key_S, kNone}},
    {Action::Delete, QKeySequence::UnknownKey, {QKeyCombination(Qt::Key_Delete), kNone}},
    {Action::ChooseLine, QKeySequence::UnknownKey, {QKeyCombination(Qt::Key_Return), Qt::KeypadModifier | Qt::Key_Enter}},
    {Action::Correct, QKeySequence::UnknownKey, {QKeyCombination(Qt::Key_F2), kNone}},
    {Action::CloseTape, QKeySequence::UnknownKey, {QKeyCombination(Qt::Key_Escape), kNone}},
    // Ctrl and the key that has "+" on it, shifted or not.
    {Action::ZoomIn, QKeySequence::ZoomIn, {Qt::ControlModifier | Qt::Key_Plus, Qt::ControlModifier | Qt::Key_Equal, Qt::ControlModifier | Qt::ShiftModifier | Qt::Key_Plus}},
    {Action::ZoomOut, QKeySequence::ZoomOut, {Qt::ControlModifier | Qt::Key_Minus, kNone}},
    {Action::ZoomReset, QKeySequence::UnknownKey, {Qt::ControlModifier | Qt::Key_0, Qt::ControlModifier | Qt::KeypadModifier | Qt::Key_0}},
};
// clang-format on

static_assert(
    [] {
        for (std::size_t i = 0; i < std::size(kRows); ++i) {
            if (static_cast<std::size_t>(kRows[i].action) != i) {
                return false;
            }
        }
        return std::size(kRows) == static_cast<std::size_t>(Action::ZoomReset) + 1;
    }(),
    "one row an action, in the order of Action");

const Row& row(Action action) {
    return kRows[static_cast<int>(action)];
}

} // namespace

QList<QKeySequence> keys(Action action) {
    const Row& r = row(action);
    QList<QKeySequence> out;
    for (const QKeyCombination c : r.typed) {
        if (c != kNone) {
            out.append(QKeySequence(c));
        }
    }
    if (r.standard != QKeySequence::UnknownKey) {
        for (const QKeySequence& k : QKeySequence::keyBindings(r.standard)) {
            if (!out.contains(k)) {
                out.append(k);
            }
        }
    }
    return out;
}

bool matches(const QKeyEvent& event, Action action) {
    const Row& r = row(action);
    if (r.standard != QKeySequence::UnknownKey && event.matches(r.standard)) {
        return true;
    }
    const QKeyCombination typed = event.keyCombination();
    for (const QKeyCombination c : r.typed) {
        if (c != kNone && c == typed) {
            return true;
        }
    }
    return false;
}

void showOn(QAction& item, Action action) {
    item.setShortcut(keys(action).value(0));
}

} // namespace shortcuts
