#include "Commands.h"

#include "Grayscale.h"
#include "Laplacian.h"
#include "Threshold.h"

const TBitmap& ImageToThreshold(const TBitmap& main, const TBitmap& processed) {
  return processed.Empty() ? main : processed;
}

void GreyCommand(const TBitmap& main, TBitmap& processed) {
  TBitmap result;
  ConvertToGrey(main, result);
  processed.Assign(std::move(result));
}

TBitmap& PrepareBinarize(const TBitmap& main, TBitmap& processed) {
  if (processed.Empty())
    processed.Assign(main);
  return processed;
}

void BinarizeCommand(TBitmap& processed, int threshold) {
  Threshold(processed, threshold);
  processed.Changed();
}

void EdgesCommand(TBitmap& processed) {
  Laplacian(processed);
  processed.Changed();
}

void RunStep(const TStep& step, const TBitmap& main, TBitmap& processed) {
  switch (step.operation) {
    case TOperation::Grey:
      GreyCommand(main, processed);
      break;
    case TOperation::Binarize:
      BinarizeCommand(PrepareBinarize(main, processed), step.threshold);
      break;
    case TOperation::Edges:
      EdgesCommand(processed);
      break;
  }
}
