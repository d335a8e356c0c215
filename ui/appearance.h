// SPDX-License-Identifier: MIT
#pragma once

#include <QPixmap>

#include <span>

class QWidget;

// How large and in which colours the windows are drawn: a zoom of every
// window by one factor, in steps, and a dark high-contrast look kept as a
// style sheet beside the pictures. At 100 % and the default look none of
// this runs: the windows are exactly as their descriptions lay them out.
namespace appearance {

// The zoom steps, in per cent; the first is the windows as described.
std::span<const int> zoomSteps() noexcept;
// The step `by` steps from `percent`, held within the steps; 0 goes back to
// the first. A percent that is no step counts as the nearest below it.
int zoomStep(int percent, int by) noexcept;
// Whether `percent` is one of the steps.
bool isZoomStep(int percent) noexcept;

// The one zoom factor every window reads: 1 until a zoom is set.
qreal zoom();
// Sets the factor, and the application's fonts for it, which windows laid
// out by the font (the tape, its editor, boxes, menus, tooltips) follow.
void setZoom(int percent);

// Scales a window laid out by position, as a user's zoom: its fixed size,
// its controls' places and their fonts, from what they were at 100 %; the
// window is kept on its screen.
void scaleWindow(QWidget& window);

// The picture a widget's description names, in its @2x rendering where the
// screen's scale and the zoom together make it draw larger.
QPixmap picture(const QWidget& widget);

bool highContrast();
// Puts the dark high-contrast style sheet on the application, or takes it off.
void setHighContrast(bool on);

} // namespace appearance
