// SPDX-License-Identifier: GPL-3.0-or-later
#include "Threshold.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "KernelTesting.h"
#include "Reference.h"

namespace {

class ThresholdKernel : public AtEachSimdTarget {};

struct Case {
  int threshold;
  std::vector<int> before;
  std::vector<int> after;
};

TEST_P(ThresholdKernel, BytesBelowBecomeBlackTheRestWhite) {
  const Case cases[] = {
      {0, {0, 1, 127, 254, 255}, {255, 255, 255, 255, 255}},
      {255, {0, 1, 254, 255, 255}, {0, 0, 0, 255, 255}},
      {128, {127, 128, 129, 0, 255}, {0, 255, 255, 0, 255}},  // equal to the threshold: white
      {1, {0, 1, 2, 0, 0}, {0, 255, 255, 0, 0}},
      // Outside the slider's range: everything is at least -5, nothing reaches 256.
      {-5, {0, 9, 255, 3, 1}, {255, 255, 255, 255, 255}},
      {256, {0, 9, 255, 3, 1}, {0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    // The row repeated, so the wide kernels see every byte in every lane.
    std::vector<int> before, after;
    for (int k = 0; k < 31; ++k) {
      before.insert(before.end(), c.before.begin(), c.before.end());
      after.insert(after.end(), c.after.begin(), c.after.end());
    }
    TBitmap bitmap = Rows8({before, before});
    Threshold(bitmap, c.threshold);
    EXPECT_EQ(RowsOf(bitmap), (std::vector<std::vector<int>>{after, after})) << c.threshold;
  }
}

TEST_P(ThresholdKernel, BlackAndWhiteStaysAsItIs) {
  TBitmap bitmap = Rows8({{0, 255, 255, 0}, {255, 0, 0, 255}});
  for (int t = 1; t <= 255; ++t) {
    Threshold(bitmap, t);
    ASSERT_EQ(RowsOf(bitmap), (std::vector<std::vector<int>>{{0, 255, 255, 0}, {255, 0, 0, 255}}))
        << t;
  }
}

TEST_P(ThresholdKernel, EachColourChannelOnItsOwnAndAlphaKept) {
  TBitmap colour = Rows8({});
  colour.SetPixelFormat(TPixelFormat::pf24bit);
  colour.SetSize(2, 1);
  const std::uint8_t bytes24[] = {10, 200, 100, 99, 100, 101};
  std::copy(std::begin(bytes24), std::end(bytes24), colour.ScanLine(0));
  Threshold(colour, 100);
  EXPECT_EQ(RowsOf(colour), (std::vector<std::vector<int>>{{0, 255, 255, 0, 255, 255}}));

  TBitmap alpha(2, 1, TPixelFormat::pf32bit);
  const std::uint8_t bytes32[] = {10, 200, 100, 7, 99, 100, 101, 250};
  std::copy(std::begin(bytes32), std::end(bytes32), alpha.ScanLine(0));
  Threshold(alpha, 100);
  EXPECT_EQ(RowsOf(alpha), (std::vector<std::vector<int>>{{0, 255, 255, 7, 0, 255, 255, 250}}));
}

TEST_P(ThresholdKernel, IntoKeepsTheTargetsAlphaAndLeavesTheSourceAlone) {
  TBitmap source(1, 1, TPixelFormat::pf32bit);
  const std::uint8_t in[] = {200, 5, 128, 9};
  std::copy(std::begin(in), std::end(in), source.ScanLine(0));
  TBitmap target(1, 1, TPixelFormat::pf32bit);
  target.ScanLine(0)[3] = 77;
  ThresholdInto(source, target, 128);
  EXPECT_EQ(RowsOf(target), (std::vector<std::vector<int>>{{255, 0, 255, 77}}));
  EXPECT_EQ(RowsOf(source), (std::vector<std::vector<int>>{{200, 5, 128, 9}}));
}

TEST_P(ThresholdKernel, IntoWritesOnlyTheCommonArea) {
  const TBitmap source = Rows8({{0, 200, 0, 200, 0}, {200, 0, 200, 0, 200}, {9, 9, 9, 9, 9}});
  TBitmap target = Rows8({{7, 7}, {7, 7}, {7, 7}, {7, 7}});
  ThresholdInto(source, target, 100);
  EXPECT_EQ(RowsOf(target), (std::vector<std::vector<int>>{{0, 255}, {255, 0}, {0, 0}, {7, 7}}));
}

TEST_P(ThresholdKernel, IntoLeavesATargetOfAnotherDepthAlone) {
  const TBitmap source = Rows8({{0, 200, 0}});
  TBitmap target(3, 1, TPixelFormat::pf24bit);
  target.ScanLine(0)[0] = 50;
  ThresholdInto(source, target, 100);
  EXPECT_EQ(RowsOf(target), (std::vector<std::vector<int>>{{50, 0, 0, 0, 0, 0, 0, 0, 0}}));
}

TEST_P(ThresholdKernel, EmptyBitmapsAreLeftEmpty) {
  TBitmap empty;
  Threshold(empty, 100);
  EXPECT_TRUE(empty.Empty());
  TBitmap target = Rows8({{1, 2}});
  ThresholdInto(TBitmap(0, 0, TPixelFormat::pf8bit), target, 0);
  EXPECT_EQ(RowsOf(target), (std::vector<std::vector<int>>{{1, 2}}));
}

// The fast kernels against the plain loop, in place and into another bitmap, on random pictures
// whose row padding holds random bytes that must survive.
TEST_P(ThresholdKernel, MatchesThePlainLoopOnRandomPictures) {
  std::mt19937 random(99);
  const auto sizes = AwkwardShapes({1, 2, 3, 67}, {127, 128, 129, 200, 1000}, {2});
  for (auto [width, height] : sizes)
    for (TPixelFormat format :
         {TPixelFormat::pf8bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
      const int threshold = static_cast<int>(random() % 258) - 1;
      const TBitmap source = RandomBitmap(width, height, format, random);
      TBitmap inPlace, expected;
      inPlace.Assign(source);
      expected.Assign(source);
      ReferenceThresholdInto(source, expected, threshold);
      Threshold(inPlace, threshold);
      ASSERT_TRUE(SameBitmaps(expected, inPlace)) << width << "x" << height;
      // In bands of two rows, as rows come from a picture being read.
      TBitmap banded;
      banded.Assign(source);
      for (int first = 0; first < height; first += 2)
        ThresholdRows(banded, banded, threshold, first, first + 2);
      ASSERT_TRUE(SameBitmaps(expected, banded)) << width << "x" << height;

      // Into a bitmap of another size, both larger and smaller.
      for (auto [dw, dh] : {std::pair{0, 0}, std::pair{3, -1}, std::pair{-1, 2}}) {
        if (width + dw < 1 || height + dh < 1)
          continue;
        const TBitmap target = RandomBitmap(width + dw, height + dh, format, random);
        TBitmap actual, wanted;
        actual.Assign(target);
        wanted.Assign(target);
        ReferenceThresholdInto(source, wanted, threshold);
        ThresholdInto(source, actual, threshold);
        ASSERT_TRUE(SameBitmaps(wanted, actual))
            << width << "x" << height << " into " << dw << "," << dh;
      }
    }
}

// Targets beyond the caches' size take another path: with and without row padding, into a target
// of the same and of another size, 24-bit too.
TEST_P(ThresholdKernel, LargeTargetsMatchThePlainLoop) {
  std::mt19937 random(7);
  struct Case {
    int width, height, targetWidth, targetHeight;
    TPixelFormat format;
  };
  for (const Case& c : {Case{4096, 2048, 4096, 2048, TPixelFormat::pf8bit},
                        Case{3001, 2800, 3001, 2800, TPixelFormat::pf8bit},
                        Case{3001, 2800, 3003, 2799, TPixelFormat::pf8bit},
                        Case{1201, 2400, 1201, 2400, TPixelFormat::pf24bit}}) {
    const TBitmap source = RandomBitmap(c.width, c.height, c.format, random);
    const TBitmap target = RandomBitmap(c.targetWidth, c.targetHeight, c.format, random);
    TBitmap actual, wanted;
    actual.Assign(target);
    wanted.Assign(target);
    ReferenceThresholdInto(source, wanted, 100);
    ThresholdInto(source, actual, 100);
    ASSERT_TRUE(SameBitmaps(wanted, actual)) << c.width << "x" << c.height;
  }
}

CCDLAB_INSTANTIATE_AT_EACH_SIMD_TARGET(ThresholdKernel);

}  // namespace
