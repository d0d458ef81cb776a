// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Bitmap.h"

// ImageJ's Process > Binary > Watershed with "Black background" off: black (0) objects that touch
// are cut apart by white (255) lines along the necks of their Euclidean distance map, as ImageJ
// 1.53 and 1.54 cut them, to the byte. Takes an 8-bit bitmap holding only 0 and 255; leaves any
// other as it is.
void Watershed(TBitmap& bitmap);
