// SPDX-License-Identifier: GPL-3.0-or-later
#include "Grayscale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "KernelTesting.h"
#include "Reference.h"

namespace {

struct Colour {
  int red, green, blue;
  int grey;
};

// Worked out by hand from the formula, and the three colours where the sum lands just below a
// whole number, so that a formula over integers alone gives one more.
const Colour kColours[] = {
    {255, 0, 0, 76},      {0, 255, 0, 149}, {0, 0, 255, 29},      {255, 255, 255, 255},
    {0, 0, 0, 0},         {15, 101, 2, 63}, {29, 201, 3, 126},    {30, 202, 4, 127},
    {100, 100, 100, 100}, {1, 1, 1, 1},     {128, 128, 128, 128}, {255, 255, 0, 225},
};

// The x87 unit's computation, step by step, in exact arithmetic: each product and each sum
// rounded to a 64-bit significand, the result to a 53-bit one (to nearest, ties to even), then
// clamped and truncated. Every value here is a whole number of 2^-56ths (the last place of
// 0.114) below 2^64 of them.
using Exact = unsigned __int128;
constexpr int kScale = 56;

Exact ExactWeight(double weight) {
  int exponent = 0;
  const double fraction = std::frexp(weight, &exponent);  // weight = fraction * 2^exponent
  const auto significand = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  return Exact{significand} << (exponent - 53 + kScale);
}

Exact RoundToBits(Exact value, int bits) {
  int length = 0;
  for (Exact v = value; v != 0; v >>= 1)
    ++length;
  if (length <= bits)
    return value;
  const Exact unit = Exact{1} << (length - bits);
  const Exact below = value / unit * unit;
  const Exact rest = value - below;
  const bool up = 2 * rest > unit || (2 * rest == unit && (below / unit) % 2 == 1);
  return up ? below + unit : below;
}

int ExtendedPrecisionGrey(int red, int green, int blue) {
  static const Exact wr = ExactWeight(0.299), wg = ExactWeight(0.587), wb = ExactWeight(0.114);
  const auto x87 = [](Exact v) { return RoundToBits(v, 64); };
  const Exact sum = x87(x87(x87(red * wr) + x87(green * wg)) + x87(blue * wb));
  const Exact t = RoundToBits(sum, 53);
  return t >= Exact{255} << kScale ? 255 : static_cast<int>(t >> kScale);
}

// Grey levels of ColoursToTest() by GreyLevel, in the same order.
const std::vector<std::uint8_t>& ExpectedGreys() {
  static const std::vector<std::uint8_t> greys = [] {
    std::vector<std::uint8_t> all;
    for (std::uint32_t key : ColoursToTest())
      all.push_back(GreyLevel(key >> 16, (key >> 8) & 255, key & 255));
    return all;
  }();
  return greys;
}

TEST(GreyLevel, ColoursWorkedOutByHand) {
  for (const Colour& c : kColours)
    EXPECT_EQ(GreyLevel(c.red, c.green, c.blue), c.grey)
        << c.red << "," << c.green << "," << c.blue;
}

TEST(GreyLevel, EveryGreyStaysItself) {
  for (int v = 0; v < 256; ++v) {
    EXPECT_EQ(GreyLevel(v, v, v), v);
    EXPECT_EQ(GreyLevelInteger(v, v, v), v);
  }
}

// The same sum in double arithmetic loses 65 greys: the precision matters.
TEST(GreyLevel, PlainDoubleArithmeticLosesSixtyFiveGreys) {
  int lost = 0;
  for (int v = 0; v < 256; ++v) {
    volatile double red = v * 0.299, green = v * 0.587, blue = v * 0.114;
    const double t = (red + green) + blue;
    lost += static_cast<int>(t) != v;
    EXPECT_EQ(ExtendedPrecisionGrey(v, v, v), v);
  }
  EXPECT_EQ(lost, 65);
}

TEST(GreyLevel, IsTheExtendedPrecisionResultForAllColours) {
  const std::vector<std::uint32_t>& colours = ColoursToTest();
  const std::vector<std::uint8_t>& greys = ExpectedGreys();
  int wrong = 0;
  for (std::size_t k = 0; k < colours.size() && wrong < 10; ++k) {
    const int r = colours[k] >> 16, g = (colours[k] >> 8) & 255, b = colours[k] & 255;
    const int expected = ExtendedPrecisionGrey(r, g, b);
#if defined(__x86_64__) || defined(__i386__)
    // Where long double is the x87 format, the model is checked against the unit itself.
    const long double extended = (static_cast<long double>(r) * static_cast<long double>(0.299) +
                                  static_cast<long double>(g) * static_cast<long double>(0.587)) +
                                 static_cast<long double>(b) * static_cast<long double>(0.114);
    ASSERT_EQ(expected, static_cast<int>(std::min(static_cast<double>(extended), 255.0)))
        << r << "," << g << "," << b;
#endif
    if (greys[k] != expected) {
      ++wrong;
      ADD_FAILURE() << r << "," << g << "," << b << ": " << int{greys[k]} << " instead of "
                    << expected;
    }
  }
}

TEST(GreyLevel, IntegerFormulaMatchesForAllColours) {
  const std::vector<std::uint32_t>& colours = ColoursToTest();
  const std::vector<std::uint8_t>& greys = ExpectedGreys();
  int wrong = 0;
  for (std::size_t k = 0; k < colours.size() && wrong < 10; ++k) {
    const int r = colours[k] >> 16, g = (colours[k] >> 8) & 255, b = colours[k] & 255;
    if (GreyLevelInteger(r, g, b) != greys[k]) {
      ++wrong;
      ADD_FAILURE() << r << "," << g << "," << b << ": " << int{GreyLevelInteger(r, g, b)}
                    << " instead of " << int{greys[k]};
    }
  }
}

TBitmap IndexedOf(const std::vector<TPaletteEntry>& palette,
                  const std::vector<std::vector<int>>& rows) {
  TBitmap bitmap = Rows8(rows);
  bitmap.SetPalette(TPalette(palette));
  return bitmap;
}

TBitmap Converted(const TBitmap& source) {
  TBitmap result;
  ConvertToGrey(source, result);
  return result;
}

void ExpectGreyBitmap(const TBitmap& result, int width, int height) {
  EXPECT_EQ(result.Width(), width);
  EXPECT_EQ(result.Height(), height);
  EXPECT_EQ(result.PixelFormat(), TPixelFormat::pf8bit);
  ASSERT_NE(result.Palette(), nullptr);
  EXPECT_EQ(*result.Palette(), TPalette::Grey());
}

class Grayscale : public AtEachSimdTarget {};

TEST_P(Grayscale, PaletteColoursAndTrueColoursGiveTheirGrey) {
  std::vector<TPaletteEntry> palette;
  std::vector<int> indexes;
  for (const Colour& c : kColours) {
    indexes.push_back(static_cast<int>(palette.size()));
    palette.push_back({static_cast<std::uint8_t>(c.red), static_cast<std::uint8_t>(c.green),
                       static_cast<std::uint8_t>(c.blue), 0});
  }
  const int n = static_cast<int>(std::size(kColours));
  // Each colour many times over, so that the wide kernels meet it in every lane.
  for (TPixelFormat format : {TPixelFormat::pf8bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    TBitmap source(n * 70, 2, format);
    if (format == TPixelFormat::pf8bit)
      source.SetPalette(TPalette(palette));
    for (int i = 0; i < 2; ++i)
      for (int k = 0; k < source.Width(); ++k) {
        const Colour& c = kColours[(k + i) % n];
        std::uint8_t* p = source.ScanLine(i) + k * source.BytesPerPixel();
        if (format == TPixelFormat::pf8bit) {
          p[0] = static_cast<std::uint8_t>((k + i) % n);
        } else {
          p[0] = static_cast<std::uint8_t>(c.blue);
          p[1] = static_cast<std::uint8_t>(c.green);
          p[2] = static_cast<std::uint8_t>(c.red);
          if (format == TPixelFormat::pf32bit)
            p[3] = static_cast<std::uint8_t>(k * 37);  // alpha plays no part
        }
      }
    const TBitmap result = Converted(source);
    ExpectGreyBitmap(result, n * 70, 2);
    for (int i = 0; i < 2; ++i)
      for (int k = 0; k < result.Width(); ++k)
        ASSERT_EQ(result.ScanLine(i)[k], kColours[(k + i) % n].grey)
            << "depth " << static_cast<int>(format) << " row " << i << " pixel " << k;
  }
}

TEST_P(Grayscale, EveryGreyPaletteEntryAndEveryGreyPixelStaysItself) {
  TBitmap indexed(256, 1, TPixelFormat::pf8bit);
  indexed.SetPalette(TPalette::Grey());
  TBitmap colour(256, 1, TPixelFormat::pf24bit);
  for (int v = 0; v < 256; ++v) {
    indexed.ScanLine(0)[v] = static_cast<std::uint8_t>(v);
    for (int c = 0; c < 3; ++c)
      colour.ScanLine(0)[3 * v + c] = static_cast<std::uint8_t>(v);
  }
  for (const TBitmap* source : {&indexed, &colour}) {
    const TBitmap result = Converted(*source);
    for (int v = 0; v < 256; ++v)
      ASSERT_EQ(result.ScanLine(0)[v], v);
  }
}

// Every colour once, in every lane position of the wide kernels, against the extended-precision
// formula.
TEST_P(Grayscale, AllColoursAsTrueColourPixels) {
  const std::vector<std::uint32_t>& colours = ColoursToTest();
  const std::vector<std::uint8_t>& greys = ExpectedGreys();
  const int count = static_cast<int>(colours.size());
  for (TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    // 4099 is odd and prime: row starts move through every lane and alignment.
    const int width = 4099;
    const int height = (count + width - 1) / width;
    TBitmap source(width, height, format);
    const int bytes = source.BytesPerPixel();
    for (int k = 0; k < count; ++k) {
      std::uint8_t* p = source.ScanLine(k / width) + (k % width) * bytes;
      p[0] = static_cast<std::uint8_t>(colours[k]);
      p[1] = static_cast<std::uint8_t>(colours[k] >> 8);
      p[2] = static_cast<std::uint8_t>(colours[k] >> 16);
      if (bytes == 4)
        p[3] = static_cast<std::uint8_t>(k * 7);
    }
    const TBitmap result = Converted(source);
    int wrong = 0;
    for (int k = 0; k < count && wrong < 10; ++k) {
      const std::uint8_t grey = result.ScanLine(k / width)[k % width];
      if (grey != greys[k]) {
        ++wrong;
        ADD_FAILURE() << "depth " << bytes * 8 << " colour " << std::hex << colours[k] << ": "
                      << std::dec << int{grey} << " instead of " << int{greys[k]};
      }
    }
  }
}

// Indexes 3 … 9 lie beyond the palette: they repeat the grey last looked up, in scan order and
// across rows, and 255 before any lookup succeeded.
TEST_P(Grayscale, IndexBeyondAShortPaletteRepeatsTheLastGreyInScanOrder) {
  const std::vector<TPaletteEntry> palette = {{255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}};
  const TBitmap source = IndexedOf(palette, {{5, 0, 7, 1, 9}, {8, 2, 3, 0, 4}, {6, 6, 6, 6, 6}});
  const TBitmap result = Converted(source);
  ExpectGreyBitmap(result, 5, 3);
  EXPECT_EQ(RowsOf(result),
            (std::vector<std::vector<int>>{
                {255, 76, 76, 149, 149}, {149, 29, 29, 76, 76}, {76, 76, 76, 76, 76}}));
}

TEST_P(Grayscale, ShortPaletteCarriesTheGreyAcrossWideRows) {
  // Rows wide enough for the vector kernels: the first only in the palette, ending on entry 1;
  // the second starts beyond it.
  const std::vector<TPaletteEntry> palette = {{255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}};
  std::vector<std::vector<int>> rows(2, std::vector<int>(300, 0));
  for (int k = 0; k < 300; ++k)
    rows[0][k] = k % 3;
  rows[0][299] = 1;
  rows[1][0] = 200;
  rows[1][1] = 2;
  rows[1][2] = 255;
  const TBitmap result = Converted(IndexedOf(palette, rows));
  const int greys[3] = {76, 149, 29};
  for (int k = 0; k < 299; ++k)
    ASSERT_EQ(result.ScanLine(0)[k], greys[k % 3]) << k;
  EXPECT_EQ(result.ScanLine(0)[299], 149);
  EXPECT_EQ(result.ScanLine(1)[0], 149);
  EXPECT_EQ(result.ScanLine(1)[1], 29);
  EXPECT_EQ(result.ScanLine(1)[2], 29);
  EXPECT_EQ(result.ScanLine(1)[3], 76);
}

TEST_P(Grayscale, EmptyPaletteMakesEveryPixelWhite) {
  const TBitmap result = Converted(IndexedOf({}, {{0, 1, 2}, {3, 255, 7}}));
  EXPECT_EQ(RowsOf(result), (std::vector<std::vector<int>>{{255, 255, 255}, {255, 255, 255}}));
}

TEST_P(Grayscale, EightBitWithoutPaletteIsReadAsGreyLevels) {
  const TBitmap result = Converted(Rows8({{0, 1, 128}, {254, 255, 9}}));
  ExpectGreyBitmap(result, 3, 2);
  EXPECT_EQ(RowsOf(result), (std::vector<std::vector<int>>{{0, 1, 128}, {254, 255, 9}}));
}

TEST_P(Grayscale, EmptySourceGivesAnEmptyGreyBitmap) {
  for (auto [width, height] : {std::pair{0, 0}, std::pair{5, 0}, std::pair{0, 3}}) {
    for (TPixelFormat format :
         {TPixelFormat::pf8bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
      TBitmap source(width, height, format);
      TBitmap result(4, 4, TPixelFormat::pf24bit);  // whatever it held is replaced
      ConvertToGrey(source, result);
      ExpectGreyBitmap(result, width, height);
      EXPECT_TRUE(result.Empty());
    }
  }
}

TEST_P(Grayscale, ResultReplacesWhateverTheTargetHeld) {
  std::mt19937 random(7);
  const TBitmap source = RandomBitmap(9, 5, TPixelFormat::pf32bit, random);
  for (auto [width, height, format] :
       {std::tuple{9, 5, TPixelFormat::pf8bit}, std::tuple{9, 5, TPixelFormat::pf24bit},
        std::tuple{3, 70, TPixelFormat::pf8bit}, std::tuple{0, 0, TPixelFormat::pf32bit}}) {
    TBitmap result = RandomBitmap(width, height, format, random);
    result.SetPalette(TPalette({{1, 2, 3, 0}}));
    ConvertToGrey(source, result);
    ExpectGreyBitmap(result, 9, 5);
    EXPECT_EQ(RowsOf(result), RowsOf(Converted(source)));
  }
}

TEST_P(Grayscale, SourceIsNeverModified) {
  std::mt19937 random(3);
  for (TPixelFormat format : {TPixelFormat::pf8bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    TBitmap source = RandomBitmap(70, 3, format, random);
    if (format == TPixelFormat::pf8bit)
      source.SetPalette(TPalette::Grey());
    TBitmap before;
    before.Assign(source);
    Converted(source);
    EXPECT_TRUE(SameBitmaps(before, source));
  }
}

TEST_P(Grayscale, ConvertingABitmapIntoItselfGivesItsGreyImage) {
  std::mt19937 random(4);
  TBitmap bitmap = RandomBitmap(33, 7, TPixelFormat::pf24bit, random);
  const TBitmap expected = Converted(bitmap);
  ConvertToGrey(bitmap, bitmap);
  EXPECT_TRUE(SameBitmaps(expected, bitmap));
}

// The fast kernels against the plain loop on random pictures of every awkward size and kind.
TEST_P(Grayscale, MatchesThePlainLoopOnRandomPictures) {
  std::mt19937 random(2024);
  const auto sizes = AwkwardShapes({1, 2, 3, 5, 67}, {100, 127, 128, 129, 200, 1000}, {2});

  enum Kind { FullPalette, ShortPalette, MostlyInShortPalette, NoPalette, Colour24, Colour32 };
  for (auto [width, height] : sizes) {
    for (Kind kind :
         {FullPalette, ShortPalette, MostlyInShortPalette, NoPalette, Colour24, Colour32}) {
      const TPixelFormat format = kind == Colour24   ? TPixelFormat::pf24bit
                                  : kind == Colour32 ? TPixelFormat::pf32bit
                                                     : TPixelFormat::pf8bit;
      TBitmap source = RandomBitmap(width, height, format, random);
      if (kind == FullPalette || kind == ShortPalette || kind == MostlyInShortPalette) {
        const int entries = kind == FullPalette ? 256 : kind == ShortPalette ? 150 : 250;
        std::vector<TPaletteEntry> palette(entries);
        for (auto& e : palette)
          e = {static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
               static_cast<std::uint8_t>(random()), 0};
        source.SetPalette(TPalette(palette));
        if (kind == MostlyInShortPalette)
          for (int i = 0; i < height; ++i)
            for (int k = 0; k < width; ++k) {
              std::uint8_t& index = source.ScanLine(i)[k];
              index = random() % 97 == 0 ? static_cast<std::uint8_t>(250 + random() % 6)
                                         : static_cast<std::uint8_t>(index % 250);
            }
      }
      TBitmap expected;
      ReferenceConvertToGrey(source, expected);
      const TBitmap actual = Converted(source);
      ASSERT_TRUE(SameBitmaps(expected, actual)) << width << "x" << height << " kind " << kind;
      // In bands of two rows, as rows come from a picture being read.
      TBitmap banded(width, height, TPixelFormat::pf8bit);
      banded.SetPalette(TPalette::Grey());
      for (int first = 0; first < height; first += 2)
        ConvertToGreyRows(source, banded, first, std::min(first + 2, height));
      ASSERT_TRUE(SameBitmaps(expected, banded)) << width << "x" << height << " kind " << kind;
    }
  }
}

CCDLAB_INSTANTIATE_AT_EACH_SIMD_TARGET(Grayscale);

}  // namespace
