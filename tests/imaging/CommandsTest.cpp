// SPDX-License-Identifier: GPL-3.0-or-later
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
  // A method's name in any case; its word written back in lower case.
  for (const char* word : {"binarize=Otsu", "binarize=OTSU", "binarize=oTsU"})
    EXPECT_EQ(StepWord(ParseStepWord(word).value()), "binarize=otsu") << word;
  for (const char* word : {"binarize", "binarize=", "binarize=256", "binarize=+1", "binarize=0x1",
                           "binarize=Otsu ", "gray=1", "edges=otsu", "grey", ""})
    EXPECT_FALSE(ParseStepWord(word).has_value()) << word;
}

// Grey reads the main image; binarize the processed image, filled from the main one while it is
// empty; edges the processed image only, an empty one staying empty.
TEST(Commands, EachStepWorksOnTheImageItsOperationNames) {
  const TBitmap main = Filled(4, 3, 100);
  struct Case {
    TOperation operation;
    bool processedEmpty;
    bool readsMain;
  };
  const Case cases[] = {
      {TOperation::Grey, true, true},     {TOperation::Grey, false, true},
      {TOperation::Binarize, true, true}, {TOperation::Binarize, false, false},
      {TOperation::Edges, true, false},   {TOperation::Edges, false, false},
  };
  for (const Case& c : cases) {
    const TStep step{c.operation, 128};
    SCOPED_TRACE(StepWord(step) + (c.processedEmpty ? ", nothing processed" : ""));
    TBitmap processed = c.processedEmpty ? TBitmap() : Filled(2, 2, 200);
    EXPECT_EQ(&StepInput(step, main, processed), c.readsMain ? &main : &processed);
    EXPECT_EQ(StepRefusal(step, main, processed), nullptr) << "every operation takes any picture";
    RunStep(step, main, processed);
    EXPECT_EQ(processed.Empty(), c.processedEmpty && !c.readsMain);
    EXPECT_EQ(processed.Width(), c.readsMain ? 4 : c.processedEmpty ? 0 : 2);
  }
  EXPECT_EQ(&ImageToThreshold(main, TBitmap()), &main);
}

// What the command line runs on rows as they are read: bands in turn from the top, into the
// target the record makes or in place, give what the whole picture gives.
TEST(Commands, BandsOfRowsGiveWhatTheWholePictureGives) {
  std::mt19937 random(5);
  for (const TOperationInfo& info : Operations()) {
    if (info.runRows == nullptr)
      continue;
    const std::vector<int> parameters =
        info.parameter ? std::vector<int>{info.parameter->minimum, 1, 90, info.parameter->maximum}
                       : std::vector<int>{0};
    for (const TPixelFormat format :
         {TPixelFormat::pf8bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit})
      for (const int parameter : parameters) {
        SCOPED_TRACE(std::string(info.word) + " " + std::to_string(static_cast<int>(format)) +
                     " bits, " + std::to_string(parameter));
        TBitmap source = RandomBitmap(21, 13, format, random);
        if (format == TPixelFormat::pf8bit)
          source.SetPalette(TPalette({{9, 200, 40, 0}, {255, 255, 255, 0}, {1, 2, 3, 0}}));
        TBitmap whole;
        info.run(source, whole, parameter);
        TBitmap banded = info.bandTarget != nullptr ? info.bandTarget(source) : TBitmap();
        TBitmap& target = info.bandTarget != nullptr ? banded : source;
        for (int first = 0, band = 1; first < source.Height(); first += band++)
          info.runRows(source, target, parameter, first, std::min(source.Height(), first + band));
        EXPECT_TRUE(SameBitmaps(whole, target));
      }
  }
}

// As the command line runs a chain, letting the main image go once no later step reads it: the
// same result as RunChain.
TEST(Commands, AChainRunStepByStepLetsTheMainImageGoOnceNoStepNeedsIt) {
  std::mt19937 random(3);
  const TChain chains[] = {
      {{TOperation::Grey}, {TOperation::Binarize, 90}, {TOperation::Edges}},
      {{TOperation::Binarize, 128}, {TOperation::Edges}},
      {{TOperation::Edges}, {TOperation::Grey}, {TOperation::Binarize, 0, TThresholdMethod::Otsu}},
      {{TOperation::Binarize, 50}, {TOperation::Grey}},
  };
  for (const TChain& chain : chains) {
    const TBitmap original = RandomBitmap(11, 6, TPixelFormat::pf24bit, random);
    TBitmap expected;
    RunChain(chain, original, expected);
    TBitmap main;
    main.Assign(original);
    TBitmap processed;
    for (std::size_t i = 0; i < chain.size(); ++i) {
      RunChainStep(chain, i, main, processed);
      EXPECT_EQ(main.Empty(), !ReadsMainAfter(chain, i)) << "after step " << i;
      if (!main.Empty()) {
        EXPECT_TRUE(SameBitmaps(original, main)) << "after step " << i;
      }
    }
    EXPECT_TRUE(SameBitmaps(expected, processed)) << StepWord(chain.front());
  }
}

