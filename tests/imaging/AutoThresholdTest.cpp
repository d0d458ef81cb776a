// SPDX-License-Identifier: GPL-3.0-or-later
#include "AutoThreshold.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <utility>

#include "KernelTesting.h"

namespace {

using Counts = THistogram::Counts;
constexpr int N = -1;  // no threshold

Counts Levels(std::initializer_list<std::pair<int, std::uint64_t>> levels) {
  Counts h{};
  for (const auto& [v, n] : levels)
    h[v] = n;
  return h;
}

Counts Uniform() {
  Counts h;
  h.fill(100);
  return h;
}

// Two triangles of 39 levels, peaking at 60 and 190, nothing between 80 and 170.
Counts TwoPeaks() {
  Counts h{};
  for (int v = 0; v < THistogram::Levels; ++v)
    h[v] = 50 * static_cast<std::uint64_t>(std::max(0, 20 - std::abs(v - 60)) +
                                           std::max(0, 20 - std::abs(v - 190)));
  return h;
}

// Two overlapping normal curves, 3:1, at 70 and 180.
Counts Mixture(double scale = 1) {
  Counts h{};
  for (int v = 0; v < THistogram::Levels; ++v)
    h[v] = static_cast<std::uint64_t>(
        scale * static_cast<int>(3000 * std::exp(-(v - 70) * (v - 70) / 450.0) +
                                 1000 * std::exp(-(v - 180) * (v - 180) / 1250.0)));
  return h;
}

TEST(AutoThreshold, GivesImageJsThresholds) {
  struct Case {
    const char* name;
    Counts histogram;
    // In ImageJ's order: Default, Huang, Intermodes, IsoData, Li, MaxEntropy, Mean, MinError,
    // Minimum, Moments, Otsu, Percentile, RenyiEntropy, Shanbhag, Triangle, Yen.
    int t[16];
  };
  const Case cases[] = {
      {"nothing counted", Counts{}, {N, N, N, N, N, N, N, N, N, N, N, N, N, N, N, N}},
      // One or two levels: ImageJ cuts just below the upper one, whatever the method.
      {"one level",
       Levels({{100, 1000}}),
       {99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99}},
      {"two levels",
       Levels({{10, 300}, {200, 700}}),
       {199, 199, 199, 199, 199, 199, 199, 199, 199, 199, 199, 199, 199, 199, 199, 199}},
      {"black and white",
       Levels({{0, 300}, {255, 700}}),
       {254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254}},
      // Only level 0: ImageJ runs the methods, most of which find nothing (0); IJ_IsoData's
      // empty middle gives 128, Otsu Integer.MIN_VALUE, Triangle its flipped ramp. As ImageJ's
      // code gives them.
      {"black only", Levels({{0, 1000}}), {128, 0, 0, 0, 0, 0, 0, 0, 0, 0, N, 0, 0, 0, 2, 0}},
      // Symmetric: the methods that balance the two halves cut after 127. Intermodes and Minimum
      // never get two peaks (ImageJ's "none", 0); Li's iteration stops at 103; Triangle's line
      // from the top of the flipped histogram is farthest from its last level. Huang and
      // Moments as ImageJ's code gives them.
      {"uniform",
       Uniform(),
       {127, 128, 0, 127, 103, 127, 127, 127, 0, 128, 127, 127, 127, 127, 1, 127}},
      // Intermodes halfway between the peaks, Minimum at the valley's first level, Otsu and
      // Percentile at the first peak's last level, Li at the logarithmic mean of 60 and 190,
      // the IsoData methods at their mean. The entropy ones, Moments and Triangle as ImageJ's
      // code gives them.
      {"two separate peaks",
       TwoPeaks(),
       {125, 79, 125, 125, 113, 79, 125, 125, 80, 79, 79, 79, 79, 79, 81, 79}},
      // As ImageJ's code gives them.
      {"two overlapping peaks",
       Mixture(),
       {126, 120, 125, 125, 117, 101, 109, 112, 117, 136, 125, 81, 103, 155, 110, 96}},
  };
  for (const Case& c : cases) {
    for (const TThresholdMethodInfo& info : ThresholdMethods()) {
      SCOPED_TRACE(testing::Message() << c.name << ", " << info.name);
      const int expected = c.t[static_cast<int>(info.method)];
      const std::optional<int> t = ImageJThreshold(info.method, c.histogram);
      EXPECT_EQ(t.value_or(N), expected);
      EXPECT_EQ(AutoThreshold(info.method, c.histogram),
                expected == N ? std::nullopt : std::optional<int>(expected + 1));
    }
  }
}

// A 24-megapixel picture's counts: ImageJ's int sums of level × count overflow there (Huang, Li,
// IsoData, MinError); ours give what the same shape at a thousandth of the counts gives.
TEST(AutoThreshold, LargeCountsKeepTheShapesThreshold) {
  const Counts small = Mixture();
  const Counts large = Mixture(1000);
  for (const TThresholdMethodInfo& info : ThresholdMethods()) {
    SCOPED_TRACE(info.name);
    EXPECT_EQ(ImageJThreshold(info.method, large), ImageJThreshold(info.method, small));
  }
}

TEST(AutoThreshold, MethodsByName) {
  ASSERT_EQ(ThresholdMethods().size(), 16u);
  for (const TThresholdMethodInfo& info : ThresholdMethods()) {
    EXPECT_EQ(ThresholdMethodNamed(info.word), info.method);
    EXPECT_EQ(&ThresholdMethodInfo(info.method), &info);
  }
  EXPECT_EQ(ThresholdMethodNamed("renyientropy"), TThresholdMethod::RenyiEntropy);
  EXPECT_EQ(ThresholdMethodNamed("Otsu"), TThresholdMethod::Otsu);
  EXPECT_EQ(ThresholdMethodNamed("RENYIENTROPY"), TThresholdMethod::RenyiEntropy);
  EXPECT_EQ(ThresholdMethodNamed("otsü"), std::nullopt);
  EXPECT_EQ(ThresholdMethodNamed("otsu "), std::nullopt);
  EXPECT_EQ(ThresholdMethodNamed(""), std::nullopt);
}

// The bytes a threshold works on, counted pixel by pixel: alpha and row padding left out.
TEST(AutoThreshold, HistogramCountsTheColourBytes) {
  std::mt19937 random(5);
  for (const TPixelFormat format :
       {TPixelFormat::pf8bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    // The last: a picture large enough to be counted in two halves, of an odd height.
    for (const auto& [width, height] : {std::pair{1, 3},
                                        {2, 3},
                                        {3, 3},
                                        {5, 3},
                                        {8, 3},
                                        {9, 3},
                                        {17, 3},
                                        {31, 3},
                                        {1501, 1001}}) {
      SCOPED_TRACE(testing::Message() << static_cast<int>(format) << " bits, width " << width);
      const TBitmap bitmap = RandomBitmap(width, height, format, random);
      Counts expected{};
      for (int i = 0; i < bitmap.Height(); ++i)
        for (std::size_t j = 0; j < bitmap.RowBytes(); ++j)
          if (format != TPixelFormat::pf32bit || j % 4 != 3)
            ++expected[bitmap.ScanLine(i)[j]];
      EXPECT_EQ(ThresholdHistogram(bitmap), expected);
    }
  }
  TBitmap argb(2, 1, TPixelFormat::pf32bit);
  const std::uint8_t pixels[] = {1, 2, 3, 200, 9, 9, 9, 0};
  std::copy(std::begin(pixels), std::end(pixels), argb.ScanLine(0));
  EXPECT_EQ(ThresholdHistogram(argb), Levels({{1, 1}, {2, 1}, {3, 1}, {9, 3}}));
  EXPECT_EQ(ThresholdHistogram(TBitmap()), Counts{});
}

}  // namespace
