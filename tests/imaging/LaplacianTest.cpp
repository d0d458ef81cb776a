// SPDX-License-Identifier: GPL-3.0-or-later
#include "Laplacian.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "KernelTesting.h"
#include "Reference.h"

namespace {

using Grid = std::vector<std::vector<int>>;

class LaplacianKernel : public AtEachSimdTarget {};

Grid Filled(int width, int height, int value) {
  return Grid(height, std::vector<int>(width, value));
}

Grid Edges(const Grid& picture) {
  TBitmap bitmap = Rows8(picture);
  Laplacian(bitmap);
  return RowsOf(bitmap);
}

struct Case {
  const char* name;
  Grid before;
  Grid after;
};

TEST_P(LaplacianKernel, WorkedOutByHand) {
  Grid bright = Filled(5, 5, 0);
  bright[2][2] = 255;
  Grid brightAfter = Filled(5, 5, 0);
  brightAfter[2][2] = 255;

  // A dark pixel in the top-left corner of a uniform picture: its eight neighbours, found across
  // the edges on the last row and the last column, come out bright.
  Grid corner = Filled(6, 4, 200);
  corner[0][0] = 0;
  Grid cornerAfter = Filled(6, 4, 0);
  for (int i : {3, 0, 1})
    for (int j : {5, 0, 1})
      cornerAfter[i][j] = 200;
  cornerAfter[0][0] = 0;

  Grid darkLine = Filled(7, 3, 255);
  Grid darkLineAfter = Filled(7, 3, 0);
  Grid brightLine = Filled(7, 3, 0);
  Grid brightLineAfter = Filled(7, 3, 0);
  for (int i = 0; i < 3; ++i) {
    darkLine[i][0] = 0;
    darkLineAfter[i][1] = darkLineAfter[i][6] = 255;
    brightLine[i][0] = 255;
    brightLineAfter[i][0] = 255;
  }

  const Case cases[] = {
      {"uniform", Filled(9, 4, 77), Filled(9, 4, 0)},
      {"single bright pixel", bright, brightAfter},
      {"dark pixel in a corner", corner, cornerAfter},
      {"one by one", {{200}}, {{0}}},
      // One pixel wide or high: 6 c - 3 a - 3 b with the neighbours wrapping around.
      {"one column", {{10}, {50}, {20}, {90}}, {{0}, {210}, {0}, {255}}},
      {"one row", {{10, 50, 20, 90}}, {{0, 210, 0, 255}}},
      {"dark first column", darkLine, darkLineAfter},
      {"bright first column", brightLine, brightLineAfter},
      {"two by two", {{0, 0}, {0, 20}}, {{0, 0}, {0, 160}}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Edges(c.before), c.after) << c.name;
}

TEST_P(LaplacianKernel, SecondRunWorksOnTheClampedFirstResult) {
  TBitmap bitmap = Rows8({{10, 50, 20, 90}});
  Laplacian(bitmap);
  Laplacian(bitmap);
  EXPECT_EQ(RowsOf(bitmap), (Grid{{0, 255, 0, 255}}));
}

TEST_P(LaplacianKernel, EachColourChannelOnItsOwnAndAlphaKept) {
  // 3 x 3, blue uniform, green one bright centre, red one dark centre; alpha all different.
  for (TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    TBitmap bitmap(3, 3, format);
    const int bytes = bitmap.BytesPerPixel();
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        std::uint8_t* p = bitmap.ScanLine(i) + j * bytes;
        const bool centre = i == 1 && j == 1;
        p[0] = 90;
        p[1] = centre ? 255 : 0;
        p[2] = centre ? 0 : 30;
        if (bytes == 4)
          p[3] = static_cast<std::uint8_t>(i * 3 + j + 100);
      }
    Laplacian(bitmap);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        const std::uint8_t* p = bitmap.ScanLine(i) + j * bytes;
        const bool centre = i == 1 && j == 1;
        EXPECT_EQ(p[0], 0);
        EXPECT_EQ(p[1], centre ? 255 : 0);
        // Every pixel but the centre sees the dark centre among its neighbours: 30 more.
        EXPECT_EQ(p[2], centre ? 0 : 30);
        if (bytes == 4) {
          EXPECT_EQ(p[3], i * 3 + j + 100);
        }
      }
  }
}

TEST_P(LaplacianKernel, EmptyBitmapStaysEmpty) {
  for (auto [width, height] : {std::pair{0, 0}, std::pair{4, 0}, std::pair{0, 4}}) {
    TBitmap bitmap(width, height, TPixelFormat::pf8bit);
    Laplacian(bitmap);
    EXPECT_EQ(bitmap.Width(), width);
    EXPECT_EQ(bitmap.Height(), height);
  }
}

// The fast kernels against the plain loop over a full snapshot, on random pictures whose row
// padding holds random bytes that must survive; twice in a row, to catch any leftover state.
TEST_P(LaplacianKernel, MatchesThePlainLoopOnRandomPictures) {
  std::mt19937 random(17);
  const auto sizes = AwkwardShapes(
      {1, 2, 3, 4, 67}, {64, 65, 66, 67, 68, 69, 70, 97, 127, 128, 129, 130, 200, 1000}, {1, 2, 3});
  for (auto [width, height] : sizes)
    for (TPixelFormat format :
         {TPixelFormat::pf8bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
      TBitmap expected = RandomBitmap(width, height, format, random);
      TBitmap actual;
      actual.Assign(expected);
      for (int run = 1; run <= 2; ++run) {
        ReferenceLaplacian(expected);
        Laplacian(actual);
        ASSERT_TRUE(SameBitmaps(expected, actual))
            << width << "x" << height << "x" << static_cast<int>(format) << " run " << run;
      }
    }
}

CCDLAB_INSTANTIATE_AT_EACH_SIMD_TARGET(LaplacianKernel);

}  // namespace
