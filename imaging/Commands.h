#pragma once

#include "Bitmap.h"

// The commands of the main window as one model, for the window's handlers and the command-line
// tool alike: what each operation does and which image it works on.

enum class TOperation { Grey, Binarize, Edges };

// One command of a chain; binarize as the threshold dialog applies it after OK.
struct TStep {
  TOperation operation;
  int threshold = 0;  // binarize only, 0 ... 255
};

// The image binarize works on and its preview shows: the processed image, or the main image
// while the processed one is empty.
const TBitmap& ImageToThreshold(const TBitmap& main, const TBitmap& processed);

// Grey: the processed image becomes the grey image of the main image.
void GreyCommand(const TBitmap& main, TBitmap& processed);
// Binarize, first half: an empty processed image is filled with a copy of the main image, so
// that binarize can follow a grab or an open directly. Returns the image to threshold.
TBitmap& PrepareBinarize(const TBitmap& main, TBitmap& processed);
// Binarize, second half: the processed image thresholded in place.
void BinarizeCommand(TBitmap& processed, int threshold);
// Edges: the processed image replaced by its edge image; an empty one stays empty.
void EdgesCommand(TBitmap& processed);

// Runs one step on the two images, as its button does.
void RunStep(const TStep& step, const TBitmap& main, TBitmap& processed);