// As the command line runs a chain on a picture's rows as they are read: every chain of up to
// three steps of every operation, its head band by band through the records and the rest step by
// step, gives what RunChain gives.
TEST(Commands, AChainRunOnBandsOfRowsGivesWhatRunChainGives) {
  std::vector<TStep> kinds;
  for (const TOperationInfo& info : Operations()) {
    kinds.push_back({info.operation, 90});
    if (info.takesThreshold)
      kinds.push_back({info.operation, 0, TThresholdMethod::Otsu});
  }
  std::vector<TChain> chains{{}};
  for (std::size_t from = 0, length = 1; length <= 3; ++length) {
    const std::size_t to = chains.size();
    for (std::size_t i = from; i < to; ++i)
      for (const TStep& step : kinds) {
        chains.push_back(chains[i]);
        chains.back().push_back(step);
      }
    from = to;
  }
  std::mt19937 random(13);
  for (const TChain& chain : chains) {
    std::string words;
    for (const TStep& step : chain)
      words += StepWord(step) + ' ';
    SCOPED_TRACE(words);
    const TBitmap original = RandomBitmap(10, 9, TPixelFormat::pf24bit, random);
    TBitmap expected;
    try {
      RunChain(chain, original, expected);
    } catch (const TRefusedPicture&) {
      continue;  // a binary command on colours: refused before any band runs (tested elsewhere)
    }
    TBitmap main;
    main.Assign(original);
    TBitmap processed;
    TChainBands bands(chain, main);
    ASSERT_EQ(bands.Steps(), BandSteps(chain));
    for (int first = 0, band = 1; first < main.Height(); first += band++)
      for (std::size_t i = 0; i < bands.Steps(); ++i)
        bands.Run(i, first, std::min(main.Height(), first + band));
    bands.Finish(processed);
    for (std::size_t i = bands.Steps(); i < chain.size(); ++i)
      RunChainStep(chain, i, main, processed);
    if (chain.empty())
      processed = std::move(main);
    EXPECT_TRUE(SameBitmaps(expected, processed));
  }
  // What runs band by band: no method, which needs the whole picture, nor a step after the first
  // that reads the main image, which a first step in place has overwritten.
  const TStep grey{TOperation::Grey}, edges{TOperation::Edges}, binarize{TOperation::Binarize, 9};
  const TStep otsu{TOperation::Binarize, 0, TThresholdMethod::Otsu};
  const std::pair<TChain, std::size_t> heads[] = {
      {{grey, binarize, binarize, edges}, 3},
      {{binarize, binarize}, 2},
      {{grey, grey}, 1},
      {{binarize, grey}, 0},
      {{binarize, edges, grey}, 0},
      {{otsu}, 0},
      {{edges, binarize}, 0},
      {{grey, otsu, binarize}, 1},
  };
  for (const auto& [chain, steps] : heads)
    EXPECT_EQ(BandSteps(chain), steps) << StepWord(chain.front()) << ", " << chain.size();
}

TEST(Commands, BlackAndWhitePicturesAreEightBitOnesOfZerosAnd255s) {
  struct Case {
    const char* name;
    TBitmap picture;
    bool blackAndWhite;
  };
  const Case cases[] = {
      {"0 and 255", Picture(3, 1, TPixelFormat::pf8bit, {0, 255, 0}), true},
      {"all white", Filled(2, 2, 255, TPixelFormat::pf8bit), true},
      {"empty", TBitmap(), true},
      {"a grey byte", Picture(3, 1, TPixelFormat::pf8bit, {0, 254, 255}), false},
      {"24 bits", Filled(2, 2, 0), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsOfKind(c.picture, TPictureKind::BlackAndWhite), c.blackAndWhite) << c.name;
    EXPECT_TRUE(IsOfKind(c.picture, TPictureKind::Any)) << c.name;
  }
  EXPECT_STREQ(KindRefusal(TPictureKind::BlackAndWhite), "需要黑白影像：請先二值化");
}

}  // namespace
