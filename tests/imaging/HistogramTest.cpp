// SPDX-License-Identifier: GPL-3.0-or-later
#include "Histogram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "KernelTesting.h"
#include "Threshold.h"

namespace {

using Occurring = std::map<int, std::uint64_t>;

// The values that occur, with their counts.
Occurring Nonzero(const THistogram::Counts& counts) {
  Occurring occurring;
  for (int v = 0; v < THistogram::Levels; ++v)
    if (counts[v] != 0)
      occurring[v] = counts[v];
  return occurring;
}

TBitmap Bytes(int width, TPixelFormat format, const std::vector<int>& bytes) {
  TBitmap bitmap(width, 1, format);
  std::copy(bytes.begin(), bytes.end(), bitmap.ScanLine(0));
  return bitmap;
}

TEST(Histogram, CountsEachChannelOfAKnownPicture) {
  struct Case {
    const char* name;
    TBitmap bitmap;
    std::vector<Occurring> channels;  // blue, green, red, alpha
    Occurring brightest;
  };
  Case cases[] = {
      {"8-bit",
       Bytes(6, TPixelFormat::pf8bit, {5, 5, 0, 255, 5, 7}),
       {{{0, 1}, {5, 3}, {7, 1}, {255, 1}}},
       {{0, 1}, {5, 3}, {7, 1}, {255, 1}}},
      {"24-bit",
       Bytes(3, TPixelFormat::pf24bit, {10, 20, 30, 40, 5, 5, 10, 10, 10}),
       {{{10, 2}, {40, 1}}, {{5, 1}, {10, 1}, {20, 1}}, {{5, 1}, {10, 1}, {30, 1}}},
       {{10, 1}, {30, 1}, {40, 1}}},
      // Alpha has a curve of its own but does not count towards the brightest byte.
      {"32-bit",
       Bytes(2, TPixelFormat::pf32bit, {1, 2, 3, 200, 9, 9, 9, 0}),
       {{{1, 1}, {9, 1}}, {{2, 1}, {9, 1}}, {{3, 1}, {9, 1}}, {{0, 1}, {200, 1}}},
       {{3, 1}, {9, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const THistogram h = ComputeHistogram(c.bitmap);
    EXPECT_EQ(h.pixels, static_cast<std::uint64_t>(c.bitmap.Width()));
    ASSERT_EQ(h.channels, static_cast<int>(c.channels.size()));
    for (int k = 0; k < h.channels; ++k)
      EXPECT_EQ(Nonzero(h.channel[k]), c.channels[k]) << "channel " << k;
    EXPECT_EQ(Nonzero(h.brightest), c.brightest);
  }
  const THistogram none = ComputeHistogram(TBitmap());
  EXPECT_EQ(none.pixels, 0u);
  EXPECT_EQ(none.channels, 0);
}

// Widths around the unrolled loops' steps, every padding byte random: only pixels are counted,
// each once, in its own channel.
TEST(Histogram, AgreesWithCountingPixelByPixel) {
  std::mt19937 random(17);
  for (const TPixelFormat format :
       {TPixelFormat::pf8bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    for (const int width : {1, 2, 3, 7, 8, 9, 15, 16, 17, 33}) {
      SCOPED_TRACE(testing::Message() << static_cast<int>(format) << " bits, width " << width);
      const TBitmap bitmap = RandomBitmap(width, 5, format, random);
      const int channels = bitmap.BytesPerPixel();
      THistogram expected;
      for (int i = 0; i < bitmap.Height(); ++i) {
        for (int j = 0; j < width; ++j) {
          const std::uint8_t* p = bitmap.ScanLine(i) + j * channels;
          for (int k = 0; k < channels; ++k)
            ++expected.channel[k][p[k]];
          ++expected.brightest[*std::max_element(p, p + std::min(channels, 3))];
        }
      }
      const THistogram h = ComputeHistogram(bitmap);
      for (int k = 0; k < channels; ++k)
        EXPECT_EQ(h.channel[k], expected.channel[k]) << "channel " << k;
      EXPECT_EQ(h.brightest, expected.brightest);
    }
  }
}

// Black-and-white rows are counted apart; a grey byte anywhere in a row, before or after its
// first 64, sends the row back to counting byte by byte.
TEST(Histogram, BlackAndWhiteRowsCountedAsTheyHold) {
  std::mt19937 random(3);
  struct Case {
    int width;
    int greyAt;  // column of one grey byte in the middle row; -1: none
  };
  for (const Case c : {Case{1, -1}, {63, -1}, {64, 10}, {65, 64}, {200, -1}, {200, 199}}) {
    SCOPED_TRACE(testing::Message() << "width " << c.width << ", grey at " << c.greyAt);
    TBitmap bitmap(c.width, 3, TPixelFormat::pf8bit);
    THistogram::Counts expected{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < c.width; ++j) {
        const std::uint8_t v = i == 1 && j == c.greyAt ? 128 : (random() & 1) * 255;
        bitmap.ScanLine(i)[j] = v;
        ++expected[v];
      }
    EXPECT_EQ(ComputeHistogram(bitmap).channel[0], expected);
  }
}

// The share the threshold dialog announces is what thresholding then turns black.
TEST(Histogram, CountBelowTheThresholdIsWhatTurnsBlack) {
  std::mt19937 random(5);
  for (const TPixelFormat format :
       {TPixelFormat::pf8bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    const TBitmap picture = RandomBitmap(37, 11, format, random);
    const THistogram h = ComputeHistogram(picture);
    for (const int t : {-3, 0, 1, 77, 128, 255, 256, 999}) {
      TBitmap black;
      black.Assign(picture);
      Threshold(black, t);
      std::uint64_t turned = 0;
      for (int i = 0; i < black.Height(); ++i)
        for (int j = 0; j < black.Width(); ++j) {
          const std::uint8_t* p = black.ScanLine(i) + j * black.BytesPerPixel();
          turned += std::all_of(p, p + std::min(black.BytesPerPixel(), 3),
                                [](std::uint8_t b) { return b == 0; });
        }
      EXPECT_EQ(CountBelow(h.brightest, t), turned)
          << static_cast<int>(format) << " bits, threshold " << t;
    }
  }
}

}  // namespace
