// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Bitmap.h"

// Every colour byte of the bitmap below `threshold` becomes 0, every other 255. On a 32-bit
// picture the alpha byte of each pixel is left as it is.
void Threshold(TBitmap& bitmap, int threshold);

// The same rule, writing into `target` what it gives on the bytes of `source`. Only the area the
// two pictures share is written; pictures of different depths are left alone.
void ThresholdInto(const TBitmap& source, TBitmap& target, int threshold);

// The same rule for rows [first, last) only, as they come ready one band after another.
void ThresholdRows(const TBitmap& source, TBitmap& target, int threshold, int first, int last);
