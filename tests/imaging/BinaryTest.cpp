// SPDX-License-Identifier: GPL-3.0-or-later
#include "Binary.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Commands.h"
#include "KernelTesting.h"
#include "Reference.h"

namespace {

using Grid = std::vector<std::vector<int>>;
constexpr int B = 0;
constexpr int W = 255;

class BinaryKernel : public AtEachSimdTarget {};

Grid Ran(void (*command)(TBitmap&), const Grid& picture) {
  TBitmap bitmap = Rows8(picture);
  command(bitmap);
  return RowsOf(bitmap);
}

// The pictures where ImageJ's rules show: white beyond the edges, counted by erode and ignored by
// dilate; outline keeping the pixels at the edge; holes filled through 4-connected paths only.
TEST_P(BinaryKernel, WorkedOutByImageJsRules) {
  struct Case {
    const char* name;
    void (*command)(TBitmap&);
    Grid before;
    Grid after;
  };
  const Grid square = {{B, B, B}, {B, B, B}, {B, B, B}};
  const Grid ring = {{W, W, W, W, W, W, W}, {W, B, B, B, B, B, W}, {W, B, W, W, W, B, W},
                     {W, B, W, B, W, B, W}, {W, B, W, W, W, B, W}, {W, B, B, B, B, B, W},
                     {W, W, W, W, W, W, W}};
  Grid filledRing = ring;
  for (int y = 2; y <= 4; ++y)
    for (int x = 2; x <= 4; ++x)
      filledRing[y][x] = B;
  // A hole whose only way out is a diagonal gap: not joined to the border, so filled.
  const Grid diagonal = {{W, B, B, B}, {B, W, B, B}, {B, B, B, B}};
  const Case cases[] = {
      {"erode, all black: the edges go", Erode, square, {{W, W, W}, {W, B, W}, {W, W, W}}},
      {"erode, one column", Erode, {{B}, {B}, {B}}, {{W}, {W}, {W}}},
      {"erode, all white", Erode, {{W, W}, {W, W}}, {{W, W}, {W, W}}},
      {"dilate, all black stays", Dilate, square, square},
      {"dilate, a corner pixel", Dilate, {{B, W, W}, {W, W, W}}, {{B, B, W}, {B, B, W}}},
      {"dilate, one row", Dilate, {{W, W, B, W}}, {{W, B, B, B}}},
      {"open drops a speck", Open, {{W, W, W}, {W, B, W}, {W, W, W}}, Grid(3, {W, W, W})},
      {"open, all black: the edges go and come back", Open, square, square},
      {"close, all at the edges: erode takes it",
       Close,
       {{B, W, B}, {B, B, B}},
       Grid(2, {W, W, W})},
      {"close fills a one-pixel gap",
       Close,
       Grid(5, {B, B, W, B, B}),
       {{W, W, W, W, W}, {W, B, B, B, W}, {W, B, B, B, W}, {W, B, B, B, W}, {W, W, W, W, W}}},
      {"outline, all black: a frame", Outline, square, {{B, B, B}, {B, W, B}, {B, B, B}}},
      {"outline, one pixel wide", Outline, {{B}, {B}, {W}, {B}}, {{B}, {B}, {W}, {B}}},
      {"fill holes, a ring with an island", FillHoles, ring, filledRing},
      {"fill holes, open to the border", FillHoles, {{B, W, B}, {B, W, B}}, {{B, W, B}, {B, W, B}}},
      {"fill holes, a diagonal way out",
       FillHoles,
       diagonal,
       {{W, B, B, B}, {B, B, B, B}, {B, B, B, B}}},
      {"fill holes, all white", FillHoles, {{W, W}, {W, W}}, {{W, W}, {W, W}}},
      {"fill holes, all black", FillHoles, {{B, B}, {B, B}}, {{B, B}, {B, B}}},
      {"skeletonize, a square", Skeletonize, square, {{W, B, W}, {B, W, W}, {W, W, W}}},
      {"skeletonize, a line stays",
       Skeletonize,
       {{W, W, W, W}, {B, B, B, B}},
       {{W, W, W, W}, {B, B, B, B}}},
      {"skeletonize, one pixel", Skeletonize, {{B}}, {{B}}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Ran(c.command, c.before), c.after) << c.name;
}

struct Command {
  const char* name;
  void (*fast)(TBitmap&);
  void (*plain)(TBitmap&);
  bool inBands;  // worked on in two bands at once on a large picture
};

const Command kCommands[] = {
    {"erode", Erode, ReferenceErode, true},
    {"dilate", Dilate, ReferenceDilate, true},
    {"open", Open, [](TBitmap& b) { ReferenceErode(b), ReferenceDilate(b); }, true},
    {"close", Close, [](TBitmap& b) { ReferenceDilate(b), ReferenceErode(b); }, true},
    {"outline", Outline, ReferenceOutline, true},
    {"fill holes", FillHoles, ReferenceFillHoles, false},
    {"skeletonize", Skeletonize, ReferenceSkeletonize, false},
};

// Random black and white bytes, `black` of them black, with random bytes in the row padding.
TBitmap RandomBlackAndWhite(int width, int height, double black, std::mt19937& random) {
  std::bernoulli_distribution isBlack(black);
  TBitmap picture = RandomBitmap(width, height, TPixelFormat::pf8bit, random);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      picture.ScanLine(y)[x] = isBlack(random) ? B : W;
  return picture;
}

::testing::AssertionResult SameAsThePlainLoop(const Command& command, const TBitmap& picture) {
  TBitmap expected, actual;
  expected.Assign(picture);
  actual.Assign(picture);
  command.plain(expected);
  command.fast(actual);
  if (SameBitmaps(expected, actual))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << command.name << " " << picture.Width() << "x" << picture.Height();
}

// The fast kernels against the plain loops on random black-and-white pictures, sparse and dense,
// whose row padding holds random bytes that must survive.
TEST_P(BinaryKernel, MatchesThePlainLoops) {
  std::mt19937 random(29);
  const auto shapes = AwkwardShapes({1, 2, 3, 67}, {64, 65, 127, 128, 129, 200}, {1, 2, 5});
  for (const double black : {0.3, 0.75})
    for (auto [width, height] : shapes) {
      const TBitmap picture = RandomBlackAndWhite(width, height, black, random);
      for (const Command& command : kCommands)
        ASSERT_TRUE(SameAsThePlainLoop(command, picture));
    }
}

CCDLAB_INSTANTIATE_AT_EACH_SIMD_TARGET(BinaryKernel);

// Pictures of 4 MB and more are worked on in two bands at once, each reading the rows near where
// they meet as they were; down to bands of a single row.
TEST(BinaryCommands, LargePicturesInTwoBandsMatchThePlainLoops) {
  std::mt19937 random(41);
  for (auto [width, height] : {std::pair{2050, 2047}, {2100000, 2}, {1400000, 3}}) {
    const TBitmap picture = RandomBlackAndWhite(width, height, 0.6, random);
    for (const Command& command : kCommands) {
      if (command.inBands) {
        EXPECT_TRUE(SameAsThePlainLoop(command, picture));
      }
    }
  }
}

// A picture that is not black and white is refused, whether it is the processed image or the
// main image filling an empty one, and nothing changes.
TEST(BinaryCommands, RefuseOtherPicturesChangingNothing) {
  TBitmap grey = Rows8({{0, 128, 255}});
  TBitmap almost = Rows8({{0, 255, 254}});
  TBitmap colour(3, 1, TPixelFormat::pf24bit);
  const TBitmap* pictures[] = {&grey, &almost, &colour};
  for (const TOperationInfo& info : Operations()) {
    if (info.accepts != TPictureKind::BlackAndWhite)
      continue;
    for (const TBitmap* picture : pictures) {
      SCOPED_TRACE(std::string(info.word) + " on " + std::to_string(picture->BytesPerPixel()) +
                   " bytes a pixel");
      TBitmap processed;
      processed.Assign(*picture);
      const TStep step{info.operation};
      EXPECT_STREQ(StepRefusal(step, TBitmap(), processed), KindRefusal(info.accepts));
      EXPECT_THROW(RunStep(step, TBitmap(), processed), TRefusedPicture);
      EXPECT_TRUE(SameBitmaps(processed, *picture));
      TBitmap empty;
      EXPECT_THROW(RunStep(step, *picture, empty), TRefusedPicture);
      EXPECT_TRUE(empty.Empty());
    }
  }
}

}  // namespace
