// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>

class QWidget;

// Where the program's windows go on a screen, so that all of them can be used on a small one
// (a 1024 × 600 panel) beside the main window. Rectangles are frames (title bar included), in
// screen coordinates; `available` is a screen's available geometry.

// `frame` moved just enough to lie within `available`; its top-left corner where it is larger.
QRect WithinScreen(const QRect& frame, const QRect& available);

// Where a window of `size` (frame) opens beside the main window `main`: beside it where the screen
// has room for the whole window, else beside `keepClear` (the main window's buttons) on the side
// with more room, at the screen's far edge, narrowed to that room; never taller than the screen.
QRect PlaceBeside(const QSize& size, const QRect& main, const QRect& keepClear,
                  const QRect& available);

// The frame of every button of `mainWindow`, in screen coordinates (its whole frame if it has
// none).
QRect ButtonsOf(const QWidget* mainWindow);

// Moves the top-level `window` within its screen, as little as needed.
void KeepWithinScreen(QWidget* window);

// Places (and where needed narrows) the top-level `window` beside `mainWindow`, within the main
// window's screen, never over its buttons. Every window of the program opens through this.
void PlaceBesideMainWindow(QWidget* window, const QWidget* mainWindow);
