// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Bitmap.h"

// The operations written as the plainest loops, one pixel and one channel at a time, from a full
// snapshot. They define the results: every fast kernel must give the very same bytes. Kept for
// tests, fuzzers and benchmarks; the program itself calls the functions of Grayscale.h,
// Threshold.h and Laplacian.h.

void ReferenceConvertToGrey(const TBitmap& source, TBitmap& result);
void ReferenceThresholdInto(const TBitmap& source, TBitmap& target, int threshold);
void ReferenceLaplacian(TBitmap& bitmap);

// ImageJ's Process commands (Filters.h) as ImageJ's own loops state them: every colour byte of
// the picture from a snapshot, a neighbour beyond the border taken from the nearest edge pixel.
void ReferenceInvert(TBitmap& bitmap);
void ReferenceSmooth(TBitmap& bitmap);
void ReferenceSharpen(TBitmap& bitmap);
void ReferenceFindEdges(TBitmap& bitmap);
void ReferenceMedian(TBitmap& bitmap);
// ImageJ's binary commands on 8-bit pictures of 0 and 255, black objects, outside the picture
// white: one pixel at a time over the whole picture, each pass from a full snapshot.
void ReferenceErode(TBitmap& bitmap);
void ReferenceDilate(TBitmap& bitmap);
void ReferenceOutline(TBitmap& bitmap);
void ReferenceFillHoles(TBitmap& bitmap);
void ReferenceSkeletonize(TBitmap& bitmap);
// ImageJ's Process > Binary > Watershed with "Black background" off, on an 8-bit picture of 0 and
// 255 (objects 0): its distance map, its maxima of prominence 0.5 and its segmentation, step by
// step as ImageJ takes them. Other pictures are left as they are.
void ReferenceWatershed(TBitmap& bitmap);
