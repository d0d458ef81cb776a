// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QSize>

#include "Bitmap.h"

// Copies a decoded picture into a bitmap: fewer than 8 bits per pixel become 8-bit indexed with
// their palette, grey pictures 8-bit with the grey palette, true colour 24-bit, or 32-bit when the
// picture carries alpha.
TBitmap BitmapFromQImage(const QImage& image);

// An independent copy of the bitmap as a QImage, for writers and the clipboard. 8-bit pictures
// become indexed with a 256-entry colour table (see ColorTableOf).
QImage QImageFromBitmap(const TBitmap& bitmap);

// The 256 colours an 8-bit bitmap shows: its palette, black beyond a short palette, the grey
// ramp for a bitmap without one.
QList<QRgb> ColorTableOf(const TBitmap& bitmap);

// The part `rect` of the bitmap as a QImage sharing the bitmap's rows: no pixel is copied. Valid
// only while the bitmap is neither changed nor destroyed.
QImage WrapBitmap(const TBitmap& bitmap, const QRect& rect);

// The bitmap scaled to `size` by taking one sample per target pixel (nearest neighbour), so that
// the cost depends on the target's size, never on the picture's.
QImage SampleBitmap(const TBitmap& bitmap, const QSize& size);
