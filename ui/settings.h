// SPDX-License-Identifier: MIT
#pragma once

#include <QRect>

// What the calculator remembers between runs, in quillo.conf under
// $XDG_CONFIG_HOME/quillo (an INI file). A missing, unreadable or broken
// file gives the defaults; one that cannot be written is left as it was.
struct Settings {
    bool keepOnTop = false;
    bool tapeOpen = false;
    QRect tapeGeometry; // the tape window's frame; empty: never placed
    bool keepTape = true;

    static Settings load();
    // Writes every value; the folder is made private to the user (0700) and
    // the file too (0600).
    void save() const;
};
