// SPDX-License-Identifier: MIT
#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

// Where the tape window goes, worked out from rectangles alone so that it can
// be checked without a window system. Rectangles are in global coordinates.
namespace placement {

struct Request {
    QRect screen;     // the available area of the calculator's screen
    QRect calculator; // the calculator's frame, decoration included
    QRect display;    // the calculator's display
    QMargins margins; // the tape's decoration around its client area
    QSize minimum;    // the tape's client area at its smallest
    QSize preferred;  // the tape's client area as the user last sized it
    // Where the user last had the tape's frame, from the calculator's
    // frame's top left; taken as it is where it is whole and clear.
    QPoint offset;
    bool hasOffset = false;
};

// Space between the two frames: frames that touch read as one window.
inline constexpr int kGap = 8;

// The tape's frame. Where the user last had it, if that is on the screen
// and clear of the calculator; else beside the calculator, on the screen and clear of it, on
// the first side (right, left, below, above) that takes it at its preferred
// size, else on the side with room for the largest part of it; with no room
// on any side, at its minimum size where it covers the least of the
// calculator and none of its display.
QRect tapeFrame(const Request& request);

// A frame of `size` for editing the `line` of a list: below it, or above it
// where below has no room, never over it while the screen has room on
// either side; otherwise on the side with more room. Within `screen`, which
// a frame larger than it is cut to.
QRect besideLine(const QRect& screen, const QRect& line, QSize size);

// Shows the editor `editor` at its size hint beside `line` (besideLine()),
// on the screen of the window it stands over. Not framed yet, it takes that
// window's frame margins for its own.
void showBesideLine(QWidget& editor, const QRect& line);

} // namespace placement
