// SPDX-License-Identifier: MIT
#pragma once

namespace quillo {

// Qt ends the program with abort(), and a core dump, when no platform plugin
// can start: mostly for want of a display. While a guard is on, Qt's messages
// are held back, and that fatal one instead prints one line saying which
// display could not be reached and exits with status 1. Ended, the guard
// hands what it held to the handler before it. A start that reaches its
// display pays two handler swaps.
class NoDisplayGuard {
public:
    NoDisplayGuard();
    ~NoDisplayGuard() { end(); }
    NoDisplayGuard(const NoDisplayGuard&) = delete;
    NoDisplayGuard& operator=(const NoDisplayGuard&) = delete;

    void end();

private:
    bool on_ = true;
};

} // namespace quillo
