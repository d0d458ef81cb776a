// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Bitmap.h"

// ImageJ's Process > Binary commands with its default options: 8-bit pictures holding only 0 and
// 255, black (0) objects on a white (255) background, one iteration, a neighbour count of 1 and
// no padding of the edges. Outside the picture lies background. Each replaces the bitmap by its
// result; any other picture is left as it is.

// A black pixel with a white one among its 8 neighbours turns white.
void Erode(TBitmap& bitmap);
// A white pixel with a black one among its 8 neighbours turns black.
void Dilate(TBitmap& bitmap);
// Erode, then dilate.
void Open(TBitmap& bitmap);
// Dilate, then erode.
void Close(TBitmap& bitmap);
// Black pixels whose 8 neighbours are all black turn white, leaving the objects' outlines.
void Outline(TBitmap& bitmap);
// White areas that no 4-connected path of white pixels joins to the picture's border turn black.
void FillHoles(TBitmap& bitmap);
// Thins the black objects to lines one pixel wide, by ImageJ's table of 3 x 3 neighbourhoods.
void Skeletonize(TBitmap& bitmap);
