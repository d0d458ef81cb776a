// SPDX-License-Identifier: GPL-3.0-or-later
#include "Watershed.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <vector>

#include "Commands.h"
#include "KernelTesting.h"
#include "Reference.h"

namespace {

class WatershedKernel : public AtEachSimdTarget {};

struct Disc {
  double x, y, radius;
};

// Black discs on white.
TBitmap Discs(int width, int height, const std::vector<Disc>& discs) {
  TBitmap bitmap = Filled(width, height, 255, TPixelFormat::pf8bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (const Disc& d : discs)
        if ((x - d.x) * (x - d.x) + (y - d.y) * (y - d.y) <= d.radius * d.radius)
          bitmap.ScanLine(y)[x] = 0;
  return bitmap;
}

TBitmap Watershedded(const TBitmap& picture) {
  TBitmap result;
  result.Assign(picture);
  Watershed(result);
  return result;
}

TEST_P(WatershedKernel, CutsAsImageJDoes) {
  // Two discs of radius 8 overlapping by three pixels: the neck is column 19, where both
  // distance maps meet, and it alone turns white.
  const TBitmap two = Discs(40, 24, {{12, 12, 8}, {26, 12, 8}});
  TBitmap cut;
  cut.Assign(two);
  for (int y = 0; y < 24; ++y)
    cut.ScanLine(y)[19] = 255;
  EXPECT_TRUE(SameBitmaps(cut, Watershedded(two)));

  // Nothing to cut: one disc, no object, one object filling the picture, pictures one pixel wide
  // or high.
  std::vector<TBitmap> unchanged;
  unchanged.push_back(Discs(31, 27, {{15, 13, 10}}));
  for (const auto& [width, height, value] :
       {std::tuple{20, 20, 255}, {20, 20, 0}, {1, 30, 0}, {30, 1, 0}, {1, 1, 0}})
    unchanged.push_back(
        Filled(width, height, static_cast<std::uint8_t>(value), TPixelFormat::pf8bit));
  unchanged.back().ScanLine(0)[0] = 0;
  unchanged[4].ScanLine(0)[10] = 255;
  for (const TBitmap& same : unchanged)
    EXPECT_TRUE(SameBitmaps(same, Watershedded(same)));
  TBitmap empty;
  Watershed(empty);
  EXPECT_TRUE(empty.Empty());
}

// The fast steps give the plain loops' bytes: discs that touch, cross the borders and nest in
// holes, and noise, at widths around every vector length.
TEST_P(WatershedKernel, SameAsReference) {
  std::mt19937 random(28);
  for (int round = 0; round < 40; ++round) {
    const int width = 1 + static_cast<int>(random() % 90), height = 1 + random() % 70;
    TBitmap picture;
    if (round % 4 == 3) {
      picture = Filled(width, height, 255, TPixelFormat::pf8bit);
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
          picture.ScanLine(y)[x] = random() % 3 ? 0 : 255;
    } else {
      std::vector<Disc> discs(1 + random() % 12);
      for (Disc& d : discs)
        d = {static_cast<double>(random() % (width + 10)) - 5,
             static_cast<double>(random() % (height + 10)) - 5, 1.0 + random() % 2400 / 100.0};
      picture = Discs(width, height, discs);
    }
    TBitmap expected;
    expected.Assign(picture);
    ReferenceWatershed(expected);
    EXPECT_TRUE(SameBitmaps(expected, Watershedded(picture))) << width << "x" << height;
  }
}

// Discs so large that the levels are scaled (more than 253 of them), and ground found only far
// into the picture, so that the sweeps carry "none found yet" across whole rows; a map of over
// 4 MB is swept down and up at once, each sweep going on where the other began, and flooded by
// two threads, each owning half the rows, among them many discs touching across the middle.
TEST_P(WatershedKernel, LargeDiscsAndFarGroundSameAsReference) {
  std::vector<TBitmap> pictures;
  pictures.push_back(Discs(1000, 540, {{265, 270, 262}, {730, 270, 262}, {990, 20, 40}}));
  pictures.push_back(Discs(1030, 1021, {{300, 480, 420}, {760, 540, 330}, {1020, 1010, 30}}));
  std::mt19937 random(29);
  std::vector<Disc> many(300);
  for (Disc& d : many)
    d = {random() % 1100 * 1.0, 400 + random() % 200 * 1.0, 8 + random() % 4000 / 100.0};
  pictures.push_back(Discs(1100, 1000, many));
  pictures.push_back(Discs(97, 61, {{40, 30, 60}, {-20, 70, 30}}));
  pictures.push_back(Filled(133, 45, 0, TPixelFormat::pf8bit));
  pictures.back().ScanLine(44)[132] = 255;
  for (const TBitmap& picture : pictures) {
    TBitmap expected;
    expected.Assign(picture);
    ReferenceWatershed(expected);
    EXPECT_TRUE(SameBitmaps(expected, Watershedded(picture)))
        << picture.Width() << "x" << picture.Height();
  }
}

CCDLAB_INSTANTIATE_AT_EACH_SIMD_TARGET(WatershedKernel);

// Only black-and-white pictures: any other is refused and stays as it was.
TEST(WatershedCommand, RefusesOtherPictures) {
  // Grey values next to black and white, at the first and the last pixel.
  std::vector<TBitmap> pictures;
  for (const auto& [value, x, y] : {std::tuple{128, 0, 0}, {1, 11, 9}, {254, 11, 9}}) {
    pictures.push_back(Discs(12, 10, {{5, 5, 3}, {8, 5, 3}}));
    pictures.back().ScanLine(y)[x] = static_cast<std::uint8_t>(value);
  }
  pictures.push_back(Patterned(12, 10, TPixelFormat::pf24bit));
  for (const TBitmap& picture : pictures) {
    TBitmap processed;
    processed.Assign(picture);
    EXPECT_THROW(RunStep({TOperation::Watershed}, TBitmap(), processed), TRefusedPicture);
    EXPECT_TRUE(SameBitmaps(picture, processed));
    Watershed(processed);
    EXPECT_TRUE(SameBitmaps(picture, processed));
  }
  EXPECT_EQ(ParseStepWord("watershed"), TStep{TOperation::Watershed});
}

}  // namespace
