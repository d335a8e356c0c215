// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

class QObject;

namespace quillo {

// SIGTERM and SIGHUP (a logout, a shutdown) run `quit` from the event loop,
// so that the program ends through its normal exit path rather than dying
// where it stands. Their handlers only write a byte to a pipe that the loop
// watches. False when the pipe could not be had: the signals keep their
// default action.
bool quitOnSignals(QObject& owner, std::function<void()> quit);

} // namespace quillo
