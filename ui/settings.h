// SPDX-License-Identifier: MIT
#pragma once

#include <QRect>

// What the calculator remembers between runs, in quillo.conf under
// $XDG_CONFIG_HOME/quillo (an INI file). A missing, unreadable or broken
// file gives the defaults; one that cannot be written is left as it was.
struct Settings {
    bool keepOnTop = false;
    bool tapeOpen = false;
    // The tape window's size, and its frame's place from the calculator's
    // frame's top left; empty: never opened.
    QRect tapeGeometry;
    bool keepTape = true;

    static Settings load();
    // Writes every value; the folder is made private to the user (0700) and
    // the file too (0600).
    void save() const;
};
