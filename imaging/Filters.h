// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Bitmap.h"

// ImageJ's Process commands, giving its very bytes. Each works in place, every output from the
// picture as it was before; colour pictures channel by channel, alpha bytes left as they are; an
// 8-bit picture on its bytes, its palette kept. The 3 x 3 filters take a pixel beyond the border
// as the nearest edge pixel, and, as ImageJ does, leave a picture one pixel wide as it is.

// Edit > Invert: every colour byte v becomes 255 - v.
void Invert(TBitmap& bitmap);
// The same for rows [first, last) of `source` into `target`, a bitmap of its shape or itself.
void InvertRows(const TBitmap& source, TBitmap& target, int first, int last);

// Process > Smooth: the 3 x 3 mean, (sum + 4) / 9.
void Smooth(TBitmap& bitmap);

// Process > Sharpen: 12 x centre minus the eight neighbours, over 4. On 8-bit pictures rounded,
// on colour pictures truncated and the border pixels left as they are (ImageJ's colour
// convolution), clamped to 0 ... 255.
void Sharpen(TBitmap& bitmap);

// Process > Find Edges: the magnitude of the 3 x 3 Sobel gradient, truncated, at most 255.
void FindEdges(TBitmap& bitmap);

// Process > Filters > Median, radius 1: the median of the 3 x 3 neighbourhood.
void Median(TBitmap& bitmap);
