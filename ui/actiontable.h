// SPDX-License-Identifier: MIT
#pragma once

#include "shortcuts.h"

#include <QAction>
#include <QKeyEvent>
#include <QPushButton>
#include <QString>
#include <QVariant>

#include <span>

// A window's actions, one row each, as Qt's examples build their QActions:
// the menu item (its caption, tooltip and object name are the .ui's), the
// keys that do it, what it does and when the menu offers it. The menu, the
// keys and a button below the list all go through the row, so that a new
// action is one row. `Items` is the menu's generated Ui class, `Buttons`
// the window's.
template <class Owner, class Items, class Buttons> struct ActionRow {
    QAction* Items::*item = nullptr; // none: keys alone
    shortcuts::Keys keys{};
    // `checked`: a ticked item's new tick; by key, the opposite of the one shown.
    void (*run)(Owner& owner, bool checked) = nullptr;
    bool (*enabled)(Owner& owner) = nullptr; // none: always
    bool (*checked)(Owner& owner) = nullptr; // the tick shown, for a ticked item
    // Why the item is greyed, "" when it is not: its text then says so (the
    // item's `textWhyNot`, with %1 for the reason), and so does its tooltip,
    // since a screen reader reads the text, not a tooltip.
    QString (*whyNot)(Owner& owner) = nullptr;
    QPushButton* Buttons::*button = nullptr; // a button that does it too
};

namespace actiontable {

// Connects the menu's items to their rows and shows each one's first key.
template <class Owner, class Items, class Buttons>
void wireItems(std::span<const ActionRow<Owner, Items, Buttons>> rows, Owner& owner, Items& items) {
    for (const auto& row : rows) {
        if (row.item == nullptr) {
            continue;
        }
        QAction* item = items.*row.item;
        QObject::connect(item, &QAction::triggered, &owner,
                         [&owner, run = row.run](bool checked) { run(owner, checked); });
        item->setShortcut(shortcuts::sequences(row.keys).value(0));
        item->setProperty("caption", item->text());
        item->setProperty("whatItDoes", item->toolTip());
    }
}

template <class Owner, class Items, class Buttons>
void wireButtons(std::span<const ActionRow<Owner, Items, Buttons>> rows, Owner& owner,
                 Buttons& buttons) {
    for (const auto& row : rows) {
        if (row.button != nullptr) {
            QObject::connect(buttons.*row.button, &QPushButton::clicked, &owner,
                             [&owner, run = row.run] { run(owner, false); });
        }
    }
}

// Greys, ticks and explains the items as the menu is about to show them.
template <class Owner, class Items, class Buttons>
void refresh(std::span<const ActionRow<Owner, Items, Buttons>> rows, Owner& owner, Items& items) {
    for (const auto& row : rows) {
        if (row.item == nullptr) {
            continue;
        }
        QAction& item = *(items.*row.item);
        if (row.enabled) {
            item.setEnabled(row.enabled(owner));
        }
        if (row.checked) {
            item.setChecked(row.checked(owner));
        }
        if (row.whyNot) {
            const QString why = row.whyNot(owner);
            item.setEnabled(why.isEmpty());
            item.setText(why.isEmpty() ? item.property("caption").toString()
                                       : item.property("textWhyNot").toString().arg(why));
            item.setToolTip(why.isEmpty() ? item.property("whatItDoes").toString() : why);
        }
    }
}

// Runs the first row whose keys `event` is; false when none is. A key runs
// its action whether or not the menu would offer it: the action says why
// it cannot (F2 on a line with no number) or does nothing.
template <class Owner, class Items, class Buttons>
bool runKey(std::span<const ActionRow<Owner, Items, Buttons>> rows, Owner& owner,
            const QKeyEvent& event) {
    for (const auto& row : rows) {
        if (shortcuts::matches(event, row.keys)) {
            row.run(owner, row.checked ? !row.checked(owner) : false);
            return true;
        }
    }
    return false;
}

} // namespace actiontable
