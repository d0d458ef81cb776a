// SPDX-License-Identifier: GPL-3.0-or-later
#include "Filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "Commands.h"
#include "KernelTesting.h"
#include "Laplacian.h"
#include "Reference.h"

namespace {

using Grid = std::vector<std::vector<int>>;

struct Filter {
  const char* name;
  void (*kernel)(TBitmap&);
  void (*reference)(TBitmap&);
};

const Filter kFilters[] = {
    {"invert", Invert, ReferenceInvert},    {"smooth", Smooth, ReferenceSmooth},
    {"sharpen", Sharpen, ReferenceSharpen}, {"sobel", FindEdges, ReferenceFindEdges},
    {"median", Median, ReferenceMedian},
};

class FilterKernels : public AtEachSimdTarget {};

Grid Filtered(void (*kernel)(TBitmap&), const Grid& picture) {
  TBitmap bitmap = Rows8(picture);
  kernel(bitmap);
  return RowsOf(bitmap);
}

// Worked out from ImageJ's rules: a neighbour beyond the border is the nearest edge pixel; the
// mean rounds, (sum + 4) / 9; Sharpen rounds on 8-bit pictures, (v + 2) / 4; the Sobel magnitude
// is truncated; a picture one pixel wide is left alone by the 3 x 3 filters but not the median.
TEST_P(FilterKernels, WorkedOutFromImageJsRules) {
  const Grid dot = {{0, 0, 0}, {0, 10, 0}, {0, 0, 0}};
  const struct {
    const char* name;
    void (*kernel)(TBitmap&);
    Grid before;
    Grid after;
  } cases[] = {
      {"invert", Invert, {{0, 1, 128, 255}}, {{255, 254, 127, 0}}},
      {"smooth of one row", Smooth, {{10, 50, 20, 90}}, {{23, 27, 53, 67}}},
      {"smooth rounds up from 5 / 9",
       Smooth,
       {{0, 0, 0}, {0, 5, 0}, {0, 0, 0}},
       Grid(3, {1, 1, 1})},
      {"smooth rounds down from 4 / 9",
       Smooth,
       {{0, 0, 0}, {0, 4, 0}, {0, 0, 0}},
       Grid(3, {0, 0, 0})},
      {"sharpen of a dot", Sharpen, dot, {{0, 0, 0}, {0, 30, 0}, {0, 0, 0}}},
      // 12 x 10 - 2 = 118, rounded to 30 where truncating would give 29; the corner is 4 times
      // itself among its neighbours: 13 x 2 - 8 - 10 = 8.
      {"sharpen rounds",
       Sharpen,
       {{2, 0, 0}, {0, 10, 0}, {0, 0, 0}},
       {{2, 0, 0}, {0, 30, 0}, {0, 0, 0}}},
      {"sharpen of white", Sharpen, Grid(2, {255, 255}), Grid(2, {255, 255})},
      // Corners see the dot once on both axes, sqrt(200); edges twice on one.
      {"sobel of a dot", FindEdges, dot, {{14, 20, 14}, {20, 0, 20}, {14, 20, 14}}},
      {"sobel of a step", FindEdges, {{0, 0, 200, 200}}, {{0, 255, 255, 0}}},
      {"median of one row", Median, {{9, 1, 5, 7}}, {{9, 5, 5, 7}}},
      {"median of one column", Median, {{9}, {1}, {5}, {7}}, {{9}, {5}, {5}, {7}}},
      {"smooth of one column", Smooth, {{9}, {1}, {5}}, {{9}, {1}, {5}}},
      {"sharpen of one column", Sharpen, {{9}, {1}, {5}}, {{9}, {1}, {5}}},
      {"sobel of one column", FindEdges, {{9}, {1}, {5}}, {{9}, {1}, {5}}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Filtered(c.kernel, c.before), c.after) << c.name;
}

TEST_P(FilterKernels, BlackAndWhitePicturesAsImageJLeavesThem) {
  for (const int value : {0, 255})
    for (const Filter& filter : kFilters) {
      const Grid picture(5, std::vector<int>(7, value));
      const int invert = 255 - value;
      const int expected = filter.kernel == Invert      ? invert
                           : filter.kernel == FindEdges ? 0
                                                        : value;
      EXPECT_EQ(Filtered(filter.kernel, picture), Grid(5, std::vector<int>(7, expected)))
          << filter.name << " " << value;
    }
}

// Every pair of Sobel sums 0 ... 255 that a picture can give (the two are always both even or
// both odd), each from a block of three columns of its own: the truncated root of the sum of
// their squares, at most 255, whatever estimate of the root the kernel starts from.
TEST_P(FilterKernels, SobelRootsOfEveryPairOfSums) {
  constexpr int kPairs = 256 * 128;
  TBitmap bitmap(3 * kPairs, 3, TPixelFormat::pf8bit);
  for (int y = 0; y < 3; ++y)
    std::fill_n(bitmap.ScanLine(y), bitmap.RowBytes(), 0);
  for (int m = 0; m < kPairs; ++m) {
    const int s1 = m / 128, odd = s1 & 1, s2 = odd + 2 * (m % 128);
    bitmap.ScanLine(0)[3 * m] = static_cast<std::uint8_t>(odd);
    bitmap.ScanLine(0)[3 * m + 1] = static_cast<std::uint8_t>(s1 / 2);
    bitmap.ScanLine(1)[3 * m] = static_cast<std::uint8_t>(s2 / 2);
  }
  FindEdges(bitmap);
  for (int m = 0; m < kPairs; ++m) {
    const int s1 = m / 128, s2 = (s1 & 1) + 2 * (m % 128);
    const int root = static_cast<int>(std::sqrt(static_cast<double>(s1 * s1 + s2 * s2)));
    ASSERT_EQ(bitmap.ScanLine(1)[3 * m + 1], std::min(root, 255)) << s1 << " " << s2;
  }
}

// ImageJ's colour Sharpen divides without rounding and leaves the border pixels alone.
TEST_P(FilterKernels, ColourSharpenTruncatesInsideTheBorder) {
  for (TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    TBitmap bitmap(3, 3, format);
    const int bytes = bitmap.BytesPerPixel();
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        for (int c = 0; c < bytes; ++c)
          bitmap.ScanLine(i)[j * bytes + c] = i == 1 && j == 1 ? 10 : i + j == 0 ? 2 : 0;
    Sharpen(bitmap);
    EXPECT_EQ(bitmap.ScanLine(1)[bytes], 29);
    EXPECT_EQ(bitmap.ScanLine(0)[0], 2);
    if (bytes == 4) {
      EXPECT_EQ(bitmap.ScanLine(1)[bytes + 3], 10) << "alpha kept";
    }
  }
}

// The fast kernels against the plain loops, on random pictures whose row padding holds random
// bytes that must survive; twice in a row, to catch any leftover state. Palettes are kept.
TEST_P(FilterKernels, MatchThePlainLoopsOnRandomPictures) {
  std::mt19937 random(29);
  const auto sizes = AwkwardShapes({1, 2, 3, 5}, {64, 65, 67, 97, 128, 130, 200, 1000}, {1, 2, 3});
  for (const Filter& filter : kFilters)
    for (auto [width, height] : sizes)
      for (TPixelFormat format :
           {TPixelFormat::pf8bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
        TBitmap expected = RandomBitmap(width, height, format, random);
        if (format == TPixelFormat::pf8bit)
          expected.SetPalette(TPalette(std::vector<TPaletteEntry>(7, {1, 2, 3, 0})));
        TBitmap actual;
        actual.Assign(expected);
        for (int run = 1; run <= 2; ++run) {
          filter.reference(expected);
          filter.kernel(actual);
          ASSERT_TRUE(SameBitmaps(expected, actual))
              << filter.name << " " << width << "x" << height << "x" << static_cast<int>(format)
              << " run " << run;
        }
      }
}

// Pictures of 4 MB and more are worked on in two bands at once, each reading the rows where they
// meet as they were before the other overwrote them (the Laplacian's first and last too).
TEST(FilterCommands, LargePicturesInTwoBandsMatchThePlainLoops) {
  std::vector<Filter> filters(std::begin(kFilters), std::end(kFilters));
  filters.push_back({"laplacian", Laplacian, ReferenceLaplacian});
  std::mt19937 random(37);
  const struct {
    int width, height;
    TPixelFormat format;
  } pictures[] = {{2050, 2047, TPixelFormat::pf8bit},
                  {1181, 1186, TPixelFormat::pf24bit},
                  {1025, 1023, TPixelFormat::pf32bit}};
  for (const auto& picture : pictures) {
    const TBitmap source = RandomBitmap(picture.width, picture.height, picture.format, random);
    for (const Filter& filter : filters) {
      TBitmap expected, actual;
      expected.Assign(source);
      actual.Assign(source);
      filter.reference(expected);
      filter.kernel(actual);
      EXPECT_TRUE(SameBitmaps(expected, actual))
          << filter.name << " " << picture.width << "x" << picture.height;
    }
  }
}

TEST_P(FilterKernels, InvertInBandsGivesWhatTheWholePictureGives) {
  std::mt19937 random(31);
  for (TPixelFormat format : {TPixelFormat::pf8bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    const TBitmap source = RandomBitmap(37, 11, format, random);
    TBitmap whole;
    whole.Assign(source);
    Invert(whole);
    TBitmap banded = RandomBitmap(37, 11, format, random);
    for (int first = 0; first < 11; first += 4)
      InvertRows(source, banded, first, first + 4);
    EXPECT_EQ(PixelBytes(whole), PixelBytes(banded));
  }
}

CCDLAB_INSTANTIATE_AT_EACH_SIMD_TARGET(FilterKernels);

// In the processed image's "處理" menu in ImageJ's order, each working on the processed image
// or, while that is empty, a copy of the main image.
TEST(FilterCommands, OfferedInImageJsOrderOnTheProcessedImage) {
  std::vector<std::string> words;
  for (const TOperationInfo& info : Operations())
    if (info.menu != nullptr && std::string(info.menu) == "處理")
      words.push_back(info.word);
  EXPECT_EQ(words, (std::vector<std::string>{"smooth", "sharpen", "sobel", "median", "invert"}));
  const TBitmap main = Rows8({{0, 100, 0}});
  TBitmap processed;
  RunStep(*ParseStepWord("invert"), main, processed);
  EXPECT_EQ(RowsOf(processed), (Grid{{255, 155, 255}}));
  RunStep(*ParseStepWord("smooth"), main, processed);
  EXPECT_EQ(RowsOf(processed), (Grid{{222, 222, 222}}));
  EXPECT_EQ(RowsOf(main), (Grid{{0, 100, 0}}));
}

}  // namespace
