#include "Commands.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "BitmapTesting.h"
#include "KernelTesting.h"
#include "Reference.h"

namespace {

// The plain loops, chained as the window's buttons chain them.
TBitmap ByReference(const std::vector<TStep>& steps, const TBitmap& main) {
  TBitmap processed;
  for (const TStep& step : steps) {
    if (step.operation == TOperation::Grey) {
      ReferenceConvertToGrey(main, processed);
      continue;
    }
    if (processed.Empty())
      processed.Assign(main);
    if (step.operation == TOperation::Binarize)
      ReferenceThresholdInto(processed, processed, step.threshold);
    else
      ReferenceLaplacian(processed);
  }
  return processed;
}

TEST(Commands, ChainsGiveWhatTheOperationsGiveOneAfterAnother) {
  std::mt19937 random(7);
  const std::vector<TStep> chains[] = {
      {{TOperation::Grey}},
      {{TOperation::Grey}, {TOperation::Binarize, 90}, {TOperation::Edges}},
      {{TOperation::Binarize, 128}},                                  // on a copy of the main image
      {{TOperation::Grey}, {TOperation::Edges}, {TOperation::Grey}},  // grey starts again
      {{TOperation::Binarize, 50}, {TOperation::Binarize, 200}},
  };
  for (TPixelFormat format : {TPixelFormat::pf8bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit})
    for (const auto& steps : chains) {
      TBitmap main = RandomBitmap(13, 7, format, random);
      if (format == TPixelFormat::pf8bit)
        main.SetPalette(TPalette::Grey());
      TBitmap untouched;
      untouched.Assign(main);
      TBitmap processed;
      for (const TStep& step : steps)
        RunStep(step, main, processed);
      EXPECT_TRUE(SameBitmaps(ByReference(steps, main), processed));
      EXPECT_TRUE(SameBitmaps(untouched, main)) << "the main image is only read";
      TBitmap chained;
      RunChain(steps, main, chained);
      EXPECT_TRUE(SameBitmaps(processed, chained));
    }
}

// As the live view and the command line run a chain: its first step works on the main image,
// whichever it is; a method's threshold is the one it finds on the picture it thresholds.
TEST(Commands, AChainStartsFromTheMainImageWhateverItsFirstStep) {
  std::mt19937 random(11);
  const TBitmap main = RandomBitmap(9, 6, TPixelFormat::pf32bit, random);
  TBitmap expected;
  expected.Assign(main);
  TBitmap chained;
  RunChain({}, main, chained);
  EXPECT_TRUE(SameBitmaps(expected, chained)) << "no steps: a copy";

  ReferenceLaplacian(expected);
  const std::optional<int> otsu =
      AutoThreshold(TThresholdMethod::Otsu, ThresholdHistogram(expected));
  ASSERT_TRUE(otsu.has_value());
  ReferenceThresholdInto(expected, expected, *otsu);
  RunChain({{TOperation::Edges}, {TOperation::Binarize, 0, TThresholdMethod::Otsu}}, main, chained);
  EXPECT_TRUE(SameBitmaps(expected, chained));
}

TEST(Commands, EveryStepReadsBackFromItsWord) {
  std::vector<TStep> steps;
  for (const TOperationInfo& operation : Operations()) {
    steps.push_back({operation.operation});
    if (!operation.takesThreshold)
      continue;
    for (int threshold : {0, 7, 255})
      steps.push_back({operation.operation, threshold});
    for (const TThresholdMethodInfo& method : ThresholdMethods())
      steps.push_back({operation.operation, 0, method.method});
  }
  for (const TStep& step : steps) {
    const std::optional<TStep> back = ParseStepWord(StepWord(step));
    ASSERT_TRUE(back.has_value()) << StepWord(step);
    EXPECT_EQ(*back, step) << StepWord(step);
  }
  EXPECT_EQ(StepWord({TOperation::Binarize, 0, TThresholdMethod::RenyiEntropy}),
            "binarize=renyientropy");
  for (const char* word : {"binarize", "binarize=", "binarize=256", "binarize=+1", "binarize=0x1",
                           "binarize=Otsu", "gray=1", "edges=otsu", "grey", ""})
    EXPECT_FALSE(ParseStepWord(word).has_value()) << word;
}

TEST(Commands, BinarizeWorksOnTheProcessedImageOrTheMainOneWhileItIsEmpty) {
  const TBitmap main = Filled(4, 3, 100);
  TBitmap processed;
  EXPECT_EQ(&ImageToThreshold(main, processed), &main);
  EXPECT_EQ(&PrepareBinarize(main, processed), &processed);
  EXPECT_TRUE(SameBitmaps(main, processed)) << "filled with a copy of the main image";
  EXPECT_EQ(&ImageToThreshold(main, processed), &processed);

  TBitmap nothing;
  EdgesCommand(nothing);
  EXPECT_TRUE(nothing.Empty()) << "edges leave an empty processed image empty";
}

}  // namespace
